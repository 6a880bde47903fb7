#include "browser/BridgeGate.h"

#include "os/CodePage.h"

bool BridgeGate::ArgumentsFit(const std::vector<std::string>& args) {
  if (args.size() > kMaxArguments) return false;
  for (const std::string& arg : args) {
    if (os::Utf16Length(arg) > kMaxArgumentLength) return false;
  }
  return true;
}

BridgeGate::Decision BridgeGate::AdmitOrigin(const std::string& origin) {
  Decision decision;
  if (trusted_.empty() || origin != trusted_) {
    if (refusalsLogged_ < kMaxRefusalLines) {
      ++refusalsLogged_;
      decision.logLine = os::TruncateUtf16("call from another origin refused: " + origin, 2047);
    }
    return decision;
  }
  decision.admit = true;
  return decision;
}

BridgeGate::Decision BridgeGate::AdmitArguments(const std::vector<std::string>* args) {
  Decision decision;
  if (!args || !ArgumentsFit(*args)) {
    decision.logLine = "call refused: an argument is not text or longer than 65536 characters";
    return decision;
  }
  decision.admit = true;
  return decision;
}
