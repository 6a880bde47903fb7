#include <io.h>

#include <cerrno>
#include <climits>

#include "os/base/WriteAll.h"

namespace os {

int WriteAll(int descriptor, const char* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    // The C runtime's _write takes an unsigned int count.
    const size_t chunk = size - written < static_cast<size_t>(INT_MAX) ? size - written : INT_MAX;
    const int n = ::_write(descriptor, data + written, static_cast<unsigned>(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace os
