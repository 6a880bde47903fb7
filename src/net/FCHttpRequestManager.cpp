#include "net/FCHttpRequestManager.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <glib.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "net/HttpUrl.h"

namespace inner {

void CReceiveBuffer::Append(const char* data, size_t size) {
  Scoped lock(*this);
  bytes.append(data, size);
}

std::string CReceiveBuffer::Copy() {
  Scoped lock(*this);
  return bytes;
}

// The queue between the workers and the owner's context, and the count of running workers that
// the shutdown waits for. Shared by the manager and every request, so a worker that outlives the
// manager still posts into valid memory (and its events are dropped).
struct Channel {
  struct Item {
    int id = 0;
    int event = 0;
    std::shared_ptr<FCHttpRequest> adopt;  // a request started on another thread
  };

  explicit Channel(GMainContext* ctx) : context(g_main_context_ref(ctx)) {}
  ~Channel() { g_main_context_unref(context); }

  // Any thread.
  void Post(int id, int event) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (closed) return;
      queue.push_back(Item{id, event, nullptr});
    }
    g_main_context_wakeup(context);
  }

  // Counts one more running worker; false (nothing counted) once the manager shut down.
  bool AddWorker() {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return false;
    ++runningWorkers;
    return true;
  }

  // Hands a request to the owner and counts its connect thread, in one step.
  bool Admit(std::shared_ptr<FCHttpRequest> request) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (closed) return false;
      queue.push_back(Item{0, 0, std::move(request)});
      ++runningWorkers;
    }
    g_main_context_wakeup(context);
    return true;
  }

  // Called last by every worker (a transfer may be counted after the manager shut down).
  void WorkerEnded() {
    std::lock_guard<std::mutex> lock(mutex);
    --runningWorkers;
    workersDone.notify_all();
  }

  bool Pop(Item& item) {
    std::lock_guard<std::mutex> lock(mutex);
    if (queue.empty()) return false;
    item = std::move(queue.front());
    queue.pop_front();
    return true;
  }

  bool HasItems() {
    std::lock_guard<std::mutex> lock(mutex);
    return !queue.empty();
  }

  GMainContext* const context;
  std::mutex mutex;
  std::condition_variable workersDone;
  std::deque<Item> queue;
  bool closed = false;
  int runningWorkers = 0;
};

}  // namespace inner

// ---------------------------------------------------------------------------------------------
// Worker-side state of one request.

struct FCHttpRequest::Transport {
  explicit Transport(std::shared_ptr<inner::Channel> ch) : channel(std::move(ch)) {
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }
  ~Transport() {
    if (socketFd >= 0) close(socketFd);
    if (wakeFd >= 0) close(wakeFd);
  }

  // Owner's thread (or the shutdown): makes the blocked worker's call fail so it runs to its end.
  void Abort() {
    std::lock_guard<std::mutex> lock(mutex);
    aborted.store(true);
    if (socketFd >= 0) shutdown(socketFd, SHUT_RDWR);
    for (int fd : laterSockets) shutdown(fd, SHUT_RDWR);
    if (wakeFd >= 0) {
      uint64_t one = 1;
      ssize_t written = write(wakeFd, &one, sizeof one);
      (void)written;
    }
  }

  std::shared_ptr<inner::Channel> channel;
  std::mutex mutex;       // guards socketFd and laterSockets against Abort
  int socketFd = -1;      // the connection; closed with the request, never by libcurl
  std::vector<int> laterSockets;  // connections libcurl opens itself (redirects elsewhere)
  int wakeFd = -1;        // signalled by Abort while the connect thread waits
  std::atomic<bool> aborted{false};
  std::atomic<bool> connectRunning{false};
  std::atomic<bool> transferRunning{false};

  // Set before the threads start.
  std::string connectHost;  // the server, or the proxy
  int connectPort = 0;
  std::string proxyUrl;  // "" = no proxy

