// Process-wide telemetry reporter: each report is one fire-and-forget GET request carrying the
// machine identity, the channel and the report. LogEvent and Log are safe from any thread and never
// block on the network; the owner context (notifications, timers) is the one current on the thread
// of the first Instance() call. At destruction reports in flight get at most 3,000 ms.
#pragma once

#include <string>

#include "net/FCHttpRequestManager.h"

class MachineInfo;

enum LauncherEvent { Create = 1, DownloadStart = 2, UnzipStart = 3, UnzipFinished = 6, GameStart = 9 };

class WebLogger : public FCHttpRequestManager {
 public:
  static WebLogger& Instance();

  // A reporter with other endpoints (tests, demo); Instance() uses the compiled-in ones.
  WebLogger(std::string infoReportUrl, std::string errorReportUrl);
  ~WebLogger() override;

  // Event report (1 create, 2 download_start, 3 unzip_start, 9 game_start; other codes carry no "ac").
  void LogEvent(int event);
  // Message report; message is UTF-8.
  void Log(const std::string& message);

  // The URLs the two calls send (built from MachineInfo::Instance()).
  std::string BuildEventUrl(int event) const;
  std::string BuildMessageUrl(const std::string& message) const;

  // endpoint + "?client_uid=...&ditch_name=...&mac=...&os_version=<escaped osText>".
  static std::string CommonPart(const std::string& endpoint, const MachineInfo& info);
  // Escapes the whole value as one URL segment (see the character set in WebLogger.cpp).
  static std::string EscapeSegment(const std::string& utf8);

 private:
  static void ShutdownAtExit();  // registered by Instance(): the bounded shutdown at process exit

  std::string infoReportUrl_;
  std::string errorReportUrl_;
};
