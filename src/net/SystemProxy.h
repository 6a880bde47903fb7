// The system's proxy for a request (the settings: os/ProxySettings.h). Any thread (reads the
// settings on every call).
#pragma once

#include <optional>
#include <string>

#include "net/HttpUrl.h"

// The proxy for a request to host: the system's proxy for the scheme. None for a loopback host or
// a host that the settings' no-proxy list names. The result's normalized URL is what libcurl is
// given.
std::optional<ParsedUrl> SystemProxyFor(bool https, const std::string& host);

// Whether a comma-separated no_proxy list names host: "*", the host itself, or a domain the host
// lies in (".example.com" and "example.com" both match "a.example.com").
bool NoProxyListMatches(const std::string& list, const std::string& host);

// localhost, 127.x.x.x or ::1: never sent through a proxy.
bool IsLoopbackHost(const std::string& host);
