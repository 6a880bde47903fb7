#include <windows.h>

#include "os/FileMove.h"
#include "os/base/Win32Text.h"

namespace os {

// Windows keeps no Unix permission bits: the mode is not used.
int MoveFileOver(const std::string& from, const std::string& to, unsigned) {
  return MoveFileExW(win32::Wide(from).c_str(), win32::Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : win32::LastErrno();
}

}  // namespace os
