#include "log/LauncherLog.h"

#include <cstdlib>
#include <ctime>

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
  if (file_) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "w+");
}

void LauncherLog::Write(const std::string& message, const char* function, const char* /*sourceFile*/, int line,
                        const char* level) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return;
  time_t now = std::time(nullptr);
  char stamp[32] = {};
  if (!ctime_r(&now, stamp)) stamp[0] = 0;
  for (char* p = stamp; *p; ++p)
    if (*p == '\n') *p = 0;
  // One formatted line, one write: lines never interleave. Text that the C locale cannot express
  // is written as UTF-8.
  std::string text =
      "[" + std::string(stamp) + "][" + level + "][" + function + "::" + std::to_string(line) + "] " + message + "\n";
  std::fputs(text.c_str(), file_);
}

void LauncherLog::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
