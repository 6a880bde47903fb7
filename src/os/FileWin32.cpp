#include <windows.h>

#include <cerrno>
#include <utility>

#include "os/File.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// Like a descriptor opened without O_CLOEXEC's opposite: never inherited (no security attributes
// asking for it), and shared as freely as a POSIX file so that renames and removals of the folder
// around it are not blocked.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ReadFile and WriteFile take ULONG lengths.
constexpr size_t kMaxPiece = 1u << 30;

}  // namespace

File::File(FileHandle handle) : handle_(handle == INVALID_HANDLE_VALUE ? kNone : handle) {}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

File File::Open(const std::string& path, Access access, int* error) {
  const bool read = access == Access::Read;
  HANDLE h = CreateFileW(win32::Wide(path).c_str(), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                         read ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = win32::LastErrno();
    return File();
  }
  return File(h);
}

bool File::IsOpen() const { return handle_ != kNone; }

int File::Close() {
  const int error = handle_ != kNone && !CloseHandle(handle_) ? win32::LastErrno() : 0;
  handle_ = kNone;
  return error;
}

int64_t File::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == kNone || !GetFileSizeEx(handle_, &size)) return -1;
  return size.QuadPart;
}

int64_t File::ReadAt(void* buffer, size_t size, uint64_t offset, int* error) const {
  if (handle_ == kNone) {
    if (error) *error = EBADF;
    return -1;
  }
  // A positioned read of a synchronous handle moves its file pointer; the writes that follow
  // expect it where it was, as after pread.
  LARGE_INTEGER zero{}, position{};
  if (!SetFilePointerEx(handle_, zero, &position, FILE_CURRENT)) {
    if (error) *error = win32::LastErrno();
    return -1;
  }
  size_t got = 0;
  int failure = 0;
  while (got < size) {
    const uint64_t at = offset + got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(size - got < kMaxPiece ? size - got : kMaxPiece);
    DWORD n = 0;
    if (!ReadFile(handle_, static_cast<char*>(buffer) + got, want, &n, &where)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;  // at or past the end of the file
      failure = win32::LastErrno();
      break;
    }
    if (n == 0) break;  // the end of the file
    got += n;
  }
  SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN);
  if (failure != 0) {
    if (error) *error = failure;
    return -1;
  }
  return static_cast<int64_t>(got);
}

int File::Write(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(size < kMaxPiece ? size : kMaxPiece);
    DWORD n = 0;
    if (!WriteFile(handle_, at, want, &n, nullptr)) return win32::LastErrno();
    if (n == 0) return ENOSPC;  // a write that takes nothing: the disk is full
    at += n;
    size -= n;
  }
  return 0;
}

int File::Truncate(uint64_t size) {
  // SetEndOfFile works at the file pointer: move it there and back.
  LARGE_INTEGER zero{}, position{}, end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(handle_, zero, &position, FILE_CURRENT)) return win32::LastErrno();
  int error = 0;
  if (!SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_)) error = win32::LastErrno();
  SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN);
  return error;
}

void File::AdviseSequential() const {
  // Windows takes FILE_FLAG_SEQUENTIAL_SCAN only when a file is opened, and its cache manager
  // already reads ahead once it sees reads follow each other: nothing to tell it here.
}

}  // namespace os
