#include "net/HttpUrl.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// One part of a parsed URL, or "" when absent.
std::string Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return "";
  std::string value = text;
  curl_free(text);
  return value;
}

std::string Unbracket(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return host;
}

}  // namespace

bool ParseHttpUrl(const std::string& url, ParsedUrl& out) {
  UrlPtr u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
  std::string scheme = Part(u.get(), CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") return false;
  out.https = scheme == "https";
  out.host = Unbracket(Part(u.get(), CURLUPART_HOST));
  if (out.host.empty()) return false;
  out.port = std::atoi(Part(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str());
  if (out.port <= 0) out.port = out.https ? 443 : 80;
  out.pathAndQuery = Part(u.get(), CURLUPART_PATH);
  if (out.pathAndQuery.empty()) out.pathAndQuery.assign(1, '/');
  std::string query = Part(u.get(), CURLUPART_QUERY);
  if (!query.empty()) out.pathAndQuery += "?" + query;
  out.normalized = Part(u.get(), CURLUPART_URL);
  return true;
}

bool ParseProxyUrl(const std::string& value, ParsedUrl& out) {
  // Without a scheme the setting means a plain http proxy (the parser's own default would be https).
  std::string text = value.find("://") == std::string::npos ? "http://" + value : value;
  UrlPtr u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
  out.https = Part(u.get(), CURLUPART_SCHEME) == "https";
  out.host = Unbracket(Part(u.get(), CURLUPART_HOST));
  if (out.host.empty()) return false;
  std::string port = Part(u.get(), CURLUPART_PORT);
  out.port = port.empty() ? 1080 : std::atoi(port.c_str());
  if (port.empty()) curl_url_set(u.get(), CURLUPART_PORT, "1080", 0);
  out.pathAndQuery.clear();
  out.normalized = Part(u.get(), CURLUPART_URL);
  return true;
}