  // Connect thread → transfer thread (the transfer thread starts after these are written).
  bool connected = false;
  std::string resolveEntry;  // "host:port:address" so libcurl does not resolve again

  // Transfer thread → owner (written before the event that announces them).
  std::string rawHeaders;
  const void* transferHandle = nullptr;
  std::atomic<bool> readResult{false};

  // The two worker threads (each holds the request until it ends).
  static void RunConnect(std::shared_ptr<FCHttpRequest> request);
  static void RunTransfer(std::shared_ptr<FCHttpRequest> request);
};

namespace {

std::once_flag gCurlInit;

std::string MachineName() {
  struct utsname u {};
  if (uname(&u) != 0) return "x86_64";
  return u.machine;
}

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1";
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool NoProxyMatches(const std::string& host) {
  const char* list = std::getenv("no_proxy");
  if (!list || !*list) list = std::getenv("NO_PROXY");
  if (!list) return false;
  std::string all = list;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    std::string entry = Trim(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
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

// The proxy the system (the environment, as other command-line clients read it) names for this URL.
bool SystemProxy(bool https, const std::string& host, std::string& proxyHost, int& proxyPort, std::string& proxyUrl) {
  if (IsLoopbackHost(host) || NoProxyMatches(host)) return false;
  const char* value = https ? std::getenv("https_proxy") : std::getenv("http_proxy");
  if ((!value || !*value) && https) value = std::getenv("HTTPS_PROXY");
  if (!value || !*value) value = std::getenv("all_proxy");
  if (!value || !*value) value = std::getenv("ALL_PROXY");
  if (!value || !*value) return false;
  ParsedUrl parsed;
  if (!ParseProxyUrl(value, parsed)) return false;
  proxyHost = parsed.host;
  proxyPort = parsed.port;
  proxyUrl = parsed.normalized;
  return true;
}

// Connects a non-blocking socket to host:port; returns it, or -1. Abort wakes the wait.
int ConnectSocket(FCHttpRequest::Transport& t, std::string& resolvedAddress) {
  struct addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* list = nullptr;
  std::string port = std::to_string(t.connectPort);
  if (getaddrinfo(t.connectHost.c_str(), port.c_str(), &hints, &list) != 0) return -1;
  std::unique_ptr<struct addrinfo, void (*)(struct addrinfo*)> guard(list, freeaddrinfo);

  for (struct addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(t.mutex);
      if (t.aborted.load()) {
        close(fd);
        return -1;
      }
      t.socketFd = fd;
    }
    bool ok = connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS) {
      struct pollfd fds[2] = {{fd, POLLOUT, 0}, {t.wakeFd, POLLIN, 0}};
      int rc;
      do {
        rc = poll(fds, 2, -1);
      } while (rc < 0 && errno == EINTR);
      if (rc > 0 && !(fds[1].revents & POLLIN) && !t.aborted.load()) {
        int err = 0;
        socklen_t len = sizeof err;
        ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
      }
    }
    if (ok && !t.aborted.load()) {
      char text[INET6_ADDRSTRLEN] = {};
      const void* addr = ai->ai_family == AF_INET6
                             ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr)
                             : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr);
      inet_ntop(ai->ai_family, addr, text, sizeof text);
      resolvedAddress = ai->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text);
      return fd;
    }
    {
      std::lock_guard<std::mutex> lock(t.mutex);
      t.socketFd = -1;
    }
    close(fd);
    if (t.aborted.load()) return -1;
  }
  return -1;
}

// ---- libcurl callbacks of the transfer thread ----

struct TransferContext {
  FCHttpRequest::Transport* transport = nullptr;
  inner::CReceiveBuffer* buffer = nullptr;
  std::atomic<int>* receivedBytes = nullptr;
  int id = 0;
  bool socketHandedOver = false;
  bool sentPosted = false;
  std::string block;      // the header block being received
  std::string lastBlock;  // the last complete one
};

