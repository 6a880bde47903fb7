// Names compared without regard to case, as Windows (and Wine's registry) compares them.
#pragma once

#include <string>

namespace os {

// The UTF-8 text folded for caseless comparison (two texts that differ only in case fold to the
// same text). Text that cannot be folded comes back unchanged. Any thread.
std::string FoldCase(const std::string& utf8);

}  // namespace os
