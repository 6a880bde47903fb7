// Splitting of request and proxy URLs (libcurl's URL parser). Any thread.
#pragma once

#include <string>

struct ParsedUrl {
  bool https = false;
  std::string host;          // without the brackets of an IPv6 literal
  int port = 0;              // as written, else the scheme's default
  std::string pathAndQuery;  // "/path?query"
  std::string normalized;    // the whole URL as the parser writes it back
};

// An absolute http or https URL. A port written in the URL is kept; 443/80 only when none is written.
bool ParseHttpUrl(const std::string& url, ParsedUrl& out);

// A proxy setting such as "host:3128" or "http://user:pw@host:3128/"; the port defaults to 1080
// (the usual default of command-line clients). normalized carries the port explicitly.
bool ParseProxyUrl(const std::string& value, ParsedUrl& out);
