// Shared pieces of the update pipeline tests: a recording window, a loopback HTTP server that
// serves a configuration and a package (with its own Range handling), zip building, and a
// fixture with a sandboxed installation.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/Process.h"
#include "support/HttpServerThread.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "support/TestPlatform.h"
#include "update/CGameRemoteConfig.h"
#include "update/IWindowOperations.h"

// Every call the worker makes on the window, in order, as text:
// "SetProgress|<message>|<text>|<percent>|<downloading>", "ShowProgressView", ...
class RecordingWindow : public IWindowOperations {
 public:
  void InitWebBrower() override { Add("InitWebBrower"); }
  void SetProgress(const std::string& message, const std::string& text, int percent, int downloading) override {
    Add("SetProgress|" + message + "|" + text + "|" + std::to_string(percent) + "|" + std::to_string(downloading));
  }
  void ShowProgressView() override { Add("ShowProgressView"); }
  void ShowMessageView() override { Add("ShowMessageView"); }
  void SetReady() override { Add("SetReady"); }

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  bool Has(const std::string& call) const;
  // The messages of the SetProgress calls that carried one, in order.
  std::vector<std::string> Messages() const;
  // The (text, percent) pairs of the SetProgress calls with a progress text and the given mode.
  std::vector<std::pair<std::string, int>> Progress(int downloading) const;

 private:
  void Add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// A loopback server on an ephemeral port. Range requests are handled here, not by the library,
// so that tests control exactly what a server answers.
class TestServer {
 public:
  TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return http_.Port(); }
  std::string Url(const std::string& path) const { return http_.Url(path); }
  httplib::Server& Raw() { return http_.Server(); }

  // Serves text at path with status 200.
  void ServeText(const std::string& path, const std::string& text);
  // Serves a package at path: "bytes=N-" gets 206 from N, unless ignoreRange; the body goes out
  // in blocks of blockSize with delay between them.
  void ServePackage(const std::string& path, const std::string& body, bool ignoreRange = false,
                    size_t blockSize = 64 * 1024, std::chrono::milliseconds delay = std::chrono::milliseconds(0));

  // The Range header of every package request (empty when there was none), in order.
  std::vector<std::string> PackageRanges() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> ranges_;
  HttpServerThread http_;  // last: it stops answering before what its handlers use goes
};

// Builds a zip archive. Entries whose name ends in "/" are directories. mode (Unix permission
// bits) is stored with a Unix "made by" field when not 0. Data is deflated unless stored.
struct ZipEntry {
  std::string name;
  std::string data;
  unsigned mode = 0;
  bool stored = false;
};
std::string BuildZip(const std::vector<ZipEntry>& entries);

// Sandboxed installation: InstallDir and DataDir created, and a launcher context (a run) whose
// layout is settled there and whose log is open there.
class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The current run's context, and the pipeline over it.
  LauncherContext& Ctx() { return run_->Get(); }
  RecordingTelemetry& Telemetry() { return run_->Telemetry(); }
  CGameRemoteConfig Pipeline() { return CGameRemoteConfig(Ctx()); }

  std::string InstallDir() const { return sandbox_.InstallDir(); }
  std::string DataDir() const { return sandbox_.InstallDir() + "/client"; }
  std::string PackagePath() const { return InstallDir() + "/qvx.zip"; }
  std::string StatePath() const { return InstallDir() + "/tempdownload.dat"; }

  // A new launcher run on the same installation: fresh log and context, files kept. The run's
  // command line and application name are the test program's unless given.
  void StartNextRun(const std::string& commandLine = os::ArgumentString(),
                    const std::string& appName = os::ApplicationName());
  // Closes the log and returns its text (later log lines are dropped until SetUp of the next test).
  std::string TakeLog();
  // Points the worker at a configuration document served by server at /config.
  void ServeConfig(TestServer& server, const std::string& document);
  // Points this run and the next ones at a configuration address.
  void SetConfigUrl(const std::string& url);

  Sandbox sandbox_;
  std::unique_ptr<TestContext> run_;
  std::string configUrl_;
};

// Contains a log line "[<level>][<function>::<line>] <text>".
::testing::AssertionResult LogHas(const std::string& log, const std::string& level, const std::string& function,
                                  int line, const std::string& text);

std::string Sha256Hex(const std::string& data);
std::string RandomBytes(size_t n, uint32_t seed);
