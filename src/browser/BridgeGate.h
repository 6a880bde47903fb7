// Which calls of the page's external object reach the launcher: only calls of documents of the
// login page's origin (where the navigation to the login address ended, after the server's
// redirects), and only with arguments the launcher takes (text, at most kMaxArguments values, none
// longer than kMaxArgumentLength UTF-16 units). Each front end works out a call's origin and
// arguments its own way and asks here; the refusal lines it logs come from here. UI thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class BridgeGate {
 public:
  struct Decision {
    bool admit = false;
    std::string logLine;  // the refusal's ERROR line; empty when nothing is to be logged
  };

  // The origin whose documents may call; empty (the start, or an address without an origin)
  // admits nobody.
  void Trust(const std::string& origin) { trusted_ = origin; }
  const std::string& TrustedOrigin() const { return trusted_; }

  // First step of every call: a document of `origin` calls. Its arguments are looked at only
  // once this admits it (converting them may run the caller's script).
  Decision AdmitOrigin(const std::string& origin);

  // Second step: the arguments the call hands over as text, or null when the front end found one
  // that is not text (or the call malformed).
  static Decision AdmitArguments(const std::vector<std::string>* args);

  // True when the arguments fit: at most kMaxArguments, none longer than kMaxArgumentLength.
  static bool ArgumentsFit(const std::vector<std::string>& args);

  static constexpr size_t kMaxArguments = 16;
  static constexpr size_t kMaxArgumentLength = 65536;  // UTF-16 units
  // Refusals of other origins are logged, but a page cannot fill the disk with them.
  static constexpr int kMaxRefusalLines = 100;

 private:
  std::string trusted_;
  int refusalsLogged_ = 0;
};
