// The variables command-line clients read: http_proxy for http, https_proxy or HTTPS_PROXY for
// https, else all_proxy or ALL_PROXY; no_proxy, else NO_PROXY. An empty variable counts as unset.
#include "os/ProxySettings.h"

#include <cstdlib>
#include <initializer_list>

namespace os {
namespace {

// The first of the variables that is set and not empty, or "".
std::string FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "";
}

}  // namespace

ProxySettings SystemProxySettings(bool https) {
  ProxySettings settings;
  settings.noProxy = FirstSet({"no_proxy", "NO_PROXY"});
  settings.proxy = https ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                         : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
  return settings;
}

}  // namespace os
