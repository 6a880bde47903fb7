#include "net/SystemProxy.h"

#include "os/CodePage.h"
#include "os/ProxySettings.h"

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1";
}

bool NoProxyListMatches(const std::string& list, const std::string& host) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string entry =
        os::TrimBlanks(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (entry == "*") return true;
    if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
    if (!entry.empty()) {
      if (host == entry) return true;
      if (host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
          host[host.size() - entry.size() - 1] == '.')
        return true;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return false;
}

std::optional<ParsedUrl> SystemProxyFor(bool https, const std::string& host) {
  if (IsLoopbackHost(host)) return std::nullopt;
  const os::ProxySettings settings = os::SystemProxySettings(https);
  if (!settings.noProxy.empty() && NoProxyListMatches(settings.noProxy, host)) return std::nullopt;
  if (settings.proxy.empty()) return std::nullopt;
  ParsedUrl parsed;
  if (!ParseProxyUrl(settings.proxy, parsed)) return std::nullopt;
  return parsed;
}
