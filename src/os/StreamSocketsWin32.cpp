// Winsock sockets; the wake signal is a WSA event that the connection wait watches beside the
// socket's own connect event. Sockets are made without handle inheritance.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "os/StreamSockets.h"

namespace os {
namespace {

// Winsock is started once for the process, on the first call that needs it (any thread), and stays.
bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

}  // namespace

struct WakeSignal::State {
  WSAEVENT event = WSA_INVALID_EVENT;
};

WakeSignal::WakeSignal() : state_(std::make_unique<State>()) {
  if (WinsockReady()) state_->event = WSACreateEvent();
}

WakeSignal::~WakeSignal() {
  if (state_->event != WSA_INVALID_EVENT) WSACloseEvent(state_->event);
}

void WakeSignal::Signal() {
  if (state_->event != WSA_INVALID_EVENT) WSASetEvent(state_->event);
}

std::vector<StreamAddress> ResolveStream(const std::string& host, int port) {
  std::vector<StreamAddress> addresses;
  if (!WinsockReady()) return addresses;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) return addresses;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
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
  if (!WinsockReady()) return false;
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

curl_socket_t OpenSocket(int family, int socketType, int protocol, bool nonBlocking) {
  if (!WinsockReady()) return CURL_SOCKET_BAD;
  const SOCKET s =
      WSASocketW(family, socketType, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return CURL_SOCKET_BAD;
  u_long on = nonBlocking ? 1 : 0;
  if (nonBlocking && ioctlsocket(s, FIONBIO, &on) != 0) {
    closesocket(s);
    return CURL_SOCKET_BAD;
  }
  return s;
}

// The socket's connect event is chosen before the connect starts, so a connection made at once is
// not missed; afterwards the socket is left non-blocking and without events, as libcurl expects.
bool ConnectWithin(curl_socket_t socket, const StreamAddress& address, long timeoutMs, const WakeSignal& wake) {
  WSAEVENT connected = WSACreateEvent();
  if (connected == WSA_INVALID_EVENT) return false;
  bool ok = false;
  if (WSAEventSelect(socket, connected, FD_CONNECT) == 0) {
    if (connect(socket, reinterpret_cast<const sockaddr*>(address.address.data()),
                static_cast<int>(address.address.size())) == 0) {
      ok = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      WSAEVENT events[2] = {connected, wake.state_->event};
      const DWORD count = wake.state_->event != WSA_INVALID_EVENT ? 2 : 1;
      const DWORD wait =
          WSAWaitForMultipleEvents(count, events, FALSE, static_cast<DWORD>(std::max(timeoutMs, 0L)), FALSE);
      WSANETWORKEVENTS happened{};
      if (wait == WSA_WAIT_EVENT_0 && WSAEnumNetworkEvents(socket, connected, &happened) == 0 &&
          (happened.lNetworkEvents & FD_CONNECT))
        ok = happened.iErrorCode[FD_CONNECT_BIT] == 0;
    }
    WSAEventSelect(socket, nullptr, 0);
  }
  WSACloseEvent(connected);
  return ok;
}

void ShutdownSocket(curl_socket_t socket) { shutdown(socket, SD_BOTH); }

int CloseSocket(curl_socket_t socket) { return closesocket(socket); }

}  // namespace os
