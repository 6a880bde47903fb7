// The demo's stand-in for the maker's servers: the configuration document, the game package
// (with byte ranges and an optional throttle), the login page and the two telemetry endpoints.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>

#include "AppendLog.h"
#include "DemoOptions.h"
#include "PackageSignature.h"

namespace demo {

class DemoServer {
 public:
  explicit DemoServer(DemoOptions options);
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  // Opens the logs, takes the package's digest and signs it, and binds the port. Main thread,
  // before Run. False (with a message on stderr) when a log cannot be opened or the port cannot be
  // bound.
  bool Start();
  // Serves until Stop. Main thread.
  void Run();
  // Ends Run and cuts transfers in progress short. Any thread.
  void Stop();

  // The configuration document, exactly as served (LF line ends).
  std::string ConfigDocument() const;
  // The package address as the launcher requests it (placeholders filled).
  std::string PackageUrl() const;
  std::string EntryUrl() const;
  // A description of everything served, for --print.
  std::string Describe() const;

 private:
  void InstallRoutes();
  void ServePackage(const httplib::Request& req, httplib::Response& res);
  void RecordTelemetry(const httplib::Request& req, httplib::Response& res);

  DemoOptions options_;
  PackageProof proof_;  // of the package served, made at Start
  httplib::Server server_;
  AppendLog telemetry_;
  AppendLog access_;
  std::atomic<bool> stopping_{false};
};

}  // namespace demo
