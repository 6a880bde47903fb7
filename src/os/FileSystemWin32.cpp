#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "os/FileSystem.h"
#include "os/base/Win32Path.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

DWORD Attributes(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(win32::Wide(path).c_str());
}

// Writes all bytes to a handle; false with the error left in GetLastError.
bool WriteWhole(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, data, want, &n, nullptr)) return false;
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);  // no progress: never spin on it
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

// Whether two paths name the same existing file (same volume, same file index).
bool SameFile(const std::wstring& a, const std::wstring& b) {
  auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    win32::Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.IsValid() && GetFileInformationByHandle(h.Get(), &info);
  };
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return identity(a, x) && identity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (IsSeparator(dir.back())) return dir + name;
  return dir + "\\" + name;
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeDirectory(const std::string& path) {
  return CreateDirectoryW(win32::Wide(path).c_str(), nullptr) ? 0 : win32::LastErrno();
}

int MakeDirectories(const std::string& path) {
  if (path.empty()) return EINVAL;
  if (IsDirectory(path)) return 0;
  const std::string parent = DirName(path);
  // A drive root ("C:") is never created.
  if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == ':')) {
    const int rc = MakeDirectories(parent);
    if (rc != 0) return rc;
  }
  const int rc = MakeDirectory(path);
  return rc == EEXIST && IsDirectory(path) ? 0 : rc;
}

int RemoveFile(const std::string& path) { return DeleteFileW(win32::Wide(path).c_str()) ? 0 : win32::LastErrno(); }

int WriteFileAtomically(const std::string& path, const std::string& content) {
  // A temporary file beside the target, flushed to the disk, then moved over it in one step.
  const std::string tmp =
      path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetCurrentThreadId());
  const std::wstring wideTmp = win32::Wide(tmp);
  int error = 0;
  {
    win32::Handle h(
        CreateFileW(wideTmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid()) return win32::LastErrno();
    if (!WriteWhole(h.Get(), content.data(), content.size()) || !FlushFileBuffers(h.Get())) error = win32::LastErrno();
  }
  if (error == 0 &&
      !MoveFileExW(wideTmp.c_str(), win32::Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = win32::LastErrno();
  if (error != 0) DeleteFileW(wideTmp.c_str());
  return error;
}

bool ReadFile(const std::string& path, std::string& content) {
  return ReadRegularFile(path, content) == ReadOutcome::Read;
}

ReadOutcome ReadRegularFile(const std::string& path, std::string& content, int* error) {
  content.clear();
  win32::Handle h(CreateFileW(win32::Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.IsValid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return ReadOutcome::Missing;
    // A folder cannot be opened as a file at all.
    if (IsDirectory(path)) return ReadOutcome::NotRegular;
    if (error) *error = win32::ErrnoOf(code);
    return ReadOutcome::Failed;
  }
  if (GetFileType(h.Get()) != FILE_TYPE_DISK) return ReadOutcome::NotRegular;
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h.Get(), buffer, sizeof buffer, &n, nullptr)) {
      if (error) *error = win32::LastErrno();
      content.clear();
      return ReadOutcome::Failed;
    }
    if (n == 0) return ReadOutcome::Read;
    content.append(buffer, n);
  }
}

// A copy beside the target, flushed, then moved over it: a reader never sees half a file, and the
// copy keeps the source's attributes (read-only among them). A file copied over itself (the
// launcher started from its own copy) is left as it is: it already is what the copy would be.
int CopyFileOver(const std::string& from, const std::string& to) {
  const std::wstring source = win32::Wide(from), target = win32::Wide(to);
  if (SameFile(source, target)) return 0;
  const std::wstring tmp =
      target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetCurrentThreadId());
  if (!CopyFileW(source.c_str(), tmp.c_str(), FALSE)) {
    const int error = win32::LastErrno();
    DeleteFileW(tmp.c_str());
    return error;
  }
  int error = 0;
  {
    win32::Handle h(CreateFileW(tmp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    // A read-only copy cannot be opened for writing: its data is flushed by the move's write-through.
    if (h.IsValid() && !FlushFileBuffers(h.Get())) error = win32::LastErrno();
  }
  if (error == 0) error = win32::ErrnoOf(win32::ReplaceByMove(tmp, target));
  if (error != 0) {
    SetFileAttributesW(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(tmp.c_str());
  }
  return error;
}

int64_t FreeBytes(const std::string& path) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(win32::Wide(path).c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

int SyncFileData(const std::string& path) {
  win32::Handle h(CreateFileW(win32::Wide(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.IsValid()) return win32::LastErrno();
  return FlushFileBuffers(h.Get()) ? 0 : win32::LastErrno();
}

// The volume's own buffers are flushed when the volume can be opened, which takes an
// administrator (the launcher asks to be one). Without that right there is nothing further to do:
// every file this launcher writes is flushed by itself before it is moved into place
// (ReplacementFile, WriteFileAtomically, CopyFileOver), and the moves are written through.
int SyncFileSystem(const std::string& path) {
  const std::wstring full = win32::FinalPath(win32::Wide(path));
  if (full.size() < 2 || full[1] != L':') return full.empty() ? win32::LastErrno() : 0;
  const std::wstring volume = L"\\\\.\\" + full.substr(0, 2);
  win32::Handle h(CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  if (!h.IsValid()) return GetLastError() == ERROR_ACCESS_DENIED ? 0 : win32::LastErrno();
  if (FlushFileBuffers(h.Get())) return 0;
  // A volume that cannot be flushed as a whole (some file-system drivers, Wine's) leaves the
  // files' own flushes, as above.
  return GetLastError() == ERROR_INVALID_FUNCTION ? 0 : win32::LastErrno();
}

int64_t RegularFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win32::Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return -1;
  return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace os
