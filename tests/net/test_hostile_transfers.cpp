// The transfer routine against servers that try what an attacker on the network or a broken
// server would: other protocols, endless or downgrading redirects, stalls, unreachable hosts,
// error pages. Loopback servers on ephemeral ports, http and https (a self-signed certificate the
// tests trust through a handle of their own; the policy is the routine's either way).
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "TestCertificate.h"
#include "net/HttpTransfer.h"
#include "support/Loopback.h"
#include "support/Sandbox.h"

using nettest::Clock;
using nettest::MsSince;
using nettest::SilentServer;

namespace {

// Routes shared by the http and the https server: /moved?to=<url> (302), /hops/<n> (n redirects
// on the same server, then "end"), /x ("reached", counted), /busy (503 with an error page).
template <typename Server>
class Routes {
 public:
  template <typename... Args>
  explicit Routes(Args&&... args) : http_(std::forward<Args>(args)...) {
    Server& server = http_.Server();
    nettest::AddRedirectRoutes(server);
    server.Get("/x", [this](const httplib::Request&, httplib::Response& res) {
      ++reached_;
      res.set_content("reached", "text/plain");
    });
    server.Get("/busy", [](const httplib::Request& req, httplib::Response& res) {
      const_cast<httplib::Request&>(req).ranges.clear();  // the same answer to a resumed request
      res.status = 503;
      res.set_content("<html>try later</html>", "text/html");
    });
    http_.Start();
  }
  int Port() const { return http_.Port(); }
  int Reached() const { return reached_.load(); }

