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
  file_ = File(::mkostemp(temporary_.data(), O_CLOEXEC));
  if (!file_.IsOpen()) {
    error_ = errno;
    temporary_.clear();
  }
}

ReplacementFile::~ReplacementFile() {
  file_.Close();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int ReplacementFile::Commit(unsigned mode) {
  if (!file_.IsOpen()) return error_ ? error_ : EBADF;
  // mkostemp creates the file private; give it what a plain create would, or the archive's bits.
  const mode_t bits = mode != 0 ? static_cast<mode_t>(mode) : static_cast<mode_t>(0666 & ~CurrentUmask());
  int error = ::fchmod(file_.Handle(), bits) == 0 ? 0 : errno;
  const int closed = file_.Close();
  if (error == 0) error = closed;
  if (error == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) temporary_.clear();  // it is the file now
  error_ = error;
  return error;
}

}  // namespace os
