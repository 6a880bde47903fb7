#include "os/base/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/base/WriteAll.h"

namespace os {
namespace {

// Write-only, appending, not inherited by started processes, never through a link in the last
// component.
constexpr int kOpenFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW;

}  // namespace

LogFile::Opened LogFile::Open(const std::string& path, bool create) {
  Close();
  handle_ = ::open(path.c_str(), create ? kOpenFlags | O_CREAT : kOpenFlags, 0600);
  if (handle_ >= 0) return Opened::Yes;
  return errno == ENOENT ? Opened::Missing : Opened::Failed;
}

void LogFile::Restart() {
  if (handle_ < 0) return;
  ::fchmod(handle_, 0600);
  if (::ftruncate(handle_, 0) != 0) {
    // Nothing to report to: the log itself is what failed. Lines are still appended.
  }
}

bool LogFile::Append(const char* data, size_t size) { return handle_ >= 0 && WriteAll(handle_, data, size) == 0; }

void LogFile::Close() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

bool LogFile::DirectoryExists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace os