 private:
  std::atomic<int> reached_{0};
  ServerThread<Server> http_;  // last: it stops answering before what its handlers use goes
};

// A URL as the value of a query parameter.
std::string Escaped(const std::string& url) {
  std::string out;
  for (char c : url) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

// True when a connection waits in the listener's queue (the listener never accepts).
bool SomeoneConnected(int listenFd) {
  pollfd pending{listenFd, POLLIN, 0};
  if (poll(&pending, 1, 0) != 1) return false;
  int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// A listener whose accept queue is full: a further connection is never completed.
class FullListener {
 public:
  FullListener() {
    fd_ = ListenOnLoopback(0, &port_);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    for (int i = 0; i < 4; ++i) {
      int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(c);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the handshakes that can complete
  }
  ~FullListener() {
    for (int c : fillers_) close(c);
    close(fd_);
  }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// Headers and the start of a body, then nothing more (the connection stays open) until the
// client gives up; or, with a pause, the whole body one byte per pause.
class DrippingServer {
 public:
  explicit DrippingServer(std::chrono::milliseconds pause, bool stopAfterStart) {
    thread_ = std::thread([this, pause, stopAfterStart] {
      int client = accept(listener_.Fd(), nullptr, nullptr);
      if (client < 0) return;
      char buf[4096];
      std::string head;
      while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      const std::string body = "0123456789";
      std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
      send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
      for (size_t i = 0; i < body.size() && !stopping_; ++i) {
        send(client, body.data() + i, 1, MSG_NOSIGNAL);
        if (stopAfterStart && i == 2) break;
        std::this_thread::sleep_for(pause);
      }
      // Until the client closes.
      while (!stopping_ && recv(client, buf, sizeof buf, 0) > 0) {
      }
      close(client);
    });
  }
  ~DrippingServer() {
    stopping_ = true;
    shutdown(listener_.Fd(), SHUT_RDWR);
    thread_.join();
  }
  std::string Url() const { return listener_.Url("/d"); }

 private:
  SilentServer listener_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

class HostileTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    certificate_ = nettest::MakeLoopbackCertificate(sandbox_.Root());
    ASSERT_FALSE(certificate_.certPath.empty());
    tls_ = std::make_unique<Routes<httplib::SSLServer>>(certificate_.certPath.c_str(), certificate_.keyPath.c_str());
  }

  // A transfer that trusts the loopback certificate.
  TransferResult Run(TransferRequest request, TransferSink& sink) {
    request.caFile = certificate_.certPath;
    return PerformTransfer(request, sink);
  }
  std::string Http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(plain_.Port()) + path; }
  std::string Https(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tls_->Port()) + path;
  }

  Sandbox sandbox_;
  nettest::TestCertificate certificate_;
  Routes<httplib::Server> plain_;
  std::unique_ptr<Routes<httplib::SSLServer>> tls_;
};

// Only http and https, at most 10 redirects, and once on https never back to http: a refused
// hop is never even requested.
TEST_F(HostileTransfer, ProtocolsAndRedirects) {
  SilentServer raw;  // stands for any local service that a raw protocol could write to
  const std::string rawHost = "127.0.0.1:" + std::to_string(raw.Port());
  const std::string plainX = Http("/x");
  struct Case {
    const char* name;
    std::string url;
    CURLcode code;
    std::string body;
    int plainReached;  // requests that got to the http server's /x
  };
  const Case cases[] = {
      {"gopher", "gopher://" + rawHost + "/_SET%20key%20value", CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"dict", "dict://" + rawHost + "/d:word", CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"telnet", "telnet://" + rawHost, CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"ftp", "ftp://" + rawHost + "/x", CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"file", "file:///etc/hostname", CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"redirect to gopher", Http("/moved?to=gopher://" + rawHost + "/_x"), CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"redirect to file", Http("/moved?to=file:///etc/hostname"), CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"10 redirects", Http("/hops/10"), CURLE_OK, "end", 0},
      {"11 redirects", Http("/hops/11"), CURLE_TOO_MANY_REDIRECTS, "", 0},
      {"https to http", Https("/moved?to=" + plainX), CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"https to HTTP", Https("/moved?to=HTTP://127.0.0.1:" + std::to_string(plain_.Port()) + "/x"),
       CURLE_UNSUPPORTED_PROTOCOL, "", 0},
      {"http, https, then http", Http("/moved?to=" + Escaped(Https("/moved?to=" + plainX))), CURLE_UNSUPPORTED_PROTOCOL,
       "", 0},
      {"https to https", Https("/moved?to=" + Https("/x")), CURLE_OK, "reached", 0},
      {"https, scheme-relative", Https("/moved?to=//127.0.0.1:" + std::to_string(tls_->Port()) + "/x"), CURLE_OK,
       "reached", 0},
      {"https path only", Https("/moved?to=/x"), CURLE_OK, "reached", 0},
      {"http to https", Http("/moved?to=" + Https("/x")), CURLE_OK, "reached", 0},
      {"http to http", Http("/moved?to=" + plainX), CURLE_OK, "reached", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = plain_.Reached();
    StringSink sink(1000);
    TransferRequest request;
    request.url = c.url;
    TransferResult result = Run(request, sink);
    EXPECT_EQ(result.code, c.code) << result.errorText;
    EXPECT_EQ(sink.Body(), c.body);
    EXPECT_EQ(plain_.Reached() - before, c.plainReached);
    EXPECT_FALSE(SomeoneConnected(raw.Fd()));
  }
}

// A transfer that receives nothing for the stall limit fails, however it stalls; a slow one that
// keeps receiving does not; a connection that never comes up ends at the connect time-out.
TEST_F(HostileTransfer, StallsAndConnectTimeOut) {
  SilentServer silent;  // takes the connection and the request, never answers
  DrippingServer stopsMidBody(std::chrono::milliseconds(0), /*stopAfterStart=*/true);
  DrippingServer trickles(std::chrono::milliseconds(150), /*stopAfterStart=*/false);
  FullListener full;
  struct Case {
    const char* name;
    std::string url;
    long stallMs;
    long connectMs;
    CURLcode code;
    bool stalled;
    long long maxMs;
  };
  const Case cases[] = {
      {"no answer at all", silent.Url("/x"), 400, 0, CURLE_OPERATION_TIMEDOUT, true, 2500},
      {"stops in the body", stopsMidBody.Url(), 400, 0, CURLE_OPERATION_TIMEDOUT, true, 2500},
      {"slow but steady", trickles.Url(), 1000, 0, CURLE_OK, false, 5000},
      {"never connects", "http://127.0.0.1:" + std::to_string(full.Port()) + "/x", 0, 300, CURLE_OPERATION_TIMEDOUT,
       false, 2500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TransferRequest request;
    request.url = c.url;
    request.stallMs = c.stallMs;
    request.connectTimeoutMs = c.connectMs;
    StringSink sink(1000);
    auto start = Clock::now();
    TransferResult result = PerformTransfer(request, sink);
    EXPECT_EQ(result.code, c.code) << result.errorText;
    EXPECT_EQ(result.stalled, c.stalled);
    EXPECT_LT(MsSince(start), c.maxMs);
    if (c.code == CURLE_OK) {
      EXPECT_EQ(sink.Body(), "0123456789");
    }
  }
}

// A body that is assembled into a file only takes a successful answer's bytes: an error page
// never reaches the sink, whether the first request or a resumed one gets it.
TEST_F(HostileTransfer, ErrorPagesNeverReachAFileBody) {
  for (int64_t resumeFrom : {int64_t{0}, int64_t{100}}) {
    SCOPED_TRACE(resumeFrom);
    TransferRequest request;
    request.url = Http("/busy");
    request.resumeFrom = resumeFrom;
    request.successBodyOnly = true;
    StringSink sink(1000);
    TransferResult result = PerformTransfer(request, sink);
    EXPECT_NE(result.code, CURLE_OK);
    EXPECT_EQ(result.httpStatus, 503);
    EXPECT_EQ(sink.Body(), "");
  }
  // Without it an error answer is a complete transfer, as the configuration's failure line needs.
  TransferRequest request;
  request.url = Http("/busy");
  StringSink sink(1000);
  TransferResult result = PerformTransfer(request, sink);
  EXPECT_EQ(result.code, CURLE_OK);
  EXPECT_EQ(result.httpStatus, 503);
}

}  // namespace
