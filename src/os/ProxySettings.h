// The user's own proxy settings for requests that name no proxy. Any thread; read on every call.
#pragma once

#include <string>

namespace os {

struct ProxySettings {
  std::string proxy;    // the proxy URL for the scheme; empty: none
  std::string noProxy;  // comma-separated hosts and domains that go direct ("*": all); empty: none
};

// The settings for an https request, or for an http one.
ProxySettings SystemProxySettings(bool https);

}  // namespace os
