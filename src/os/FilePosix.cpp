#include "os/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace os {

File::File(FileHandle handle) : handle_(handle) {}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

File File::Open(const std::string& path, Access access, int* error) {
  const int fd = access == Access::Read ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                                        : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && error) *error = errno;
  return File(fd);
}

bool File::IsOpen() const { return handle_ >= 0; }

int File::Close() {
  const int error = handle_ >= 0 && ::close(handle_) != 0 ? errno : 0;
  handle_ = kNone;
  return error;
}

int64_t File::Size() const {
  struct stat st;
  if (handle_ < 0 || ::fstat(handle_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t File::ReadAt(void* buffer, size_t size, uint64_t offset, int* error) const {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(handle_, static_cast<char*>(buffer) + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = errno;
      return -1;
    }
    if (n == 0) break;  // the end of the file
    got += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(got);
}

int File::Write(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(handle_, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;  // a write that takes nothing: the file system is full
    at += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int File::Truncate(uint64_t size) { return ::ftruncate(handle_, static_cast<off_t>(size)) == 0 ? 0 : errno; }

void File::AdviseSequential() const {
  if (handle_ >= 0) ::posix_fadvise(handle_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace os
