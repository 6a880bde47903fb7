// The telemetry reporter: each report is one fire-and-forget GET request carrying the machine
// identity, the channel and the report. LogEvent and Log are safe from any thread and never block
// on the network; the owner's loop (notifications, timers) is the one of the constructing
// thread (start-up: the UI thread). At destruction, or at Shutdown, reports in flight get at most
// 3,000 ms.
#pragma once

#include <string>

#include "net/FCHttpRequestManager.h"
#include "net/ITelemetry.h"
#include "net/MachineInfo.h"

class WebLogger : public FCHttpRequestManager, public ITelemetry {
 public:
  // machine identifies the reports; the endpoints are the compiled-in ones at start-up.
  WebLogger(MachineInfo machine, std::string infoReportUrl, std::string errorReportUrl);
  ~WebLogger() override;

  // Event report (1 create, 2 download_start, 3 unzip_start, 9 game_start; other codes carry no "ac").
  void LogEvent(int event) override;
  // Message report; message is UTF-8.
  void Log(const std::string& message) override;

  // The bounded shutdown of the destructor, for an exit that leaves the reporter alive (threads
  // that were never joined may still call it; their reports are no longer sent). Owner's thread.
  using FCHttpRequestManager::Shutdown;

  // The URLs the two calls send.
  std::string BuildEventUrl(int event) const;
  std::string BuildMessageUrl(const std::string& message) const;

  // endpoint + "?client_uid=...&ditch_name=...&mac=...&os_version=<escaped osText>".
  static std::string CommonPart(const std::string& endpoint, const MachineInfo& info);
  // Escapes the whole value as one URL segment (see the character set in WebLogger.cpp).
  static std::string EscapeSegment(const std::string& utf8);

 private:
  const MachineInfo machine_;
  std::string infoReportUrl_;
  std::string errorReportUrl_;
};
