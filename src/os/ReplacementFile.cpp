#include "os/ReplacementFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "os/Umask.h"

namespace os {

ReplacementFile::ReplacementFile(std::string path) : path_(std::move(path)), temporary_(path_ + ".tmp-XXXXXX") {
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    temporary_.clear();
  }
}

ReplacementFile::~ReplacementFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int ReplacementFile::Commit(unsigned mode) {
  if (fd_ < 0) return error_ ? error_ : EBADF;
  // mkostemp creates the file private; give it what a plain create would, or the archive's bits.
  const mode_t bits = mode != 0 ? static_cast<mode_t>(mode) : (0666 & ~CurrentUmask());
  int error = ::fchmod(fd_, bits) == 0 ? 0 : errno;
  // close reports a write-back failure some file systems only see then.
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) temporary_.clear();  // it is the file now
  error_ = error;
  return error;
}

}  // namespace os
