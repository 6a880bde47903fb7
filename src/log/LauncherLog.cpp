#include "log/LauncherLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Lines logged before the run is known to be the only launcher are few (start-up); a bound keeps
// a runaway writer from growing the buffer without limit.
constexpr size_t kMaxHeldBytes = 1 << 20;

// Write-only, appending (every line lands at the end, whatever else shortened the file), not
// inherited by started processes, never through a link in the last component.
constexpr int kOpenFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW;

bool DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes a file opened for this run the run's own: private to the user, empty.
void Restart(int fd) {
  ::fchmod(fd, 0600);
  if (::ftruncate(fd, 0) != 0) {
    // Nothing to report to: the log itself is what failed. Lines are still appended.
  }
}

}  // namespace

LauncherLog& LauncherLog::Instance() {
  // Never destroyed (see the header); the file is closed by an exit handler instead.
  static LauncherLog* log = [] {
    auto* l = new LauncherLog();
    std::atexit([] { LauncherLog::Instance().Close(); });
    return l;
  }();
  return *log;
}

LauncherLog::~LauncherLog() { Close(); }

void LauncherLog::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
  fd_ = ::open(path.c_str(), kOpenFlags | O_CREAT, 0600);
  if (fd_ >= 0) Restart(fd_);
}

void LauncherLog::OpenHeld(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
  fd_ = ::open(path.c_str(), kOpenFlags);
  createOnStart_ = fd_ < 0 && errno == ENOENT && DirectoryOf(path);
  holding_ = fd_ >= 0 || createOnStart_;
  path_ = path;
}

void LauncherLog::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!holding_) return;
  holding_ = false;
  if (createOnStart_) fd_ = ::open(path_.c_str(), kOpenFlags | O_CREAT, 0600);
  createOnStart_ = false;
  if (fd_ >= 0) {
    Restart(fd_);
    WriteLocked(held_);
  }
  held_.clear();
  held_.shrink_to_fit();
}

void LauncherLog::Abandon() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (holding_) CloseLocked();
}

std::string LauncherLog::EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char buf[8];
    if (c < 0x20 || c == 0x7F) {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: std::snprintf(buf, sizeof buf, "\\x%02x", c); out += buf;
      }
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      std::snprintf(buf, sizeof buf, "\\u00%02x", static_cast<unsigned char>(text[++i]));
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void LauncherLog::Write(const std::string& message, const char* function, const char* /*sourceFile*/, int line,
                        const char* level) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0 && !holding_) return;
  time_t now = std::time(nullptr);
  char stamp[32] = {};
  if (!ctime_r(&now, stamp)) stamp[0] = 0;
  for (char* p = stamp; *p; ++p)
    if (*p == '\n') *p = 0;
  // One formatted line, one write: lines never interleave. Text that the C locale cannot express
  // is written as UTF-8.
  std::string text = "[" + std::string(stamp) + "][" + level + "][" + function + "::" + std::to_string(line) + "] " +
                     EscapeControls(message) + "\n";
  if (holding_) {
    if (held_.size() + text.size() <= kMaxHeldBytes) held_ += text;
    return;
  }
  WriteLocked(text);
}

void LauncherLog::WriteLocked(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void LauncherLog::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

void LauncherLog::CloseLocked() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  holding_ = false;
  createOnStart_ = false;
  path_.clear();
  held_.clear();
}
