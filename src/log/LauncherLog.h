// The diagnostic log: one plain-text file per run, "<drive C:>/<GameShortName>-<ChannelName>/
// <application name>.log", opened "w+" by start-up. Lines read
// "[<ctime>][<level>][<function>::<line>] <message>". Write is safe from any thread.
//
// The one process-wide object of the launcher, on purpose: it is written from threads that are
// never joined (the update worker, telemetry workers that outlive their manager) until the very
// end of the process, and from the host layer below any context; an object that is never
// destroyed is the only one those writers can always reach safely. It holds nothing but the file.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class LauncherLog {
 public:
  static LauncherLog& Instance();

  // Opens the file at path "w+" (each run starts a fresh file), closing any file open before.
  // The directory is never created here: when it is missing (the very first run) the log stays
  // silent until the next Open. Start-up calls it once, before anything is logged.
  void Open(const std::string& path);

  // message is UTF-8; function and sourceFile name the caller; level is "INFO" or "ERROR".
  // sourceFile is accepted but not written. Does nothing while no file is open.
  void Write(const std::string& message, const char* function, const char* sourceFile, int line, const char* level);

  // Flushes and closes the file; every later Write is silent. (Uninstall, before removing the directory.)
  void Close();

  LauncherLog(const LauncherLog&) = delete;
  LauncherLog& operator=(const LauncherLog&) = delete;

 private:
  LauncherLog() = default;
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
