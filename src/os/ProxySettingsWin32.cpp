// The user's preconfigured system proxy (WinHttpGetIEProxyConfigForCurrentUser). A proxy list of
// per-scheme entries ("http=host:port;https=host:port") gives each scheme its own; a single entry
// serves both. The bypass list (';' or blank separated) becomes the comma-separated list libcurl
// takes; "<local>" has no counterpart there and is left out. Automatic configuration (a script or
// detection) is not run: such a user goes direct.
#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <string>

#include "os/ProxySettings.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

std::string Take(LPWSTR text) {
  if (!text) return {};
  std::string out = win32::Narrow(std::wstring(text));
  GlobalFree(text);
  return out;
}

// The entry for the scheme from a list like "http=a:1;https=b:2"; the whole text when it has no '='.
std::string ProxyFor(const std::string& list, const std::string& scheme) {
  if (list.find('=') == std::string::npos) {
    const size_t end = list.find_first_of("; ");
    return list.substr(0, end);
  }
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find_first_of("; ", start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    start = end + 1;
    const size_t equals = entry.find('=');
    if (equals != std::string::npos && entry.compare(0, equals, scheme) == 0) return entry.substr(equals + 1);
  }
  return {};
}

std::string NoProxyList(const std::string& bypass) {
  std::string out;
  size_t start = 0;
  while (start < bypass.size()) {
    size_t end = bypass.find_first_of("; \t\r\n", start);
    if (end == std::string::npos) end = bypass.size();
    const std::string host = bypass.substr(start, end - start);
    start = end + 1;
    if (host.empty() || host == "<local>") continue;
    out += (out.empty() ? "" : ",") + host;
  }
  return out;
}

}  // namespace

ProxySettings SystemProxySettings(bool https) {
  ProxySettings settings;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
  Take(config.lpszAutoConfigUrl);
  const std::string list = Take(config.lpszProxy);
  const std::string bypass = Take(config.lpszProxyBypass);
  std::string proxy = ProxyFor(list, https ? "https" : "http");
  if (!proxy.empty() && proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
  settings.proxy = proxy;
  settings.noProxy = proxy.empty() ? std::string() : NoProxyList(bypass);
  return settings;
}

}  // namespace os
