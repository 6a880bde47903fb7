// One request as the owner sees it: its header, the parts of its URL, the proxy it goes through,
// its receive buffer.
#include <optional>

#include "net/FCHttpRequestManager.h"
#include "net/HttpUrl.h"
#include "net/RequestTransport.h"
#include "net/SystemProxy.h"
#include "os/MachineFacts.h"

namespace inner {

void CReceiveBuffer::Append(const char* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  bytes.append(data, size);
}

std::string CReceiveBuffer::Copy() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes;
}

}  // namespace inner

HttpRequestHeader::HttpRequestHeader() : userAgent(DefaultUserAgent()) {}

const char* HttpRequestHeader::VerbText(int verb) {
  switch (verb) {
    case 1:
    case 2: return "POST";
    case 3: return "DELETE";
    default: return "GET";
  }
}

std::string DefaultUserAgent() { return os::SystemUserAgent(); }

FCHttpRequest::FCHttpRequest(int id, const HttpRequestHeader& header, std::shared_ptr<inner::Channel> channel)
    : id_(id),
      header_(header),
      transport_(std::make_unique<Transport>(id_, header_, receiveBuffer_, receivedBytes_, std::move(channel))) {
  ParsedUrl parsed;
  urlValid_ = ParseHttpUrl(header_.url, parsed);
  if (urlValid_) {
    https_ = parsed.https;
    hostName_ = parsed.host;
    port_ = parsed.port;
    objectPath_ = parsed.pathAndQuery;
  }

  // Where the connect thread connects: the server, or the proxy (the owner's, else the system's).
  Transport& t = *transport_;
  t.urlValid = urlValid_;
  t.connectHost = hostName_;
  t.connectPort = port_;
  if (!urlValid_) return;
  if (!header_.proxyHost.empty()) {
    t.connectHost = header_.proxyHost;
    t.connectPort = header_.proxyPort;
    std::string host =
        header_.proxyHost.find(':') != std::string::npos ? "[" + header_.proxyHost + "]" : header_.proxyHost;
    t.proxyUrl = "http://" + host + ":" + std::to_string(header_.proxyPort);
  } else if (std::optional<ParsedUrl> proxy = SystemProxyFor(https_, hostName_)) {
    t.connectHost = proxy->host;
    t.connectPort = proxy->port;
    t.proxyUrl = proxy->normalized;
  }
}

FCHttpRequest::~FCHttpRequest() = default;
