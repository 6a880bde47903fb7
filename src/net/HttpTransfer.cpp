#include "net/HttpTransfer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "net/HttpUrl.h"
#include "net/SystemProxy.h"
#include "os/CodePage.h"

namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

using Clock = std::chrono::steady_clock;

// The request's own limit when it is tighter than the policy's.
long Tighter(long requested, long policy) { return requested > 0 && requested < policy ? requested : policy; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         os::EqualsNoCase(std::string(text.substr(0, prefix.size())), std::string(prefix));
}

// The text of a header line after "Name:", without blanks and the line end; nullopt for another name.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || !StartsWithNoCase(line, name) || line[name.size()] != ':') return std::nullopt;
  std::string_view value = line.substr(name.size() + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() &&
         (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' || value.back() == '\t'))
    value.remove_suffix(1);
  return value;
}

// A libcurl string list, freed with its owner.
class Slist {
 public:
  Slist() = default;
  ~Slist() { curl_slist_free_all(head_); }
  Slist(const Slist&) = delete;
  Slist& operator=(const Slist&) = delete;

  bool Append(const std::string& line) {
    curl_slist* next = curl_slist_append(head_, line.c_str());  // on failure the list is unchanged
    if (!next) return false;
    head_ = next;
    return true;
  }
  curl_slist* Get() const { return head_; }

 private:
  curl_slist* head_ = nullptr;
};

// What the callbacks of one transfer share.
struct Callbacks {
  const TransferRequest& request;
  TransferSink& sink;
  TransferResult& result;
  CURL* easy;
  std::vector<curl_socket_t> connectedSockets;  // handed over by openSocket, already connected
  Clock::duration stallLimit{};
  Clock::time_point lastReceived = Clock::now();  // the start, then the last header or body bytes
  long responseStatus = 0;                        // of the response whose header lines are arriving
  bool statusRefused = false;                     // successBodyOnly turned the answer down
  bool downgradeRefused = false;                  // a redirect from https to http was turned down
  bool bodyStarted = false;
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto& c = *static_cast<Callbacks*>(user);
  const size_t n = size * count;
  if (n == 0) return 0;
  c.lastReceived = Clock::now();
  if (!c.bodyStarted) {
    c.bodyStarted = true;
    long status = 0;
    curl_easy_getinfo(c.easy, CURLINFO_RESPONSE_CODE, &status);
    if (c.request.successBodyOnly && status != 200 && status != 206) {
      c.statusRefused = true;
      return 0;
    }
  }
  curl_off_t announced = -1;
  curl_easy_getinfo(c.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  SinkStatus status = c.sink.Write(data, n, announced);
  if (status != SinkStatus::Ok) {
    c.result.sinkStatus = status;
    return 0;  // anything but n: CURLE_WRITE_ERROR
  }
  c.result.bodyBytes += static_cast<int64_t>(n);
  return n;
}

// True when a response of the https URL being fetched redirects to http. Location values without
// a scheme ("/x", "//host/x") stay on the current one.
bool IsDowngrade(Callbacks& c, std::string_view location) {
  if (!StartsWithNoCase(location, "http:")) return false;
  const char* current = nullptr;
  curl_easy_getinfo(c.easy, CURLINFO_EFFECTIVE_URL, &current);
  return current && StartsWithNoCase(current, "https:");
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& c = *static_cast<Callbacks*>(user);
  const size_t n = size * count;
  const std::string_view line(data, n);
  c.lastReceived = Clock::now();
  if (StartsWithNoCase(line, "HTTP/")) {
    // The status line opens every response, interim and redirected ones included.
    size_t space = line.find(' ');
    c.responseStatus =
        space == std::string_view::npos ? 0 : std::strtol(std::string(line.substr(space + 1, 3)).c_str(), nullptr, 10);
  } else if (auto location = HeaderValue(line, "Location");
             location && c.responseStatus >= 300 && c.responseStatus < 400 && IsDowngrade(c, *location)) {
    c.downgradeRefused = true;
    return 0;  // anything but n ends the transfer before the redirect is followed
  }
  if (c.request.headerLine) c.request.headerLine(line);
  return n;
}

// Every transfer's progress: the stall rule, then the caller's own function.
int OnProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  auto& c = *static_cast<Callbacks*>(user);
  if (Clock::now() - c.lastReceived >= c.stallLimit) {
    c.result.stalled = true;
    return 1;
  }
  if (c.request.progress && !c.request.progress(total, now)) return 1;
  return 0;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  auto& c = *static_cast<Callbacks*>(user);
  bool alreadyConnected = false;
  const curl_socket_t socket = c.request.openSocket(*address, alreadyConnected);
  if (socket == CURL_SOCKET_BAD) return CURL_SOCKET_BAD;
  if (alreadyConnected) c.connectedSockets.push_back(socket);
  return socket;
}

int OnSocketOption(void* user, curl_socket_t fd, curlsocktype) {
  const auto& connected = static_cast<Callbacks*>(user)->connectedSockets;
  return std::find(connected.begin(), connected.end(), fd) != connected.end() ? CURL_SOCKOPT_ALREADY_CONNECTED
                                                                              : CURL_SOCKOPT_OK;
}

int OnCloseSocket(void* user, curl_socket_t fd) {
  auto& c = *static_cast<Callbacks*>(user);
  auto& connected = c.connectedSockets;
  connected.erase(std::remove(connected.begin(), connected.end(), fd), connected.end());
  return c.request.closeSocket(fd);
}

// The proxy URL for libcurl: "" for none.
std::string ChooseProxy(const TransferRequest& r) {
  if (r.proxyUrl) return *r.proxyUrl;
  ParsedUrl url;
  if (!ParseHttpUrl(r.url, url)) return "";  // libcurl refuses the URL itself
  std::optional<ParsedUrl> proxy = SystemProxyFor(url.https, url.host);
  return proxy ? proxy->normalized : "";
}

// The policy of every transfer (see HttpTransfer.h); the first option libcurl refuses is returned.
// The stall rule and the later redirect hops are watched by the callbacks.
CURLcode ApplyPolicy(CURL* e, const std::string& proxy, const TransferRequest& r) {
  const TransferLimits& limits = kTransferLimits;
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(e, option, value);
  };
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  // Started on https: every hop stays there. (A chain that reaches https later is held to it by
  // the header callback.)
  set(CURLOPT_REDIR_PROTOCOLS_STR, StartsWithNoCase(r.url, "https:") ? "https" : "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, limits.maxRedirects);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, Tighter(r.connectTimeoutMs, limits.connectTimeoutMs));
  set(CURLOPT_TIMEOUT_MS, 0L);  // a long download is fine as long as bytes keep coming
  set(CURLOPT_LOW_SPEED_LIMIT, 0L);
  // The proxy is decided here ("" = none); libcurl must not read the environment again.
  set(CURLOPT_PROXY, proxy.c_str());
  set(CURLOPT_NOPROXY, "");
  if (!proxy.empty()) {
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!r.proxyUserName.empty()) set(CURLOPT_PROXYUSERNAME, r.proxyUserName.c_str());
    if (!r.proxyPassword.empty()) set(CURLOPT_PROXYPASSWORD, r.proxyPassword.c_str());
  }
  return rc;
}

