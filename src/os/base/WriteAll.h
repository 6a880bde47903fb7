// Writing a whole block to a file descriptor the caller owns (the C library's descriptors, which
// every platform's C runtime has). Any thread.
#pragma once

#include <cstddef>

namespace os {

// Writes size bytes, retrying interrupted and partial writes. Returns 0 when all were written,
// else the error number of the write that failed (EIO for one that wrote nothing).
int WriteAll(int descriptor, const char* data, size_t size);

}  // namespace os
