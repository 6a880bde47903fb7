#include "net/HttpTransfer.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "net/HttpUrl.h"
#include "net/SystemProxy.h"

namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

EasyPtr NewEasy() {
  InitHttpTransfers();
  return EasyPtr(curl_easy_init());
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
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto& c = *static_cast<Callbacks*>(user);
  const size_t n = size * count;
  if (n == 0) return 0;
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

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  const size_t n = size * count;
  static_cast<Callbacks*>(user)->request.headerLine(std::string_view(data, n));
  return n;
}

int OnProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  return static_cast<Callbacks*>(user)->request.progress(total, now) ? 0 : 1;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  auto& c = *static_cast<Callbacks*>(user);
  bool alreadyConnected = false;
  int fd = c.request.openSocket(*address, alreadyConnected);
  if (fd < 0) return CURL_SOCKET_BAD;
  if (alreadyConnected) c.connectedSockets.push_back(fd);
  return fd;
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
CURLcode ApplyPolicy(CURL* e, const std::string& proxy, const TransferRequest& r) {
  const TransferLimits& limits = kTransferLimits;
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(e, option, value);
  };
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, limits.maxRedirects);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_NOPROGRESS, 1L);  // turned on below only with the caller's own function
  set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  set(CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  set(CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
  set(CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
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
  if (!listsComplete) {  // a request without some of its lines is not the request asked for
    result.code = CURLE_OUT_OF_MEMORY;
    result.errorText = curl_easy_strerror(result.code);
    return result;
  }

  EasyPtr easy = NewEasy();
  if (!easy) {
    result.errorText = "no libcurl handle";
    return result;
  }
  CURL* e = easy.get();
  callbacks.easy = e;
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
  if (request.bufferSize > 0) curl_easy_setopt(e, CURLOPT_BUFFERSIZE, request.bufferSize);

  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &callbacks);
  if (request.headerLine) {
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &callbacks);
  }
  if (request.progress) {
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &callbacks);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  }
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
  if (result.code != CURLE_OK) result.errorText = errorBuffer[0] ? errorBuffer : curl_easy_strerror(result.code);
  return result;
}
