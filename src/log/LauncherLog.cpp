#include "log/LauncherLog.h"

#include <cstdlib>
#include <ctime>

#include "Identity.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/Process.h"

LauncherLog& LauncherLog::Instance() {
  // Never destroyed: the update worker may still write while the process exits; the file is
  // closed by an exit handler instead.
  static LauncherLog* log = [] {
    auto* l = new LauncherLog();
    std::atexit([] { LauncherLog::Instance().Close(); });
    return l;
  }();
  return *log;
}

std::string LauncherLog::LogPath() {
  std::string dir = os::JoinPath(os::DriveRoot('C'),
                                 std::string(identity::GameShortName) + "-" + identity::ChannelName);
  return os::JoinPath(dir, os::ApplicationName() + ".log");
}

LauncherLog::LauncherLog() {
  // "w+": each run starts a fresh file. The directory is never created here; when it does not
  // exist yet (the very first run) the log stays silent for the whole run.
  file_ = std::fopen(LogPath().c_str(), "w+");
}

LauncherLog::~LauncherLog() { Close(); }

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
  std::string text = "[" + std::string(stamp) + "][" + level + "][" + function + "::" + std::to_string(line) + "] " +
                     message + "\n";
  std::fputs(text.c_str(), file_);
}

void LauncherLog::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void LauncherLog::Reopen() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = std::fopen(LogPath().c_str(), "w+");
}
