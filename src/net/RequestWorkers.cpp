#include "net/RequestWorkers.h"

#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "net/HttpTransfer.h"
#include "net/RequestEvents.h"
#include "net/RequestTransport.h"
#include "net/ResponseHeaders.h"
#include "os/CodePage.h"
#include "os/CrashHandler.h"

namespace inner {
namespace {

using Transport = FCHttpRequest::Transport;

// Posts Sent once, with the final response's header block: when that block is complete, or with
// the first body byte (a response without headers), or at the end of a transfer that got neither.
class SentNotice {
 public:
  explicit SentNotice(Transport& t) : t_(t) {}
  void AddHeaderLine(std::string_view line) {
    if (blocks_.AddLine(line)) Post();
  }
  void Post() {
    if (posted_) return;
    posted_ = true;
    t_.rawHeaders = blocks_.LastBlock();
    t_.channel->Post(t_.id, RequestEvent::Sent);
  }

 private:
  Transport& t_;
  HeaderBlocks blocks_;
  bool posted_ = false;
};

// The body goes into the request's receive buffer; an aborted request takes no more.
class ReceiveBufferSink final : public TransferSink {
 public:
  ReceiveBufferSink(Transport& t, SentNotice& sent) : t_(t), sent_(sent) {}
  SinkStatus Write(const char* data, size_t size, int64_t) override {
    if (t_.aborted.load()) return SinkStatus::Cancelled;
    sent_.Post();
    t_.receivedBytes.fetch_add(static_cast<int>(size));
    t_.buffer.Append(data, size);  // may wait while the owner holds the buffer's lock
    return SinkStatus::Ok;
  }

 private:
  Transport& t_;
  SentNotice& sent_;
};

// The owner's header lines, then the Range line; libcurl's own additions that the owner did not
// ask for are switched off.
std::vector<std::string> HeaderLines(const HttpRequestHeader& h) {
  std::string extra = h.extraHeaders;
  if (h.rangeStart != 0) extra += "Range: bytes=" + std::to_string(h.rangeStart) + "-\r\n";
  std::vector<std::string> lines;
  bool hasContentType = false;
  size_t pos = 0;
  while (pos < extra.size()) {
    size_t end = extra.find('\n', pos);
    std::string line = extra.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) {
      if (os::EqualsNoCase(line.substr(0, 13), "content-type:")) hasContentType = true;
      lines.push_back(line);
    }
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  lines.push_back("Expect:");
  if (!hasContentType) lines.push_back("Content-Type:");
  return lines;
}

// Transfer thread: sends the request, posts Sent, reads the body, posts Finished.
void RunTransfer(std::shared_ptr<FCHttpRequest> request, Transport* t) {
  os::ThreadSignalStack signalStack;
  SentNotice sent(*t);
  bool readOk = false;
  if (t->connected && !t->aborted.load()) {
    const HttpRequestHeader& h = t->header;
    TransferRequest transfer;
    transfer.url = h.url;
    transfer.method = HttpRequestHeader::VerbText(h.verb);
    transfer.postData = h.postData;
    transfer.headerLines = HeaderLines(h);
    transfer.userAgent = h.userAgent;
    transfer.proxyUrl = t->proxyUrl;  // chosen with the request
    transfer.proxyUserName = h.proxyUserName;
    transfer.proxyPassword = h.proxyPassword;
    transfer.preResolved = t->preResolved;
    transfer.bufferSize = 8192;
    transfer.progress = [t](int64_t, int64_t) { return !t->aborted.load(); };
    transfer.headerLine = [&sent](std::string_view line) { sent.AddHeaderLine(line); };
    transfer.openSocket = [t](const curl_sockaddr& address, bool& alreadyConnected) {
      return t->OpenSocket(address, alreadyConnected);
    };
    transfer.closeSocket = [t](curl_socket_t socket) { return t->CloseSocket(socket); };
    ReceiveBufferSink sink(*t, sent);
    t->transferRan = true;
    readOk = PerformTransfer(transfer, sink).Ok();
  }
  sent.Post();
  t->readResult.store(readOk);
  std::shared_ptr<Channel> channel = t->channel;
  channel->Post(t->id, RequestEvent::Finished);
  t->transferRunning.store(false);
  request.reset();  // t may be gone from here on
  channel->WorkerEnded();
}

// Connect thread: connects, posts Connected, then starts the transfer thread.
void RunConnect(std::shared_ptr<FCHttpRequest> request, Transport* t) {
  os::ThreadSignalStack signalStack;
  if (t->urlValid && !t->aborted.load()) t->Connect();
  std::shared_ptr<Channel> channel = t->channel;
  const int id = t->id;
  bool transferCounted = channel->AddWorker();
  channel->Post(id, RequestEvent::Connected);
  if (transferCounted) {
    t->transferRunning.store(true);
    try {
      std::thread(RunTransfer, request, t).detach();
    } catch (const std::system_error&) {
      // No thread: the request ends as a failed send and read.
      channel->Post(id, RequestEvent::Sent);
      channel->Post(id, RequestEvent::Finished);
      t->transferRunning.store(false);
      channel->WorkerEnded();
    }
  }
  t->connectRunning.store(false);
  request.reset();  // the request may end here when the manager dropped it already
  channel->WorkerEnded();
}

}  // namespace

void StartConnectThread(std::shared_ptr<FCHttpRequest> request, FCHttpRequest::Transport& transport) {
  Transport* t = &transport;
  try {
    std::thread(RunConnect, request, t).detach();
  } catch (const std::system_error&) {
    // No thread: the request ends as a failed connection, send and read.
    std::shared_ptr<Channel> channel = t->channel;
    channel->Post(t->id, RequestEvent::Connected);
    channel->Post(t->id, RequestEvent::Sent);
    channel->Post(t->id, RequestEvent::Finished);
    t->connectRunning.store(false);
    channel->WorkerEnded();
  }
}

}  // namespace inner
