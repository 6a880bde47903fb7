// Paths as the Windows file system resolves them: junctions, symbolic links and "..", for the host
// files that must know where a path really lands. Windows files only; any thread.
#pragma once

#include <windows.h>

#include <string>

#include "os/base/Win32Text.h"

namespace os::win32 {

// The path of an existing file or folder with every link and junction on the way followed, as a
// plain drive path ("C:\a\b"); empty when it cannot be opened.
inline std::wstring FinalPath(const std::wstring& path) {
  Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.IsValid()) return {};
  std::wstring out(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n =
        GetFinalPathNameByHandleW(h.Get(), out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
    if (n == 0) return {};
    if (n < out.size()) {
      out.resize(n);
      break;
    }
    out.assign(n + 1, L'\0');
  }
  // "\\?\C:\x" is C:\x; "\\?\UNC\server\share" is \\server\share.
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + out.substr(7);
  if (out.rfind(L"\\\\?\\", 0) == 0) return out.substr(4);
  return out;
}

inline std::string FinalPath(const std::string& path) { return Narrow(FinalPath(Wide(path))); }

// True when the file or folder at path is a reparse point (a junction, a symbolic link, a mount
// point) itself, not what it leads to; false when there is nothing at path.
inline bool IsReparsePoint(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether path lies strictly inside root (or is root, when allowEqual), both resolved, compared
// without regard to case like the file system does.
inline bool PathWithin(const std::wstring& path, const std::wstring& root, bool allowEqual) {
  std::wstring r = root;
  while (r.size() > 3 && IsPathSeparator(r.back())) r.pop_back();
  if (r.empty() || path.size() < r.size()) return false;
  if (CompareStringOrdinal(path.data(), static_cast<int>(r.size()), r.data(), static_cast<int>(r.size()), TRUE) !=
      CSTR_EQUAL)
    return false;
  if (path.size() == r.size()) return allowEqual;
  return IsPathSeparator(r.back()) || IsPathSeparator(path[r.size()]);
}

// Moves the file from over the file to, flushed through to the disk (MOVEFILE_WRITE_THROUGH). A
// read-only file at to is replaced all the same, as a rename replaces it elsewhere: its attribute
// is lifted for the move and put back when the move fails. ERROR_SUCCESS or the failure's code.
inline DWORD ReplaceByMove(const std::wstring& from, const std::wstring& to) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return ERROR_SUCCESS;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) || !SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return code;
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return ERROR_SUCCESS;
  const DWORD again = GetLastError();
  SetFileAttributesW(to.c_str(), attributes);
  return again;
}

}  // namespace os::win32
