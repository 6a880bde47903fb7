#include "browser/WebOrigin.h"

namespace browser {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

std::string OriginOfUrl(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return {};
  const std::string scheme = Lower(url.substr(0, colon));
  if (scheme != "http" && scheme != "https") return {};
  // The authority follows "//" (a backslash counts as a slash in a web address) and ends at the
  // path, the query or the fragment.
  size_t start = colon + 1;
  while (start < url.size() && (url[start] == '/' || url[start] == '\\') && start < colon + 3) ++start;
  if (start != colon + 3) return {};
  const size_t end = url.find_first_of("/\\?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);

  std::string host, port;
  if (!authority.empty() && authority[0] == '[') {  // an IPv6 address
    const size_t close = authority.find(']');
    if (close == std::string::npos) return {};
    host = authority.substr(0, close + 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return {};
      port = rest.substr(1);
    }
  } else {
    const size_t portColon = authority.find(':');
    host = authority.substr(0, portColon);
    if (portColon != std::string::npos) port = authority.substr(portColon + 1);
  }
  if (host.empty() || host == "[]") return {};
  if (port.size() > 5) return {};
  unsigned long number = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return {};
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number > 65535) return {};

  std::string origin = scheme + "://" + Lower(host);
  const unsigned long defaultPort = scheme == "http" ? 80 : 443;
  if (!port.empty() && number != defaultPort) origin += ":" + std::to_string(number);
  return origin;
}

}  // namespace browser
