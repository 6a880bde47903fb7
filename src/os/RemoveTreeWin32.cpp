#include <windows.h>

#include <string>

#include "os/RemoveTree.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

constexpr DWORD kLinkOrFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// Opens a folder itself (never what a junction or link there leads to) and keeps it from being
// renamed or removed by anyone else while it is held: the folder that is emptied is the one that
// was checked, even if something tries to swap it for a junction meanwhile. Invalid when it is
// not a plain folder.
win32::Handle HoldFolder(const std::wstring& path) {
  win32::Handle h(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.IsValid() || !GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & kLinkOrFolder) != FILE_ATTRIBUTE_DIRECTORY)
    return win32::Handle();
  return h;
}

struct FindCloser {
  HANDLE h;
  ~FindCloser() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};

// Empties the folder at path. A junction or a folder link is removed as the link (RemoveDirectory
// of the link, which leaves its target alone), a file link as the link (DeleteFile).
void RemoveEntries(const std::wstring& path, const RemoveTreeVisitor& onDirectory) {
  win32::Handle held = HoldFolder(path);
  if (!held.IsValid()) return;
  WIN32_FIND_DATAW entry{};
  FindCloser find{
      FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0)};
  if (find.h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = path + L"\\" + name;
    const DWORD kind = entry.dwFileAttributes & kLinkOrFolder;
    if (kind == FILE_ATTRIBUTE_DIRECTORY) {
      if (onDirectory) onDirectory(win32::Narrow(child));
      RemoveEntries(child, onDirectory);
      RemoveDirectoryW(child.c_str());
    } else if (kind == kLinkOrFolder) {
      RemoveDirectoryW(child.c_str());
    } else {
      // Read-only files are not made writable: they stay, and so does their folder.
      DeleteFileW(child.c_str());
    }
  } while (FindNextFileW(find.h, &entry));
}

}  // namespace

bool RemoveTree(const std::string& dir, const RemoveTreeVisitor& onDirectory) {
  if (onDirectory) onDirectory(dir);
  std::wstring self = win32::Wide(dir);
  while (self.size() > 3 && (self.back() == L'\\' || self.back() == L'/')) self.pop_back();
  // Only a plain folder: a junction, a link or a file at dir is not touched.
  const DWORD attributes = GetFileAttributesW(self.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kLinkOrFolder) != FILE_ATTRIBUTE_DIRECTORY) return false;
  RemoveEntries(self, onDirectory);
  return RemoveDirectoryW(self.c_str()) != 0;
}

}  // namespace os
