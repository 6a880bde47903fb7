#include <windows.h>

#include <cerrno>

#include "os/ContainedFolders.h"
#include "os/FileSystem.h"
#include "os/base/Win32Path.h"
#include "os/base/Win32Text.h"

namespace os {

ContainedFolders::ContainedFolders(const std::string& root) : root_(root), realRoot_(win32::FinalPath(root)) {
  if (realRoot_.empty()) error_ = win32::LastErrno() != 0 ? win32::LastErrno() : ENOENT;
}

bool ContainedFolders::Inside(const std::string& path) const {
  const std::wstring real = win32::FinalPath(win32::Wide(path));
  return !real.empty() && win32::PathWithin(real, win32::Wide(realRoot_), true);
}

// Entry names are '/'-separated; a '\' inside a part would be a separator here: refused like "..".
int ContainedFolders::Make(const std::string& relative) {
  if (error_ != 0) return error_;
  if (!relative.empty() && (relative[0] == '/' || relative[0] == '\\')) return EINVAL;
  std::string done;
  std::string path = root_;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.find_first_of("\\:") != std::string::npos) return EINVAL;
    done = done.empty() ? part : done + "/" + part;
    path = JoinPath(path, part);
    if (made_.count(done)) continue;

    const std::wstring wide = win32::Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return win32::ErrnoOf(code);
      // Its parent is a folder inside the root (checked above), so the new one is too.
      if (CreateDirectoryW(wide.c_str(), nullptr)) {
        made_.insert(done);
        continue;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) return win32::LastErrno();
      attributes = GetFileAttributesW(wide.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return win32::LastErrno();
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A junction or link is followed only where it ends in a folder of the root.
      if (!Inside(path)) return kLeadsOutside;
      attributes = GetFileAttributesW(win32::FinalPath(wide).c_str());  // of what it leads to
      if (attributes == INVALID_FILE_ATTRIBUTES) return win32::LastErrno();
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
    made_.insert(done);
  }
  return 0;
}

}  // namespace os
