#include "log/LauncherLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "os/base/LocalTime.h"

namespace {

// Lines logged before the run is known to be the only launcher are few (start-up); a bound keeps
// a runaway writer from growing the buffer without limit.
constexpr size_t kMaxHeldBytes = 1 << 20;

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
  if (file_.Open(path, true) == os::LogFile::Opened::Yes) file_.Restart();
}

void LauncherLog::OpenHeld(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
  const os::LogFile::Opened opened = file_.Open(path, false);
  createOnStart_ = opened == os::LogFile::Opened::Missing && os::LogFile::DirectoryExists(path);
  holding_ = opened == os::LogFile::Opened::Yes || createOnStart_;
  path_ = path;
}

void LauncherLog::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!holding_) return;
  holding_ = false;
  if (createOnStart_) file_.Open(path_, true);
  createOnStart_ = false;
  if (file_.IsOpen()) {
    file_.Restart();
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
  if (!file_.IsOpen() && !holding_) return;
  const std::string stamp = os::LocalTimeText(std::time(nullptr));
  // One formatted line, one write: lines never interleave. Text that the C locale cannot express
  // is written as UTF-8.
  std::string text = "[" + stamp + "][" + level + "][" + function + "::" + std::to_string(line) + "] " +
                     EscapeControls(message) + "\n";
  if (holding_) {
    if (held_.size() + text.size() <= kMaxHeldBytes) held_ += text;
    return;
  }
  WriteLocked(text);
}

void LauncherLog::WriteLocked(const std::string& text) { file_.Append(text.data(), text.size()); }

void LauncherLog::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

void LauncherLog::CloseLocked() {
  file_.Close();
  holding_ = false;
  createOnStart_ = false;
  path_.clear();
  held_.clear();
}
