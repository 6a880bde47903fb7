#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "os/StreamSockets.h"
#include "support/Loopback.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback listener whose queue is full, so a further connection never comes up.
class FullListener {
 public:
  explicit FullListener(bool fill) {
    fd_ = ListenOnLoopback(0, &port_);
    if (!fill) return;
    for (int i = 0; i < 4; ++i) {
      const os::StreamAddress address = os::ResolveStream("127.0.0.1", port_).at(0);
      curl_socket_t c = os::OpenSocket(address.family, address.socketType, address.protocol, true);
      connect(c, reinterpret_cast<const sockaddr*>(address.address.data()),
              static_cast<socklen_t>(address.address.size()));
      fillers_.push_back(c);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the handshakes that can complete
  }
  ~FullListener() {
    for (curl_socket_t c : fillers_) os::CloseSocket(c);
    close(fd_);
  }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<curl_socket_t> fillers_;
};

}  // namespace

TEST(StreamSockets, ResolvesLiteralsWithTheirConnectText) {
  const std::vector<os::StreamAddress> v4 = os::ResolveStream("127.0.0.1", 80);
  ASSERT_EQ(v4.size(), 1u);
  EXPECT_EQ(v4[0].text, "127.0.0.1");
  const std::vector<os::StreamAddress> v6 = os::ResolveStream("::1", 80);
  ASSERT_FALSE(v6.empty());
  EXPECT_EQ(v6[0].text, "[::1]");
  EXPECT_TRUE(os::ResolveStream("no-such-host.invalid", 80).empty());

  const std::pair<const char*, bool> literals[] = {
      {"127.0.0.1", true},  {"::1", true},    {"2001:db8::1", true}, {"[::1]", false},
      {"localhost", false}, {"1.2.3", false}, {"", false},
  };
  for (const auto& [host, literal] : literals) EXPECT_EQ(os::IsIpLiteral(host), literal) << host;
}

// A connection comes up, runs into its time limit, or is cut short by the wake signal at once.
TEST(StreamSockets, ConnectEndsOnSuccessTimeLimitOrWake) {
  struct Case {
    const char* name;
    bool full;        // the listener takes no more connections
    long timeoutMs;   // the connection's limit
    int wakeAfterMs;  // -1: never woken
    bool connected;
    long long minMs, maxMs;
  };
  const Case cases[] = {
      {"listener answers", false, 5000, -1, true, 0, 1000},
      {"limit", true, 300, -1, false, 250, 2000},
      {"woken", true, 20000, 100, false, 50, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FullListener listener(c.full);
    const os::StreamAddress address = os::ResolveStream("127.0.0.1", listener.Port()).at(0);
    curl_socket_t socket = os::OpenSocket(address.family, address.socketType, address.protocol, true);
    ASSERT_NE(socket, CURL_SOCKET_BAD);
    os::WakeSignal wake;
    std::thread waker;
    if (c.wakeAfterMs >= 0)
      waker = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.wakeAfterMs));
        wake.Signal();
      });
    const auto start = Clock::now();
    EXPECT_EQ(os::ConnectWithin(socket, address, c.timeoutMs, wake), c.connected);
    EXPECT_GE(MsSince(start), c.minMs);
    EXPECT_LT(MsSince(start), c.maxMs);
    if (waker.joinable()) waker.join();
    EXPECT_EQ(os::CloseSocket(socket), 0);
  }
}
