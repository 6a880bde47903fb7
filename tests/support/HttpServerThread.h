// A cpp-httplib server (plain or TLS) on an ephemeral loopback port, answering on a thread of its
// own from Start until it is destroyed: the lifecycle every test server shares.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

template <typename ServerType>
class ServerThread {
 public:
  template <typename... Args>
  explicit ServerThread(Args&&... args) : server_(std::forward<Args>(args)...) {}
  ~ServerThread() {
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
  }
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  // Its routes and settings.
  ServerType& Server() { return server_; }

  // Takes its port, for a test that needs its address before it answers; Start does it too.
  void Bind() {
    if (port_ == 0) port_ = server_.bind_to_any_port("127.0.0.1");
  }
  // Listens, and returns once the accept loop runs (a stop is only heard from then on).
  void Start() {
    Bind();
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  int Port() const { return port_; }
  std::string Url(const std::string& path) const {
    const char* scheme = std::is_same_v<ServerType, httplib::Server> ? "http" : "https";
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  ServerType server_;
  std::thread thread_;
  int port_ = 0;
};

using HttpServerThread = ServerThread<httplib::Server>;