void ApplyMethod(CURL* e, const TransferRequest& r) {
  const bool post = r.method == "POST";
  if (!r.postData.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.postData.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.postData.data());
    if (!post) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.empty() ? "GET" : r.method.c_str());
  } else if (post) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, 0L);
  } else if (!r.method.empty() && r.method != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
  }
}

}  // namespace

bool InitHttpTransfers() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

TransferResult PerformTransfer(const TransferRequest& request, TransferSink& sink) {
  TransferResult result;
  // Declared before the handle: libcurl still calls back (closeSocket) and may report errors while
  // the handle is cleaned up, when it closes its connections.
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Slist headerLines, resolve;
  Callbacks callbacks{request, sink, result, nullptr, {}};

  bool listsComplete = true;
  for (const std::string& line : request.headerLines) listsComplete = headerLines.Append(line) && listsComplete;
  if (!request.preResolved.empty()) listsComplete = resolve.Append(request.preResolved) && listsComplete;
  InitHttpTransfers();
  EasyPtr easy(curl_easy_init());
  if (!listsComplete) {  // a request without some of its lines is not the request asked for
    result.code = CURLE_OUT_OF_MEMORY;
    result.errorText = curl_easy_strerror(result.code);
    return result;
  }
  if (!easy) {
    result.errorText = "no libcurl handle";
    return result;
  }
  CURL* e = easy.get();
  callbacks.easy = e;
  callbacks.stallLimit = std::chrono::milliseconds(Tighter(request.stallMs, kTransferLimits.stallMs));
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);

  const std::string proxy = ChooseProxy(request);
  result.code = ApplyPolicy(e, proxy, request);
  if (result.code != CURLE_OK) {
    result.errorText = curl_easy_strerror(result.code);
    return result;
  }

  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  if (request.resumeFrom > 0)
    curl_easy_setopt(e, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(request.resumeFrom));
  ApplyMethod(e, request);
  if (headerLines.Get()) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerLines.Get());
  if (!request.userAgent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, request.userAgent.c_str());
  if (resolve.Get()) curl_easy_setopt(e, CURLOPT_RESOLVE, resolve.Get());
  if (!request.caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, request.caFile.c_str());
  if (request.bufferSize > 0) curl_easy_setopt(e, CURLOPT_BUFFERSIZE, request.bufferSize);

  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &callbacks);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &callbacks);
  // Our own function replaces libcurl's progress meter: it never prints.
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &callbacks);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  if (request.openSocket) {
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &callbacks);
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, OnSocketOption);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &callbacks);
  }
  if (request.closeSocket) {
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &callbacks);
  }

  result.code = curl_easy_perform(e);
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.httpStatus);
  curl_off_t announced = -1;
  if (curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK)
    result.announcedLength = announced;
  // Our own refusals, under the codes libcurl gives the like of them.
  if (result.stalled) {
    result.code = CURLE_OPERATION_TIMEDOUT;
    result.errorText =
        "nothing received for " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(callbacks.stallLimit).count()) + " ms";
  } else if (callbacks.downgradeRefused) {
    result.code = CURLE_UNSUPPORTED_PROTOCOL;
    result.errorText = "redirect from https to http refused";
  } else if (callbacks.statusRefused) {
    result.code = CURLE_HTTP_RETURNED_ERROR;
    result.errorText = "answer " + std::to_string(result.httpStatus) + " refused";
  } else if (result.code != CURLE_OK) {
    result.errorText = errorBuffer[0] ? errorBuffer : curl_easy_strerror(result.code);
  }
  return result;
}
