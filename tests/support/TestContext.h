// A launcher context for tests: telemetry that records instead of sending, machine facts from
// the live system, the launch parameters of a given command line and application name.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/LauncherContext.h"
#include "log/LauncherLog.h"
#include "net/ITelemetry.h"
#include "os/Process.h"

class RecordingTelemetry : public ITelemetry {
 public:
  void LogEvent(int event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  void Log(const std::string& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
  }
  std::vector<int> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> events_;
  std::vector<std::string> messages_;
};

class TestContext {
 public:
  explicit TestContext(const std::string& commandLine = std::string(),
                       const std::string& appName = os::ApplicationName())
      : context_(telemetry_, MachineInfo::Collect(MachineInfo::Sources{}), commandLine, appName) {
    // Whatever key this build was configured with: a test that wants signed packages sets its own.
    context_.packagePublicKey.clear();
  }
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  LauncherContext& Get() { return context_; }
  RecordingTelemetry& Telemetry() { return telemetry_; }
  const RecordingTelemetry& Telemetry() const { return telemetry_; }

  // Settles the layout in installDir, as start-up does, and opens the run's log there.
  LauncherContext& SettleIn(const std::string& installDir) {
    context_.layout = InstallLayout::Build(installDir, context_.layout.appName);
    LauncherLog::Instance().Open(context_.layout.logPath);
    return context_;
  }

 private:
  RecordingTelemetry telemetry_;
  LauncherContext context_;
};
