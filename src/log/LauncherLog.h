// The process-wide diagnostic log: one plain-text file per run,
// "<drive C:>/<GameShortName>-<ChannelName>/<application name>.log", opened "w+" on first use.
// Lines read "[<ctime>][<level>][<function>::<line>] <message>". Write is safe from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class LauncherLog {
 public:
  static LauncherLog& Instance();

  // message is UTF-8; function and sourceFile name the caller; level is "INFO" or "ERROR".
  // sourceFile is accepted but not written. Does nothing once closed or when the open failed.
  void Write(const std::string& message, const char* function, const char* sourceFile, int line,
             const char* level);

  // Flushes and closes the file; every later Write is silent. (Uninstall, before removing the directory.)
  void Close();

  // Closes and opens the file afresh at the current path (tests only: the prefix changes per test).
  void Reopen();

  // Path of the log file this process uses.
  static std::string LogPath();

  LauncherLog(const LauncherLog&) = delete;
  LauncherLog& operator=(const LauncherLog&) = delete;

 private:
  LauncherLog();
  ~LauncherLog();

  std::mutex mutex_;
  FILE* file_ = nullptr;
};

// Shorthands for the two levels.
inline void LogInfo(const std::string& message, const char* function, const char* module, int line) {
  LauncherLog::Instance().Write(message, function, module, line, "INFO");
}
inline void LogError(const std::string& message, const char* function, const char* module, int line) {
  LauncherLog::Instance().Write(message, function, module, line, "ERROR");
}
