#include "net/SystemProxy.h"

#include <cstdlib>

#include "os/CodePage.h"

namespace {

// The first of the variables that is set and not empty, or null.
const char* FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return nullptr;
}

}  // namespace

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
  const char* noProxy = FirstSet({"no_proxy", "NO_PROXY"});
  if (noProxy && NoProxyListMatches(noProxy, host)) return std::nullopt;
  const char* value = https ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                            : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
  if (!value) return std::nullopt;
  ParsedUrl parsed;
  if (!ParseProxyUrl(value, parsed)) return std::nullopt;
  return parsed;
}