int StatusOfBlock(const std::string& block) {
  size_t space = block.find(' ');
  if (space == std::string::npos) return 0;
  return std::atoi(block.c_str() + space + 1);
}

bool BlockHasHeader(const std::string& block, const char* name) {
  size_t pos = 0;
  size_t len = std::strlen(name);
  while ((pos = block.find('\n', pos)) != std::string::npos) {
    ++pos;
    if (block.size() - pos > len && strncasecmp(block.c_str() + pos, name, len) == 0 && block[pos + len] == ':')
      return true;
  }
  return false;
}

void PostSent(TransferContext& c) {
  if (c.sentPosted) return;
  c.sentPosted = true;
  c.transport->rawHeaders = c.lastBlock;
  c.transport->channel->Post(c.id, 1);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& c = *static_cast<TransferContext*>(user);
  size_t n = size * count;
  std::string line(data, n);
  if (line == "\r\n" || line == "\n") {
    c.lastBlock = c.block;
    c.block.clear();
    int status = StatusOfBlock(c.lastBlock);
    bool interim = status >= 100 && status < 200;
    bool redirect = status >= 300 && status < 400 && BlockHasHeader(c.lastBlock, "location");
    if (!interim && !redirect) PostSent(c);
  } else {
    c.block += line;
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& c = *static_cast<TransferContext*>(user);
  size_t n = size * count;
  if (c.transport->aborted.load()) return 0;
  PostSent(c);  // a response without a header block (HTTP/0.9) still counts as sent
  c.receivedBytes->fetch_add(static_cast<int>(n));
  c.buffer->Append(data, n);
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<TransferContext*>(user)->transport->aborted.load() ? 1 : 0;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, struct curl_sockaddr* address) {
  auto& c = *static_cast<TransferContext*>(user);
  if (c.transport->aborted.load()) return CURL_SOCKET_BAD;
  if (purpose == CURLSOCKTYPE_IPCXN && !c.socketHandedOver) {
    c.socketHandedOver = true;
    return c.transport->socketFd;
  }
  // A later connection (a redirect to another server): libcurl connects it itself; Abort must
  // still be able to interrupt it.
  int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd < 0) return CURL_SOCKET_BAD;
  std::lock_guard<std::mutex> lock(c.transport->mutex);
  if (c.transport->aborted.load()) {
    close(fd);
    return CURL_SOCKET_BAD;
  }
  c.transport->laterSockets.push_back(fd);
  return fd;
}

int OnSocketOption(void* user, curl_socket_t fd, curlsocktype) {
  auto& c = *static_cast<TransferContext*>(user);
  return fd == c.transport->socketFd ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
}

