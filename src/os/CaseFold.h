// Text compared without regard to case the way Wine and Windows compare registry names: both
// sides folded, then compared byte for byte. Any thread.
#pragma once

#include <string>

namespace os {

// The UTF-8 text with its case folded; the text itself when it cannot be folded.
std::string FoldCase(const std::string& utf8);

}  // namespace os
