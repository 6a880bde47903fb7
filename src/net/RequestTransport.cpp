#include "net/RequestTransport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "net/HttpTransfer.h"

namespace {

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string AddressText(const struct addrinfo& ai) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* addr = ai.ai_family == AF_INET6
                         ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(ai.ai_addr)->sin6_addr)
                         : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai.ai_addr)->sin_addr);
  inet_ntop(ai.ai_family, addr, text, sizeof text);
  return ai.ai_family == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text);
}

}  // namespace

FCHttpRequest::Transport::Transport(int requestId, const HttpRequestHeader& requestHeader,
                                    inner::CReceiveBuffer& receiveBuffer, std::atomic<int>& received,
                                    std::shared_ptr<inner::Channel> requestChannel)
    : id(requestId),
      header(requestHeader),
      buffer(receiveBuffer),
      receivedBytes(received),
      channel(std::move(requestChannel)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FCHttpRequest::Transport::~Transport() {
  if (socketFd_ >= 0) close(socketFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void FCHttpRequest::Transport::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted.store(true);
  if (socketFd_ >= 0) shutdown(socketFd_, SHUT_RDWR);
  for (int fd : laterSockets_) shutdown(fd, SHUT_RDWR);
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    ssize_t written = write(wakeFd_, &one, sizeof one);
    (void)written;
  }
}

void FCHttpRequest::Transport::Connect() {
  struct addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* list = nullptr;
  std::string port = std::to_string(connectPort);
  if (getaddrinfo(connectHost.c_str(), port.c_str(), &hints, &list) != 0) return;
  std::unique_ptr<struct addrinfo, void (*)(struct addrinfo*)> guard(list, freeaddrinfo);

  for (struct addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (aborted.load()) {
        close(fd);
        return;
      }
      socketFd_ = fd;
    }
    bool ok = connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS) {
      // The transfers' connect time-out: an address that never answers does not hold the worker.
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kTransferLimits.connectTimeoutMs);
      struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
      int rc;
      do {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        rc = poll(fds, 2, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
      } while (rc < 0 && errno == EINTR);
      if (rc > 0 && !(fds[1].revents & POLLIN) && !aborted.load()) {
        int err = 0;
        socklen_t len = sizeof err;
        ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
      }
    }
    if (ok && !aborted.load()) {
      connected = true;
      if (!IsIpLiteral(connectHost)) preResolved = connectHost + ":" + port + ":" + AddressText(*ai);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      socketFd_ = -1;
    }
    close(fd);
    if (aborted.load()) return;
  }
}

int FCHttpRequest::Transport::OpenSocket(const curl_sockaddr& address, bool& alreadyConnected) {
  if (aborted.load()) return -1;
  if (!socketHandedOver_) {
    socketHandedOver_ = true;
    alreadyConnected = true;
    return socketFd_;
  }
  int fd = socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
  if (fd < 0) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (aborted.load()) {
    close(fd);
    return -1;
  }
  laterSockets_.push_back(fd);
  return fd;
}

int FCHttpRequest::Transport::CloseSocket(int fd) {
  if (fd == socketFd_) return 0;  // ours: closed with the request, after every Abort
  std::lock_guard<std::mutex> lock(mutex_);
  laterSockets_.erase(std::remove(laterSockets_.begin(), laterSockets_.end(), fd), laterSockets_.end());
  return close(fd);
}
