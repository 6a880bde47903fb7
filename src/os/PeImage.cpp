#include "os/PeImage.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>

namespace os {

namespace {

constexpr off_t kNewHeaderOffsetField = 0x3C;  // e_lfanew in the MZ header
constexpr uint32_t kMaxNewHeaderOffset = 16u << 20;

// Reads exactly size bytes at offset; false on a short file or an error.
bool ReadAt(int fd, off_t offset, unsigned char* buffer, size_t size) {
  while (size > 0) {
    ssize_t n = ::pread(fd, buffer, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

bool IsWindowsExecutable(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  bool windows = false;
  unsigned char mz[2], field[4], signature[4];
  if (ReadAt(fd, 0, mz, sizeof mz) && mz[0] == 'M' && mz[1] == 'Z' &&
      ReadAt(fd, kNewHeaderOffsetField, field, sizeof field)) {
    const uint32_t offset = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
                            static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    // The PE header follows the MZ header; an offset inside it or absurdly far is no PE image.
    windows = offset >= kNewHeaderOffsetField + sizeof field && offset <= kMaxNewHeaderOffset &&
              ReadAt(fd, static_cast<off_t>(offset), signature, sizeof signature) && signature[0] == 'P' &&
              signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
  }
  ::close(fd);
  return windows;
}

}  // namespace os
