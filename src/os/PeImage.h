// Recognising a Windows executable (a PE image) by its headers, without running it.
#pragma once

#include <string>

namespace os {

// True when the file starts with an MZ header whose e_lfanew field points, inside the file, at
// the "PE\0\0" signature. Any thread.
bool IsWindowsExecutable(const std::string& path);

}  // namespace os
