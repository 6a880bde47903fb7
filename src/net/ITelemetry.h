// What the launcher reports to the telemetry server: milestone events and free-text messages.
// WebLogger sends them; NullTelemetry drops them (a run or a test that must report nowhere).
// Both calls are safe from any thread and never block on the network.
#pragma once

#include <string>

enum LauncherEvent { Create = 1, DownloadStart = 2, UnzipStart = 3, UnzipFinished = 6, GameStart = 9 };

class ITelemetry {
 public:
  virtual ~ITelemetry() = default;

  // Event report (see LauncherEvent).
  virtual void LogEvent(int event) = 0;
  // Message report; message is UTF-8.
  virtual void Log(const std::string& message) = 0;
};

class NullTelemetry : public ITelemetry {
 public:
  void LogEvent(int) override {}
  void Log(const std::string&) override {}
};
