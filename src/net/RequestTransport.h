// The worker-side state of one request: its connection, how the owner interrupts it, and what the
// workers hand to the owner. Created with the request (FCHttpRequest.cpp); the workers
// (RequestWorkers.h) and the owner's side share it.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/FCHttpRequestManager.h"
#include "os/StreamSockets.h"

struct FCHttpRequest::Transport {
  Transport(int id, const HttpRequestHeader& header, inner::CReceiveBuffer& buffer, std::atomic<int>& receivedBytes,
            std::shared_ptr<inner::Channel> channel);
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Owner's thread (or the shutdown): makes the blocked worker's call fail so it runs to its end.
  void Abort();

  // Connect thread: resolves connectHost and connects a socket to it; sets connected, and
  // preResolved so that libcurl does not resolve again. Abort wakes the wait.
  void Connect();

  // Transfer thread, libcurl's socket hooks: the connected socket for the first connection, a new
  // one (which Abort can still interrupt) for any later one; ours stays open until the request
  // is deleted.
  curl_socket_t OpenSocket(const curl_sockaddr& address, bool& alreadyConnected);
  int CloseSocket(curl_socket_t socket);

  // The request's own parts, set before the threads start.
  const int id;
  const HttpRequestHeader& header;
  inner::CReceiveBuffer& buffer;
  std::atomic<int>& receivedBytes;
  const std::shared_ptr<inner::Channel> channel;
  bool urlValid = false;
  std::string connectHost;  // the server, or the proxy
  int connectPort = 0;
  std::string proxyUrl;  // "" = no proxy

  std::atomic<bool> aborted{false};
  std::atomic<bool> connectRunning{false};
  std::atomic<bool> transferRunning{false};

  // Connect thread → transfer thread (the transfer thread starts after these are written).
  bool connected = false;
  std::string preResolved;  // "host:port:address"

  // Transfer thread → owner (written before the event that announces them).
  std::string rawHeaders;    // the final response's header block
  bool transferRan = false;  // the request went out over the connection
  std::atomic<bool> readResult{false};

 private:
  std::mutex mutex_;                         // guards socket_ and laterSockets_ against Abort
  curl_socket_t socket_ = CURL_SOCKET_BAD;   // the connection; closed with the request, never by libcurl
  std::vector<curl_socket_t> laterSockets_;  // connections libcurl opens itself (redirects elsewhere)
  os::WakeSignal wake_;                      // signalled by Abort while the connect thread waits
  bool socketHandedOver_ = false;            // transfer thread only
};
