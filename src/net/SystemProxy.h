// The system's proxy settings: the environment variables command-line clients read. Any thread
// (reads the environment).
#pragma once

#include <optional>
#include <string>

#include "net/HttpUrl.h"

// The proxy for a request to host: http_proxy for http, https_proxy or HTTPS_PROXY for https,
// else all_proxy or ALL_PROXY. None for a loopback host or a host that no_proxy (else NO_PROXY)
// lists. The result's normalized URL is what libcurl is given.
std::optional<ParsedUrl> SystemProxyFor(bool https, const std::string& host);

// Whether a comma-separated no_proxy list names host: "*", the host itself, or a domain the host
// lies in (".example.com" and "example.com" both match "a.example.com").
bool NoProxyListMatches(const std::string& list, const std::string& host);

// localhost, 127.x.x.x or ::1: never sent through a proxy.
bool IsLoopbackHost(const std::string& host);
