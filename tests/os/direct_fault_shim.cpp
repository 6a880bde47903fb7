// Stands in for the C library's positioned reads and writes in this test program, so that a test
// can make the file system refuse direct transfers or answer a direct read with fewer bytes than
// asked, as some file systems do. Only descriptors opened with O_DIRECT are touched; everything
// else goes straight to the C library.
#include "direct_fault_shim.h"

#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>

namespace direct_fault {

std::atomic<int> refuseWith{0};
std::atomic<bool> shortReads{false};

}  // namespace direct_fault

namespace {

using ReadFn = long (*)(int, void*, size_t, long);
using WriteFn = long (*)(int, const void*, size_t, long);

bool IsDirect(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_DIRECT) != 0;
}

long Read(const char* name, int fd, void* data, size_t size, long at) {
  static const ReadFn real = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, name));
  if (IsDirect(fd) && direct_fault::refuseWith.load() != 0) {
    errno = direct_fault::refuseWith.load();
    return -1;
  }
  const long n = real(fd, data, size, at);
  // Fewer bytes than were there, ending off a block boundary: the bytes past the answer are
  // read again by the caller, so handing over fewer is all a short read is.
  if (n > 8192 && IsDirect(fd) && direct_fault::shortReads.load()) return n - 1000;
  return n;
}

long Write(const char* name, int fd, const void* data, size_t size, long at) {
  static const WriteFn real = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, name));
  if (IsDirect(fd) && direct_fault::refuseWith.load() != 0) {
    errno = direct_fault::refuseWith.load();
    return -1;
  }
  return real(fd, data, size, at);
}

}  // namespace

// The symbol names are given outright: a header may already have renamed pread to pread64.
extern "C" {
long ShimPread(int fd, void* data, size_t size, long at) __asm__("pread");
long ShimPread64(int fd, void* data, size_t size, long at) __asm__("pread64");
long ShimPwrite(int fd, const void* data, size_t size, long at) __asm__("pwrite");
long ShimPwrite64(int fd, const void* data, size_t size, long at) __asm__("pwrite64");

long ShimPread(int fd, void* data, size_t size, long at) { return Read("pread", fd, data, size, at); }
long ShimPread64(int fd, void* data, size_t size, long at) { return Read("pread64", fd, data, size, at); }
long ShimPwrite(int fd, const void* data, size_t size, long at) { return Write("pwrite", fd, data, size, at); }
long ShimPwrite64(int fd, const void* data, size_t size, long at) { return Write("pwrite64", fd, data, size, at); }
}