int OnCloseSocket(void* user, curl_socket_t fd) {
  auto& c = *static_cast<TransferContext*>(user);
  if (fd == c.transport->socketFd) return 0;  // ours: closed with the request, after every Abort
  std::lock_guard<std::mutex> lock(c.transport->mutex);
  auto& later = c.transport->laterSockets;
  later.erase(std::remove(later.begin(), later.end(), fd), later.end());
  return close(fd);
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

// Sends the request and reads the body; returns the result of the last read.
bool Transfer(FCHttpRequest& request, FCHttpRequest::Transport& t, TransferContext& c) {
  const HttpRequestHeader& h = request.Header();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return false;
  CURL* e = easy.get();
  t.transferHandle = e;

  // Header lines: the extra headers, then the Range line; libcurl's own additions that the
  // owner did not ask for are switched off.
  std::unique_ptr<curl_slist, SlistDeleter> lines;
  auto add = [&](const std::string& line) {
    curl_slist* next = curl_slist_append(lines.get(), line.c_str());
    if (next) {
      (void)lines.release();
      lines.reset(next);
    }
  };
  std::string extra = h.extraHeaders;
  if (h.rangeStart != 0) {
    char range[64];
    std::snprintf(range, sizeof range, "Range: bytes=%d-\r\n", h.rangeStart);
    extra += range;
  }
  size_t pos = 0;
  bool hasContentType = false;
  while (pos < extra.size()) {
    size_t end = extra.find('\n', pos);
    std::string line = extra.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) {
      if (strncasecmp(line.c_str(), "content-type:", 13) == 0) hasContentType = true;
      add(line);
    }
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  add("Expect:");
  if (!hasContentType) add("Content-Type:");

  std::unique_ptr<curl_slist, SlistDeleter> resolve;
  if (!t.resolveEntry.empty()) resolve.reset(curl_slist_append(nullptr, t.resolveEntry.c_str()));

  curl_easy_setopt(e, CURLOPT_URL, h.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 8192L);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, lines.get());
  if (resolve) curl_easy_setopt(e, CURLOPT_RESOLVE, resolve.get());
  if (!h.userAgent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, h.userAgent.c_str());
  // The proxy was chosen with the request ("" = none): libcurl must not consult the environment again.
  curl_easy_setopt(e, CURLOPT_PROXY, t.proxyUrl.c_str());
  curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  if (!t.proxyUrl.empty()) {
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!h.proxyUserName.empty()) curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, h.proxyUserName.c_str());
    if (!h.proxyPassword.empty()) curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, h.proxyPassword.c_str());
  }

  const char* verb = HttpRequestHeader::VerbText(h.verb);
  if (!h.postData.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(h.postData.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, h.postData.data());
    if (std::strcmp(verb, "POST") != 0) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb);
  } else if (std::strcmp(verb, "POST") == 0) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, 0L);
  } else if (std::strcmp(verb, "DELETE") == 0) {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb);
  }

  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &c);
  curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, OnSocketOption);
  curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &c);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &c);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &c);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &c);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &c);

  CURLcode rc = curl_easy_perform(e);
  return rc == CURLE_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

HttpRequestHeader::HttpRequestHeader() : userAgent(DefaultUserAgent()) {}

const char* HttpRequestHeader::VerbText(int verb) {
  switch (verb) {
    case 1:
    case 2:
      return "POST";
    case 3:
      return "DELETE";
    default:
      return "GET";
  }
}

std::string DefaultUserAgent() {
  static const std::string agent =
      "Mozilla/5.0 (X11; Linux " + MachineName() + ") AppleWebKit/605.1.15 (KHTML, like Gecko)";
  return agent;
}

FCHttpRequest::FCHttpRequest(int id, const HttpRequestHeader& header, std::shared_ptr<inner::Channel> channel)
    : id_(id), header_(header), transport_(std::make_unique<Transport>(std::move(channel))) {
  ParsedUrl parsed;
  urlValid_ = ParseHttpUrl(header_.url, parsed);
  if (urlValid_) {
    https_ = parsed.https;
    hostName_ = parsed.host;
    port_ = parsed.port;
    objectPath_ = parsed.pathAndQuery;
  }
  if (https_) header_.openFlags |= HttpRequestHeader::kFlagSecure;

  Transport& t = *transport_;
  t.connectHost = hostName_;
  t.connectPort = port_;
  if (!urlValid_) return;
  if (!header_.proxyHost.empty()) {
    t.connectHost = header_.proxyHost;
    t.connectPort = header_.proxyPort;
    std::string host = header_.proxyHost.find(':') != std::string::npos ? "[" + header_.proxyHost + "]"
                                                                         : header_.proxyHost;
    t.proxyUrl = "http://" + host + ":" + std::to_string(header_.proxyPort);
  } else {
    std::string proxyHost, proxyUrl;
    int proxyPort = 0;
    if (SystemProxy(https_, hostName_, proxyHost, proxyPort, proxyUrl)) {
      t.connectHost = proxyHost;
      t.connectPort = proxyPort;
      t.proxyUrl = proxyUrl;
    }
  }
}

FCHttpRequest::~FCHttpRequest() = default;

