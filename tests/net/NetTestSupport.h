// Loopback servers and an owner's main context for the network tests.
#pragma once

#include <arpa/inet.h>
#include <glib.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/HttpServerThread.h"
#include "support/Loopback.h"

namespace nettest {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A thread-default GMainContext for the test thread: the manager's owner context.
class OwnerLoop {
 public:
  OwnerLoop() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
  ~OwnerLoop() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  OwnerLoop(const OwnerLoop&) = delete;
  OwnerLoop& operator=(const OwnerLoop&) = delete;

  GMainContext* Context() const { return context_; }

  // Iterates the context until done() or the time is up; returns done().
  bool RunUntil(const std::function<bool()>& done, int timeoutMs) { return Wait(context_, done, timeoutMs); }

  static bool Wait(GMainContext* context, const std::function<bool()>& done, int timeoutMs) {
    GSource* tick = g_timeout_source_new(10);  // wakes the blocking iteration to test the deadline
    g_source_set_callback(
        tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    auto start = Clock::now();
    while (!done() && MsSince(start) < timeoutMs) g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
    return done();
  }

 private:
  GMainContext* context_;
};

// What a server received.
struct Received {
  std::string method;
  std::string target;
  std::string body;
  httplib::Headers headers;
  httplib::Params params;
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

// The redirect routes test servers share: /moved?to=<url> (a 302 there) and /hops/<n> (n redirects
// on the same server, then "end").
template <typename Server>
void AddRedirectRoutes(Server& server) {
  server.Get("/moved",
             [](const httplib::Request& req, httplib::Response& res) { res.set_redirect(req.get_param_value("to")); });
  server.Get(R"(/hops/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const int left = std::stoi(req.matches[1]);
    if (left == 0)
      res.set_content("end", "text/plain");
    else
      res.set_redirect("/hops/" + std::to_string(left - 1));
  });
}

// An HTTP/1.1 server on a loopback port that records every request. Routes:
// /hello (text with Last-Modified and Server), /big (100,000 bytes), /moved?to=<url> (302),
// anything else: 200 "ok".
class RecordingServer {
 public:
  RecordingServer() {
    auto record = [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(Received{req.method, req.target, req.body, req.headers, req.params});
      }
      if (req.path == "/hello") {
        res.set_header("Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT");
        res.set_header("Server", "loopback-test");
        res.set_content("hello world", "text/plain");
      } else if (req.path == "/moved") {
        res.set_redirect(req.get_param_value("to"));
      } else if (req.path == "/big") {
        res.set_content(Big(), "application/octet-stream");
      } else {
        res.set_content("ok", "text/plain");
      }
    };
    http_.Server().Get(".*", record);
    http_.Server().Post(".*", record);
    http_.Server().Delete(".*", record);
    http_.Start();
  }

  static std::string Big() {
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    return data;
  }

  int Port() const { return http_.Port(); }
  std::string Url(const std::string& path) const { return http_.Url(path); }
  std::vector<Received> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }
  // Waits (without iterating any main context) until n requests have arrived.
  bool WaitForCount(size_t n, int timeoutMs) {
    auto start = Clock::now();
    while (Count() < n && MsSince(start) < timeoutMs) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Count() >= n;
  }

 private:
  std::mutex mutex_;
  std::vector<Received> received_;
  HttpServerThread http_;  // last: it stops answering before what its handlers use goes
};

// A loopback listening socket that never accepts: connections complete in the kernel, requests are
// taken into its buffer, and no answer ever comes.
class SilentServer {
 public:
  SilentServer() { fd_ = ListenOnLoopback(64, &port_); }
  ~SilentServer() { close(fd_); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int Port() const { return port_; }
  int Fd() const { return fd_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens (connections are refused).
inline int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// Accepts one connection, records the raw request head, answers with a fixed response.
class RawServer {
 public:
  explicit RawServer(std::string response) : response_(std::move(response)), listener_() {
    thread_ = std::thread([this] {
      int client = accept(Fd(), nullptr, nullptr);
      if (client < 0) return;
      std::string head;
      char buf[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = head;
      }
      send(client, response_.data(), response_.size(), MSG_NOSIGNAL);
      shutdown(client, SHUT_WR);
      while (recv(client, buf, sizeof buf, 0) > 0) {
      }
      close(client);
    });
  }
  ~RawServer() {
    shutdown(Fd(), SHUT_RDWR);  // ends a pending accept
    thread_.join();
  }
  int Port() const { return listener_.Port(); }
  std::string Head() {
    std::lock_guard<std::mutex> lock(mutex_);
    return head_;
  }

 private:
  int Fd() const { return listener_.Fd(); }
  std::string response_;
  SilentServer listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::string head_;
};

}  // namespace nettest
