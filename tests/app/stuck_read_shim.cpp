// Preloaded into the launcher binary by its tests: a disk that hangs and a witness of the exit.
//  - Reading (pread) the file named by VELLMORA_STUCK_FILE never returns; the thread that tries
//    first creates "<that path>.stuck", so the test knows the launcher is held there.
//  - When the process ends through exit() (static destructors, exit handlers, library clean-ups),
//    this library's destructor creates "<VELLMORA_EXIT_WITNESS>.<pid>" (the launcher's own
//    helper processes inherit the library too). _exit() runs none of that.
// Both names of pread are defined here, so the header must not map one onto the other.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool IsStuckFile(int fd) {
  const char* stuck = std::getenv("VELLMORA_STUCK_FILE");
  if (!stuck || !*stuck) return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = 0;
  return std::strcmp(target, stuck) == 0;
}

[[noreturn]] void HangForever() {
  char marker[PATH_MAX];
  std::snprintf(marker, sizeof marker, "%s.stuck", std::getenv("VELLMORA_STUCK_FILE"));
  const int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
  for (;;) pause();
}

void Touch(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
}

}  // namespace

extern "C" {

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
  using Real = ssize_t (*)(int, void*, size_t, off64_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pread64"));
  if (IsStuckFile(fd)) HangForever();
  return real(fd, buffer, size, offset);
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  using Real = ssize_t (*)(int, void*, size_t, off_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pread"));
  if (IsStuckFile(fd)) HangForever();
  return real(fd, buffer, size, offset);
}

__attribute__((destructor)) static void WitnessExit() {
  const char* witness = std::getenv("VELLMORA_EXIT_WITNESS");
  if (!witness) return;
  char path[PATH_MAX];
  std::snprintf(path, sizeof path, "%s.%d", witness, static_cast<int>(getpid()));
  Touch(path);
}

}  // extern "C"
