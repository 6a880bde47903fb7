// Stream sockets as a request's connect thread needs them: resolving a host, connecting within a
// time limit that another thread can cut short, and interrupting a connection from another
// thread. Sockets are libcurl's type, since libcurl takes them over. Every socket is kept from
// started processes. Any thread, unless a function says otherwise.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace os {

// One address of a host, as the resolver returns it for a stream connection.
struct StreamAddress {
  int family = 0;
  int socketType = 0;
  int protocol = 0;
  std::string address;  // the socket address's bytes, as connecting takes them
  std::string text;     // "192.0.2.1", or "[2001:db8::1]" for IPv6
};

// The addresses of host:port in the resolver's order; empty when the host cannot be resolved.
// Blocks while the resolver works.
std::vector<StreamAddress> ResolveStream(const std::string& host, int port);

// Whether host is a numeric IPv4 or IPv6 address (no brackets).
bool IsIpLiteral(const std::string& host);

// Ends a connection wait at once (ConnectWithin) when another thread signals it; it stays
// signalled from then on.
class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void Signal();  // any thread

  struct State;  // the platform's signal

 private:
  friend bool ConnectWithin(curl_socket_t, const StreamAddress&, long, const WakeSignal&);
  std::unique_ptr<State> state_;
};

// A new socket of the given kind, non-blocking when asked; CURL_SOCKET_BAD when none can be made.
curl_socket_t OpenSocket(int family, int socketType, int protocol, bool nonBlocking);

// Connects a non-blocking socket to address, waiting at most timeoutMs. A signalled wake ends the
// wait as a failure. True when the socket is connected.
bool ConnectWithin(curl_socket_t socket, const StreamAddress& address, long timeoutMs, const WakeSignal& wake);

// Ends both directions of a socket, so that a call blocked on it in another thread returns; the
// socket itself stays open.
void ShutdownSocket(curl_socket_t socket);

// Closes a socket; 0 when closed (libcurl's close callback returns this).
int CloseSocket(curl_socket_t socket);

}  // namespace os
