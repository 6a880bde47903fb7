#include "platform/CWindowMessageHandler.h"

#include <cctype>
#include <cstdio>

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/DecimalParse.h"
#include "os/Process.h"
#include "os/WindowMessage.h"

namespace {

constexpr char kModule[] = "CWindowMessageHandlers";

}  // namespace

CWindowMessageHandler::CWindowMessageHandler(std::string commandLine, std::string appName)
    : commandLine_(std::move(commandLine)), appName_(std::move(appName)) {}

// The tokens are taken from the command line in the locale's character set, and keys and values
// are converted back, so text the charset cannot hold arrives as '?'.
std::vector<std::pair<std::string, std::string>> CWindowMessageHandler::ParseParameters(
    const std::string& commandLine) {
  std::vector<std::pair<std::string, std::string>> params;
  const std::string ansi = os::Utf8ToAnsi(commandLine);
  size_t pos = 0;
  while (pos < ansi.size()) {
    if (ansi[pos] == ' ') {
      ++pos;
      continue;
    }
    size_t end = ansi.find(' ', pos);
    if (end == std::string::npos) end = ansi.size();
    const std::string token = ansi.substr(pos, end - pos);
    pos = end;
    const size_t eq = token.find('=');
    if (eq == std::string::npos || eq < 3) continue;
    params.emplace_back(os::AnsiToUtf8(token.substr(2, eq - 2)), os::AnsiToUtf8(token.substr(eq + 1)));
  }
  return params;
}

std::string CWindowMessageHandler::GetOrvaneUriFromCommandLine() {
  const std::string& commandLine = commandLine_;
  LogInfo(commandLine, "CWindowMessageHandler::GetOrvaneUriFromCommandLine", kModule, 91);

  std::string result;
  const std::string& appName = appName_;
  LogInfo(appName, "CWindowMessageHandler::GetOrvaneUriFromCommandLine", kModule, 100);
  const std::string ansiName = os::Utf8ToAnsi(appName);
  const size_t underscore = ansiName.rfind('_');
  if (underscore != std::string::npos) {
    const std::string fileParameter = os::AnsiToUtf8(ansiName.substr(underscore + 1));
    {
      std::lock_guard<std::mutex> hold(lock_);
      fileParameter_ = fileParameter;
    }
    result = "fileparam=" + fileParameter;
  }

  for (const auto& [key, value] : ParseParameters(commandLine)) {
    if (!result.empty()) result += '&';
    result += key + "=" + value;
  }
  LogInfo("GetOrvaneUriFromCommandLine\xEF\xBC\x9A" + result, "CWindowMessageHandler::GetOrvaneUriFromCommandLine",
          kModule, 148);
  return result;
}

std::string CWindowMessageHandler::GetOrvaneParamFromCommandLine(const std::string& key) {
  const std::string& commandLine = commandLine_;
  LogInfo(commandLine, "CWindowMessageHandler::GetOrvaneParamFromCommandLine", kModule, 156);
  // Keys compare as the charset's bytes, exactly.
  const std::string ansiKey = os::AnsiToUtf8(os::Utf8ToAnsi(key));
  for (const auto& [k, value] : ParseParameters(commandLine)) {
    if (k == ansiKey) return value;
  }
  return {};
}

void CWindowMessageHandler::GetOrvaneTokenFromCommandLine() {
  LogInfo(commandLine_, "CWindowMessageHandler::GetOrvaneTokenFromCommandLine", kModule, 80);
  std::string windowId = GetOrvaneParamFromCommandLine("winid");
  std::string token = GetOrvaneParamFromCommandLine("token");
  std::string source = GetOrvaneParamFromCommandLine("source");
  std::lock_guard<std::mutex> hold(lock_);
  windowId_ = std::move(windowId);
  token_ = std::move(token);
  source_ = std::move(source);
  parsed_ = true;
}

long CWindowMessageHandler::ParseWindowId(const std::string& text) {
  return os::ClampTo<long>(os::ParseDecimalPrefix(text));
}

std::vector<uint8_t> CWindowMessageHandler::BuildShowWindowPayload(uint32_t kind) {
  std::vector<uint8_t> payload(kPayloadSize, 0);
  auto put32 = [&payload](size_t offset, uint32_t v) {
    for (int b = 0; b < 4; ++b) payload[offset + b] = static_cast<uint8_t>(v >> (8 * b));
  };
  put32(0, kind);
  payload[4] = 0x31;  // "1" as one UTF-16LE unit; the other 1,023 units stay 0
  put32(4 + 2048, 1);
  return payload;
}

void CWindowMessageHandler::SendShowWindowMessage(unsigned long senderWindow) {
  bool parsed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    parsed = parsed_;
  }
  if (!parsed) GetOrvaneTokenFromCommandLine();
  const std::string windowId = WindowId();
  if (windowId.empty()) return;

  const long handle = ParseWindowId(windowId);
  // A negative id is no window; the message goes nowhere and the result is 0.
  const unsigned long target = handle > 0 ? static_cast<unsigned long>(handle) : 0;
  const long lret = os::SendWindowPayload(target, senderWindow, kShowKind, BuildShowWindowPayload(kShowKind));
  char text[64];
  std::snprintf(text, sizeof text, "SendShowWindowMessage lret:%ld", lret);
  LogInfo(text, "CWindowMessageHandler::SendShowWindowMessage", kModule, 45);
}

std::string CWindowMessageHandler::FileParameter() const {
  std::lock_guard<std::mutex> hold(lock_);
  return fileParameter_;
}

std::string CWindowMessageHandler::WindowId() const {
  std::lock_guard<std::mutex> hold(lock_);
  return windowId_;
}

std::string CWindowMessageHandler::Token() const {
  std::lock_guard<std::mutex> hold(lock_);
  return token_;
}

std::string CWindowMessageHandler::Source() const {
  std::lock_guard<std::mutex> hold(lock_);
  return source_;
}
