// POSIX sockets; the wake signal is an eventfd that the connection wait polls beside the socket.
#include "os/StreamSockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace os {

struct WakeSignal::State {
  int fd = -1;
};

WakeSignal::WakeSignal() : state_(std::make_unique<State>()) { state_->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

WakeSignal::~WakeSignal() {
  if (state_->fd >= 0) close(state_->fd);
}

void WakeSignal::Signal() {
  if (state_->fd < 0) return;
  uint64_t one = 1;
  ssize_t written = write(state_->fd, &one, sizeof one);
  (void)written;
}

std::vector<StreamAddress> ResolveStream(const std::string& host, int port) {
  struct addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  std::vector<StreamAddress> addresses;
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) return addresses;
  for (const struct addrinfo* ai = list; ai; ai = ai->ai_next) {
    StreamAddress a;
    a.family = ai->ai_family;
    a.socketType = ai->ai_socktype;
    a.protocol = ai->ai_protocol;
    a.address.assign(reinterpret_cast<const char*>(ai->ai_addr), ai->ai_addrlen);
    char text[INET6_ADDRSTRLEN] = {};
    const void* addr = ai->ai_family == AF_INET6
                           ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr)
                           : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
    inet_ntop(ai->ai_family, addr, text, sizeof text);
    a.text = ai->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text);
    addresses.push_back(std::move(a));
  }
  freeaddrinfo(list);
  return addresses;
}

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

curl_socket_t OpenSocket(int family, int socketType, int protocol, bool nonBlocking) {
  const int fd = socket(family, socketType | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), protocol);
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

bool ConnectWithin(curl_socket_t socket, const StreamAddress& address, long timeoutMs, const WakeSignal& wake) {
  if (connect(socket, reinterpret_cast<const sockaddr*>(address.address.data()),
              static_cast<socklen_t>(address.address.size())) == 0)
    return true;
  if (errno != EINPROGRESS) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  struct pollfd fds[2] = {{socket, POLLOUT, 0}, {wake.state_->fd, POLLIN, 0}};
  int rc;
  do {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    rc = poll(fds, 2, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0 || (fds[1].revents & POLLIN)) return false;
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

void ShutdownSocket(curl_socket_t socket) { shutdown(socket, SHUT_RDWR); }

int CloseSocket(curl_socket_t socket) { return close(socket); }

}  // namespace os
