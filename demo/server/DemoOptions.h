// Command-line options of the demo server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace demo {

struct DemoOptions {
  std::string host;                 // from the compiled-in server base
  int port = 0;                     // from the compiled-in server base, or --port
  std::string version = "1.0.0.1";  // ClientVersion, and the version in the package address
  std::string miniVersion;          // ClientMiniUpdateVersion; empty: same as version
  bool omitMiniVersion = false;     // --no-mini-version: leave the key out
  std::string packagePath;          // the zip served as the package
  std::string pageDir;              // the login page's files
  std::int64_t throttle = 0;        // bytes per second for the package; 0 = unlimited
  std::string telemetryLog;         // telemetry requests are appended here, one target a line
  std::string accessLog;            // every request: method, target, Range, status
  bool print = false;               // print what is served and every request
  int configStatus = 200;           // status of the configuration document
  bool autologin = false;           // EntryUrl carries "autologin=<delay>"
  int autologinDelay = 1;           // seconds the page waits after the ready mark
  std::string customParameters = "zone=7&lang=zh-CN";
  std::string signingKey;        // Ed25519 private key (PEM) signing the package's digest
  bool publishHash = true;       // ClientPackageSha256 in the configuration
  bool publishSignature = true;  // ClientPackageSignature in the configuration
};

// Parses argv; on an error or --help prints to stderr/stdout and returns nothing (exitCode set).
std::optional<DemoOptions> ParseOptions(int argc, char** argv, int& exitCode);

// The base URL the documents name: "http://host:port".
std::string BaseUrl(const DemoOptions& options);

}  // namespace demo