// Connect thread: connects, posts 0, then starts the transfer thread itself, so a request goes
// out even while nobody iterates the owner's context.
void FCHttpRequest::Transport::RunConnect(std::shared_ptr<FCHttpRequest> request) {
  Transport* t = request->transport_.get();
  std::string address;
  bool connected = false;
  if (request->urlValid_ && !t->aborted.load()) connected = ConnectSocket(*t, address) >= 0;
  t->connected = connected;
  if (connected && !IsIpLiteral(t->connectHost))
    t->resolveEntry = t->connectHost + ":" + std::to_string(t->connectPort) + ":" + address;

  std::shared_ptr<inner::Channel> channel = t->channel;
  bool transferCounted = channel->AddWorker();
  channel->Post(request->id_, 0);
  if (transferCounted) {
    t->transferRunning.store(true);
    try {
      std::thread(&Transport::RunTransfer, request).detach();
    } catch (const std::system_error&) {
      // No thread: the request ends as a failed send and read.
      channel->Post(request->id_, 1);
      channel->Post(request->id_, 2);
      t->transferRunning.store(false);
      channel->WorkerEnded();
    }
  }
  t->connectRunning.store(false);
  request.reset();  // the request may end here when the manager dropped it already
  channel->WorkerEnded();
}

// Transfer thread: sends the request, posts 1, reads the body, posts 2.
void FCHttpRequest::Transport::RunTransfer(std::shared_ptr<FCHttpRequest> request) {
  Transport* t = request->transport_.get();
  TransferContext c;
  c.transport = t;
  c.buffer = &request->receiveBuffer_;
  c.receivedBytes = &request->receivedBytes_;
  c.id = request->id_;
  bool readOk = false;
  if (t->connected && !t->aborted.load()) readOk = Transfer(*request, *t, c);
  if (!c.sentPosted) {
    if (!c.block.empty()) c.lastBlock = c.block;
    PostSent(c);
  }
  t->readResult.store(readOk);
  std::shared_ptr<inner::Channel> channel = t->channel;
  channel->Post(c.id, 2);
  t->transferRunning.store(false);
  request.reset();
  channel->WorkerEnded();
}

// ---------------------------------------------------------------------------------------------
// Owner side.

struct FCHttpRequestManager::Glue {
  struct EventSource {
    GSource base;
    FCHttpRequestManager* manager;
  };
  struct TimerData {
    FCHttpRequestManager* manager;
    int id;
  };

  static FCHttpRequestManager* Manager(GSource* source) { return reinterpret_cast<EventSource*>(source)->manager; }

  static gboolean Prepare(GSource* source, gint* timeout) {
    *timeout = -1;
    return Manager(source)->channel_->HasItems();
  }
  static gboolean Check(GSource* source) { return Manager(source)->channel_->HasItems(); }
  static gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    Manager(source)->DrainQueue();
    return G_SOURCE_CONTINUE;
  }

  // Timer 30: the sweep of retired requests; stops itself when nothing is left.
  static gboolean SweepTick(gpointer data) {
    auto* manager = static_cast<FCHttpRequestManager*>(data);
    if (manager->Sweep()) return G_SOURCE_CONTINUE;
    g_source_unref(manager->sweepSource_);
    manager->sweepSource_ = nullptr;
    return G_SOURCE_REMOVE;
  }

  // A request's time-out timer fires once.
  static gboolean TimeoutTick(gpointer data) {
    auto* timer = static_cast<TimerData*>(data);
    timer->manager->HandleTimeout(timer->id);
    return G_SOURCE_REMOVE;
  }
  static void FreeTimer(gpointer data) { delete static_cast<TimerData*>(data); }

  static GSourceFuncs funcs;
};

GSourceFuncs FCHttpRequestManager::Glue::funcs = {
    FCHttpRequestManager::Glue::Prepare, FCHttpRequestManager::Glue::Check, FCHttpRequestManager::Glue::Dispatch,
    nullptr, nullptr, nullptr};

