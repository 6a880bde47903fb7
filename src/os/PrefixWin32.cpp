#include <windows.h>

#include "os/Prefix.h"
#include "os/base/Win32Text.h"

namespace os {

// The real drives: "C:" and "D:" (joined with a separator, "C:\qvx-harlu7").
std::string DriveRoot(char letter) { return std::string(1, letter) + ":"; }

// A drive exists when its root is a directory: a fixed or removable disk, not an empty card reader
// or a letter nothing is mapped to.
bool DriveExists(char letter) {
  const std::wstring root = win32::Wide(DriveRoot(letter) + "\\");
  const UINT type = GetDriveTypeW(root.c_str());
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return false;
  // Without the system's "insert a disk" dialog for an empty drive.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const DWORD attributes = GetFileAttributesW(root.c_str());
  SetErrorMode(previous);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace os
