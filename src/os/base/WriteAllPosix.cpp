#include "os/base/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace os {

int WriteAll(int descriptor, const char* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(descriptor, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace os