FCHttpRequestManager::FCHttpRequestManager() {
  std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  context_ = g_main_context_ref_thread_default();
  channel_ = std::make_shared<inner::Channel>(context_);
  eventSource_ = g_source_new(&Glue::funcs, sizeof(Glue::EventSource));
  reinterpret_cast<Glue::EventSource*>(eventSource_)->manager = this;
  g_source_set_name(eventSource_, "http request events");
  g_source_attach(eventSource_, context_);
}

FCHttpRequestManager::~FCHttpRequestManager() {
  Shutdown();
  g_main_context_unref(context_);
}

void FCHttpRequestManager::OnRequestSent(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimeout(FCHttpRequest&) {}

int FCHttpRequestManager::StartRequest(const HttpRequestHeader& header) {
  int id = nextRequestId_.fetch_add(1);
  if (shutDown_) return id;
  RequestPtr request(new FCHttpRequest(id, header, channel_));
  request->transport_->connectRunning.store(true);
  // Holding the owner's context serialises this with everything that runs there (dispatch,
  // timers): on the thread that iterates it, or on any thread while nobody does, the request is
  // queued here; otherwise it is handed to that thread.
  if (g_main_context_acquire(context_)) {
    bool admitted = channel_->AddWorker();
    if (admitted) Adopt(request);
    g_main_context_release(context_);
    if (!admitted) return id;  // the manager is shutting down
  } else if (!channel_->Admit(request)) {
    return id;
  }
  try {
    std::thread(&FCHttpRequest::Transport::RunConnect, request).detach();
  } catch (const std::system_error&) {
    // No thread: the request ends as a failed connection, send and read.
    channel_->Post(id, 0);
    channel_->Post(id, 1);
    channel_->Post(id, 2);
    request->transport_->connectRunning.store(false);
    channel_->WorkerEnded();
  }
  return id;
}

void FCHttpRequestManager::Adopt(const RequestPtr& request) {
  StartSweepTimer();
  if (request->header_.timeoutMs != 0) {
    GSource* timer = g_timeout_source_new(request->header_.timeoutMs);
    g_source_set_callback(timer, Glue::TimeoutTick, new Glue::TimerData{this, request->id_}, Glue::FreeTimer);
    g_source_attach(timer, context_);
    request->timeoutSource_ = timer;
  }
  active_.push_back(request);
}

void FCHttpRequestManager::StopTimer(GSource*& source) {
  if (!source) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

void FCHttpRequestManager::StartSweepTimer() {
  StopTimer(sweepSource_);  // restarting resets the period, like setting a window timer again
  sweepSource_ = g_timeout_source_new(kSweepPeriodMs);
  g_source_set_callback(sweepSource_, Glue::SweepTick, this, nullptr);
  g_source_attach(sweepSource_, context_);
}

void FCHttpRequestManager::DrainQueue() {
  inner::Channel::Item item;
  while (!shutDown_ && channel_->Pop(item)) {
    if (item.adopt) {
      RequestPtr request = std::move(item.adopt);
      Adopt(request);
    } else {
      HandleEvent(item.id, item.event);
    }
  }
}

FCHttpRequestManager::RequestPtr FCHttpRequestManager::FindActive(int id) const {
  for (const RequestPtr& request : active_)
    if (request->id_ == id) return request;
  return nullptr;
}

namespace {

// The value of one header of a header block, or false when absent.
bool HeaderValue(const std::string& block, const char* name, std::string& value) {
  size_t len = std::strlen(name);
  size_t pos = block.find('\n');
  while (pos != std::string::npos) {
    ++pos;
    size_t end = block.find('\n', pos);
    std::string line = block.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (line.size() > len && strncasecmp(line.c_str(), name, len) == 0 && line[len] == ':') {
      value = Trim(line.substr(len + 1));
      return true;
    }
    pos = end;
  }
  return false;
}

}  // namespace

void FCHttpRequestManager::HandleEvent(int id, int event) {
  RequestPtr request = FindActive(id);
  if (!request) return;  // retired meanwhile
  FCHttpRequest::Transport& t = *request->transport_;
  switch (event) {
    case 0:
      // Connected (or not): the connect thread has already handed over to the transfer thread.
      break;
    case 1: {
      HttpResponseInfo& info = request->responseInfo_;
      info.requestHandle = t.connected ? t.transferHandle : nullptr;
      if (info.requestHandle) {
        const std::string& block = t.rawHeaders;
        size_t eol = block.find('\n');
        std::string statusLine = Trim(block.substr(0, eol));
        size_t space = statusLine.find(' ');
        if (statusLine.rfind("HTTP/", 0) == 0 && space != std::string::npos) {
          std::string code = statusLine.substr(space + 1, 3);
          if (!code.empty()) info.statusCode = std::atoi(code.c_str());
        }
        std::string value;
        if (HeaderValue(block, "content-length", value) && !value.empty())
          info.contentLength = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
        if (HeaderValue(block, "last-modified", value)) info.lastModified = value;
        if (HeaderValue(block, "server", value)) info.server = value;
      }
      OnRequestSent(*request);
      break;
    }
    case 2:
      request->responseInfo_.readResult = t.readResult.load();
      OnRequestFinished(*request);
      Retire(id);
      break;
    default:
      break;
  }
}

void FCHttpRequestManager::HandleTimeout(int id) {
  // The timer source ends with this call: forget it.
  for (auto* queue : {&active_, &retired_})
    for (const RequestPtr& request : *queue)
      if (request->id_ == id && request->timeoutSource_) {
        g_source_unref(request->timeoutSource_);
        request->timeoutSource_ = nullptr;
      }
  RequestPtr request = FindActive(id);
  if (!request) return;
  OnRequestTimeout(*request);
  Retire(id);
}

void FCHttpRequestManager::Retire(int id) {
  for (auto it = active_.begin(); it != active_.end(); ++it) {
    if ((*it)->id_ != id) continue;
    RequestPtr request = *it;
    request->transport_->Abort();
    active_.erase(it);
    retired_.push_back(request);
    return;
  }
}

bool FCHttpRequestManager::Sweep() {
  if (active_.empty() && retired_.empty()) return false;
  bool deleted = true;
  while (deleted) {
    deleted = false;
    for (auto it = retired_.begin(); it != retired_.end(); ++it) {
      FCHttpRequest::Transport& t = *(*it)->transport_;
      if (t.connectRunning.load() || t.transferRunning.load()) continue;
      StopTimer((*it)->timeoutSource_);
      retired_.erase(it);
      deleted = true;
      break;
    }
  }
  return true;
}

void FCHttpRequestManager::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  bool acquired = g_main_context_acquire(context_);  // keeps other threads out of the queues meanwhile

  // From here on no notification reaches the owner.
  std::deque<inner::Channel::Item> pending;
  {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->closed = true;
    pending.swap(channel_->queue);
  }
  StopTimer(eventSource_);
  StopTimer(sweepSource_);

  // Stop every transfer, including requests handed over from other threads but not adopted yet.
  std::deque<RequestPtr> all;
  for (auto& item : pending)
    if (item.adopt) all.push_back(std::move(item.adopt));
  all.insert(all.end(), active_.begin(), active_.end());
  all.insert(all.end(), retired_.begin(), retired_.end());
  for (const RequestPtr& request : all) {
    StopTimer(request->timeoutSource_);
    request->transport_->Abort();
  }

  // Wait at most the shutdown wait; workers still running then keep their request alive on their
  // own and end without touching the manager.
  {
    std::unique_lock<std::mutex> lock(channel_->mutex);
    channel_->workersDone.wait_for(lock, std::chrono::milliseconds(kShutdownWaitMs),
                                   [this] { return channel_->runningWorkers == 0; });
  }
  active_.clear();
  retired_.clear();
  if (acquired) g_main_context_release(context_);
}
