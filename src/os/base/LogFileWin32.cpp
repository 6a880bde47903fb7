#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "os/base/LogFile.h"
#include "os/base/Win32Text.h"
#include "os/base/WriteAll.h"

namespace os {

LogFile::Opened LogFile::Open(const std::string& path, bool create) {
  Close();
  // Appending only, never inherited by a started process (no inheritable security attributes),
  // shared for reading so that the user can look at it while the launcher runs. A reparse point
  // (a symbolic link or junction) is opened as itself and then refused, never followed.
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE h =
      CreateFileW(win32::Wide(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &security,
                  create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Opened::Missing : Opened::Failed;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(h);
    return Opened::Failed;
  }
  // The C runtime's descriptor owns the handle from here on (closed with _close).
  handle_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY | _O_WRONLY);
  if (handle_ < 0) {
    CloseHandle(h);
    return Opened::Failed;
  }
  return Opened::Yes;
}

void LogFile::Restart() {
  if (handle_ < 0) return;
  // Modes do not apply on Windows: the file keeps the security its folder gives it.
  if (_chsize_s(handle_, 0) != 0) {
    // Nothing to report to: the log itself is what failed. Lines are still appended.
  }
}

bool LogFile::Append(const char* data, size_t size) { return handle_ >= 0 && WriteAll(handle_, data, size) == 0; }

void LogFile::Close() {
  if (handle_ >= 0) _close(handle_);
  handle_ = -1;
}

bool LogFile::DirectoryExists(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  if (dir.empty() || (dir.size() == 2 && dir[1] == ':')) dir += '\\';  // a drive's root
  const DWORD attributes = GetFileAttributesW(win32::Wide(dir).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace os
