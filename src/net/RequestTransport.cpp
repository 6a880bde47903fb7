#include "net/RequestTransport.h"

#include <algorithm>

#include "net/HttpTransfer.h"

FCHttpRequest::Transport::Transport(int requestId, const HttpRequestHeader& requestHeader,
                                    inner::CReceiveBuffer& receiveBuffer, std::atomic<int>& received,
                                    std::shared_ptr<inner::Channel> requestChannel)
    : id(requestId),
      header(requestHeader),
      buffer(receiveBuffer),
      receivedBytes(received),
      channel(std::move(requestChannel)) {}

FCHttpRequest::Transport::~Transport() {
  if (socket_ != CURL_SOCKET_BAD) os::CloseSocket(socket_);
}

void FCHttpRequest::Transport::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted.store(true);
  if (socket_ != CURL_SOCKET_BAD) os::ShutdownSocket(socket_);
  for (curl_socket_t socket : laterSockets_) os::ShutdownSocket(socket);
  wake_.Signal();
}

void FCHttpRequest::Transport::Connect() {
  for (const os::StreamAddress& address : os::ResolveStream(connectHost, connectPort)) {
    curl_socket_t socket = os::OpenSocket(address.family, address.socketType, address.protocol, true);
    if (socket == CURL_SOCKET_BAD) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (aborted.load()) {
        os::CloseSocket(socket);
        return;
      }
      socket_ = socket;
    }
    // The transfers' connect time-out: an address that never answers does not hold the worker.
    bool ok = os::ConnectWithin(socket, address, kTransferLimits.connectTimeoutMs, wake_);
    if (ok && !aborted.load()) {
      connected = true;
      if (!os::IsIpLiteral(connectHost))
        preResolved = connectHost + ":" + std::to_string(connectPort) + ":" + address.text;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      socket_ = CURL_SOCKET_BAD;
    }
    os::CloseSocket(socket);
    if (aborted.load()) return;
  }
}

curl_socket_t FCHttpRequest::Transport::OpenSocket(const curl_sockaddr& address, bool& alreadyConnected) {
  if (aborted.load()) return CURL_SOCKET_BAD;
  if (!socketHandedOver_) {
    socketHandedOver_ = true;
    alreadyConnected = true;
    return socket_;
  }
  curl_socket_t socket = os::OpenSocket(address.family, address.socktype, address.protocol, false);
  if (socket == CURL_SOCKET_BAD) return CURL_SOCKET_BAD;
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted.load()) {
    os::CloseSocket(socket);
    return CURL_SOCKET_BAD;
  }
  laterSockets_.push_back(socket);
  return socket;
}

int FCHttpRequest::Transport::CloseSocket(curl_socket_t socket) {
  if (socket == socket_) return 0;  // ours: closed with the request, after every Abort
  std::lock_guard<std::mutex> lock(mutex_);
  laterSockets_.erase(std::remove(laterSockets_.begin(), laterSockets_.end(), socket), laterSockets_.end());
  return os::CloseSocket(socket);
}
