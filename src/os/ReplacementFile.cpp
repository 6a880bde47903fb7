#include "os/ReplacementFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace os {
namespace {

// Names unique within the process without asking the system for randomness: the process id tells
// processes apart, the counter the files of one process. A name left by a process that was killed
// may come round again; it is stepped over.
std::atomic<unsigned long> gNextTemporary{0};
constexpr int kNameAttempts = 100;

std::string TemporaryName(const std::string& path) {
  static const pid_t self = ::getpid();  // asked once: each call would be a system call
  return path + ".tmp-" + std::to_string(self) + "-" + std::to_string(gNextTemporary.fetch_add(1));
}

}  // namespace

ReplacementFile::ReplacementFile(std::string path, unsigned mode) : path_(std::move(path)) {
  // open() applies the umask to 0666, as a plain create would; stored bits come already within it.
  // A mode without the owner's write bit still gives this descriptor write access.
  const mode_t bits = mode != 0 ? static_cast<mode_t>(mode) : static_cast<mode_t>(0666);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary_ = TemporaryName(path_);
    file_ = File(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bits));
    if (file_.IsOpen()) return;
    error_ = errno;
    if (error_ != EEXIST) break;
  }
  temporary_.clear();
}

ReplacementFile::~ReplacementFile() {
  file_.Close();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int ReplacementFile::Finish() {
  if (finished_) return error_;
  if (!file_.IsOpen()) return error_ ? error_ : EBADF;
  finished_ = true;
  error_ = file_.Close();
  return error_;
}

int ReplacementFile::Commit() {
  if (const int error = Finish(); error != 0) return error;
  if (temporary_.empty()) return error_ = EBADF;  // committed before
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) return error_ = errno;
  temporary_.clear();  // it is the file now
  return 0;
}

}  // namespace os
