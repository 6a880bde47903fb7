#include "os/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

#include "os/FileSystem.h"

namespace os {

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockPath(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || !*dir || !IsDirectory(dir)) dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  return JoinPath(dir, name + ".lock");
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name) {
  Release();
  int fd = ::open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Result::Error;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? Result::AlreadyExists : Result::Error;
  }
  fd_ = fd;
  return Result::Acquired;
}

void InstanceLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the flock
    fd_ = -1;
  }
}

}  // namespace os
