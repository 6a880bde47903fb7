// The smallest file the launcher takes for a Windows executable: an MZ header whose e_lfanew
// points at a PE signature right after it.
#pragma once

#include <string>

inline std::string SmallestWindowsExecutable() {
  std::string header(0x40, '\0');
  header[0] = 'M';
  header[1] = 'Z';
  header[0x3C] = 0x40;  // e_lfanew
  return header + std::string("PE\0\0", 4);
}
