// The diagnostic log: one plain-text file per run, "<drive C:>/<GameShortName>-<ChannelName>/
// <application name>.log". Lines read "[<ctime>][<level>][<function>::<line>] <message>". Write is
// safe from any thread.
//
// The file is private to the user (mode 0600), never inherited by a started process
// (close-on-exec), and every line is handed to the kernel by one write() as it is logged, so a
// crash or a kill loses none. Control characters in a message are written escaped (a line feed as "\n"): text from the
// page, the configuration or the command line can never start a line of its own.
//
// The one process-wide object of the launcher, on purpose: it is written from threads that are
// never joined (the update worker, telemetry workers that outlive their manager) until the very
// end of the process, and from the host layer, the lowest layer but this one; an object that is
// never destroyed is the only one those writers can always reach safely. It holds nothing but the
// file. It includes nothing else of the launcher but the host layer's base (its file), so the host
// layer can write to it.
#pragma once

#include <mutex>
#include <string>

#include "os/base/LogFile.h"

class LauncherLog {
 public:
  static LauncherLog& Instance();

  // Opens the file at path and starts it at once: emptied, or created. The directory is never
  // created here: when it is missing the log stays silent until the next Open.
  void Open(const std::string& path);

  // Start-up, before the run knows whether it is the only launcher: opens the file at path without
  // changing it (or notes that it is to be created) and keeps the lines logged until then in
  // memory. Start() then empties the file and writes them; Abandon() drops them and leaves the file
  // exactly as it was, so a launcher refused as the second instance never disturbs the log of the
  // running one. When the directory is missing the whole run stays silent (the very first run).
  // Both do nothing once the file has been started.
  void OpenHeld(const std::string& path);
  void Start();
  void Abandon();

  // message is UTF-8; function and sourceFile name the caller; level is "INFO" or "ERROR".
  // sourceFile is accepted but not written. Does nothing while no file is open.
  void Write(const std::string& message, const char* function, const char* sourceFile, int line, const char* level);

  // Closes the file; every later Write is silent. (Uninstall, before removing the directory.)
  void Close();

  // The message as it is written: C0 controls and DEL as \n, \r, \t or \xHH, C1 controls (as
  // UTF-8) as \u00HH; everything else, backslashes included, unchanged.
  static std::string EscapeControls(const std::string& text);

  LauncherLog(const LauncherLog&) = delete;
  LauncherLog& operator=(const LauncherLog&) = delete;

 private:
  LauncherLog() = default;
  ~LauncherLog();

  void CloseLocked();
  void WriteLocked(const std::string& text);

  std::mutex mutex_;
  os::LogFile file_;
  // Between OpenHeld and Start/Abandon: the lines so far, and whether Start is to create the file.
  bool holding_ = false;
  bool createOnStart_ = false;
  std::string path_;
  std::string held_;
};

// Shorthands for the two levels.
inline void LogInfo(const std::string& message, const char* function, const char* module, int line) {
  LauncherLog::Instance().Write(message, function, module, line, "INFO");
}
inline void LogError(const std::string& message, const char* function, const char* module, int line) {
  LauncherLog::Instance().Write(message, function, module, line, "ERROR");
}
