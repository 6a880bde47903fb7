#include "os/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

#include "os/FileSystem.h"
#include "os/Prefix.h"

namespace os {

InstanceLock::~InstanceLock() { Release(); }

namespace {

// The runtime directory counts only as the user's own: an absolute path to a directory owned by
// this user that nobody else may enter or write.
bool IsPrivateDirectory(const char* dir) {
  struct stat st {};
  return dir && dir[0] == '/' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

}  // namespace

std::string InstanceLock::LockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (IsPrivateDirectory(runtime)) return JoinPath(runtime, name + ".lock");
  const std::string prefix = PrefixDir();
  return prefix.empty() ? std::string() : JoinPath(prefix, name + ".lock");
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name) {
  Release();
  const std::string path = LockPath(name);
  if (path.empty()) return Result::Error;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
