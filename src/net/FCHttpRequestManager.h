// Asynchronous HTTP requests with notifications on the owner's thread.
//
// The owner derives from FCHttpRequestManager, hands it an HttpRequestHeader and gets a request id
// back at once. Each request runs on two short-lived worker threads of its own: the connect thread
// resolves the host and connects a socket, the transfer thread sends the request over that socket
// and reads the response (PerformTransfer, HttpTransfer.h). The workers never call the owner: they
// post events (connected, sent, finished) to a queue that a watch drains on the owner's loop
// (os/OwnerLoop.h), where the request advances and the owner's virtual notifications run. The sweep
// of retired requests and the per-request time-outs are timers on the same loop.
//
// Where the parts live: the owner's side here and in FCHttpRequestManager.cpp, a request's own data
// in FCHttpRequest.cpp, the queue in RequestEvents, the worker-side state and its sockets in
// RequestTransport, the two threads in RequestWorkers, the response header blocks in
// ResponseHeaders, the system's proxy in SystemProxy.
//
// The owner's loop is the constructing thread's loop. When nobody runs it yet, requests still go
// out (the workers do all the I/O) and events wait in the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "os/OwnerLoop.h"

namespace inner {

// The response body; the transfer thread appends under the lock, the owner reads under it.
class CReceiveBuffer {
 public:
  void Append(const char* data, size_t size);  // takes the lock
  std::string Copy();                          // takes the lock

  // Held around reading bytes while the transfer may still run.
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

  std::string bytes;  // guarded by the lock while the transfer thread runs

 private:
  std::mutex mutex_;
};

struct Channel;                 // the queue between the workers and the owner (RequestEvents.h)
enum class RequestEvent : int;  // what a worker posts to it

}  // namespace inner

// One request as the owner describes it. The constructor sets the defaults.
struct HttpRequestHeader {
  HttpRequestHeader();

  // "GET" for 0, "POST" for 1 and 2, "DELETE" for 3, "GET" for anything else.
  static const char* VerbText(int verb);

  std::string postData;  // sent only when not empty
  int verb = 0;
  std::string url;           // absolute http or https URL (UTF-8)
  int rangeStart = 0;        // not 0: "Range: bytes=<rangeStart>-" is added after the extra headers
  std::string userAgent;     // default: DefaultUserAgent()
  std::string extraHeaders;  // further header lines, each ending with CR LF
  uint32_t timeoutMs = 0;    // 0: none; otherwise abandoned when not finished this long after the start
  std::string proxyHost;     // empty: the system's proxy settings are used
  int proxyPort = 80;        // only with a proxy host
  std::string proxyUserName;
  std::string proxyPassword;
};

// The system browser's user agent (os/MachineFacts.h), sent when the owner gives none.
std::string DefaultUserAgent();

// Read from the response headers when the request has been sent.
struct HttpResponseInfo {
  int statusCode = 0;     // left unchanged when absent
  int contentLength = 0;  // left unchanged when absent
  std::string lastModified;
  std::string server;
  bool readResult = false;              // true when the body ended normally, false when reading failed
  const void* requestHandle = nullptr;  // identifies the transfer the fields came from; null when none
};

class FCHttpRequest {
 public:
  virtual ~FCHttpRequest();
  FCHttpRequest(const FCHttpRequest&) = delete;
  FCHttpRequest& operator=(const FCHttpRequest&) = delete;

  int Id() const { return id_; }
  const HttpRequestHeader& Header() const { return header_; }
  bool IsHttps() const { return https_; }
  const std::string& HostName() const { return hostName_; }
  int Port() const { return port_; }                             // the URL's port, else 443 for https and 80 for http
  const std::string& ObjectPath() const { return objectPath_; }  // path and query

  // Owner's thread, from the "sent" notification on.
  const HttpResponseInfo& ResponseInfo() const { return responseInfo_; }

  // Body bytes read so far; any thread, no lock.
  int ReceivedBytes() const { return receivedBytes_.load(); }
  // Hold its lock to read the body while the transfer may still run.
  inner::CReceiveBuffer& ReceiveBuffer() { return receiveBuffer_; }

  struct Transport;  // worker-side state (sockets, abort, thread flags): RequestTransport.h

 private:
  friend class FCHttpRequestManager;

  FCHttpRequest(int id, const HttpRequestHeader& header, std::shared_ptr<inner::Channel> channel);

  const int id_;
  HttpRequestHeader header_;
  bool https_ = false;
  bool urlValid_ = false;
  std::string hostName_;
  int port_ = 0;
  std::string objectPath_;
  HttpResponseInfo responseInfo_;
  inner::CReceiveBuffer receiveBuffer_;
  std::atomic<int> receivedBytes_{0};
  std::unique_ptr<Transport> transport_;
  os::LoopSource timeoutSource_;  // owner's thread only
};

class FCHttpRequestManager {
 public:
  // Owner's thread: the thread that constructs the manager.
  FCHttpRequestManager();
  // Owner's thread: stops every transfer, waits at most kShutdownWaitMs for the workers, leaves
  // stragglers to end on their own (they hold their own state) and deletes all requests.
  virtual ~FCHttpRequestManager();
  FCHttpRequestManager(const FCHttpRequestManager&) = delete;
  FCHttpRequestManager& operator=(const FCHttpRequestManager&) = delete;

  // Any thread. Returns the request id (100, 101, ... in call order) before any network activity.
  // While another thread runs the owner's loop the request is handed to that thread (its
  // queues and timers are touched only there); the workers start at once either way.
  int StartRequest(const HttpRequestHeader& header);

  // Owner's thread, or any thread while nobody runs the owner's loop (inspection).
  size_t ActiveCount() const { return active_.size(); }
  size_t RetiredCount() const { return retired_.size(); }
  bool SweepTimerRunning() const { return sweepSource_.Attached(); }
  // The platform's handle of the owner's loop (os::OwnerLoop::Handle).
  void* OwnerContext() const { return loop_->Handle(); }
  static constexpr unsigned kShutdownWaitMs = 3000;
  static constexpr unsigned kSweepPeriodMs = 100;

 protected:
  // Owner's thread. The base versions do nothing. The request is valid only during the call.
  virtual void OnRequestSent(FCHttpRequest& request);
  virtual void OnRequestFinished(FCHttpRequest& request);  // the request is retired right after
  virtual void OnRequestTimeout(FCHttpRequest& request);   // likewise; never followed by Finished

  // The destructor's work, callable earlier (a process-wide instance shuts down at exit but stays
  // valid for threads that are never joined). Afterwards StartRequest still returns an id but sends
  // nothing. Owner's thread; idempotent.
  void Shutdown();

 private:
  using RequestPtr = std::shared_ptr<FCHttpRequest>;

  // All on the owner's thread.
  void Adopt(const RequestPtr& request);  // queue it, start the timers
  void HandleEvent(int id, inner::RequestEvent event);
  void HandleTimeout(int id);
  bool SweepTick();  // false when the sweep timer ended itself
  bool Sweep();      // false when nothing is left to sweep
  void Retire(int id);
  void StartSweepTimer();
  void DrainQueue();
  RequestPtr FindActive(int id) const;

  std::deque<RequestPtr> active_;
  std::deque<RequestPtr> retired_;
  std::shared_ptr<os::OwnerLoop> loop_;
  os::LoopSource eventSource_;
  os::LoopSource sweepSource_;
  std::shared_ptr<inner::Channel> channel_;
  std::atomic<int> nextRequestId_{100};
  std::atomic<bool> shutDown_{false};
};
