// Winsock connections and the machine's facts on Windows against the real system.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "os/MachineFacts.h"
#include "os/StreamSockets.h"

namespace {

// A listening socket on a free loopback port.
class Listener {
 public:
  Listener() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(socket_, 4);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    closesocket(socket_);
    WSACleanup();
  }
  int Port() const { return port_; }
  void Close() { closesocket(socket_); }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

bool Connect(const os::StreamAddress& address, long timeoutMs, const os::WakeSignal& wake) {
  const curl_socket_t s = os::OpenSocket(address.family, address.socketType, address.protocol, true);
  if (s == CURL_SOCKET_BAD) return false;
  const bool ok = os::ConnectWithin(s, address, timeoutMs, wake);
  os::ShutdownSocket(s);
  EXPECT_EQ(os::CloseSocket(s), 0);
  return ok;
}

}  // namespace

TEST(StreamSocketsWindows, ConnectsToAListenerAndFailsOnAClosedPortOrAWake) {
  Listener listener;
  const std::vector<os::StreamAddress> addresses = os::ResolveStream("127.0.0.1", listener.Port());
  ASSERT_EQ(addresses.size(), 1u);
  EXPECT_EQ(addresses[0].text, "127.0.0.1");
  os::WakeSignal wake;
  EXPECT_TRUE(Connect(addresses[0], 5000, wake));
  listener.Close();
  EXPECT_FALSE(Connect(addresses[0], 5000, wake));
  // A signalled wake ends the wait at once, whatever the time limit.
  const std::vector<os::StreamAddress> nowhere = os::ResolveStream("10.255.255.1", 9);
  ASSERT_EQ(nowhere.size(), 1u);
  wake.Signal();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Connect(nowhere[0], 20000, wake));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  EXPECT_TRUE(os::IsIpLiteral("192.0.2.1"));
  EXPECT_TRUE(os::IsIpLiteral("2001:db8::1"));
  EXPECT_FALSE(os::IsIpLiteral("[2001:db8::1]"));
  EXPECT_FALSE(os::IsIpLiteral("example.com"));
  EXPECT_TRUE(os::ResolveStream("name.invalid", 80).empty());
}

TEST(MachineFactsWindows, TheSystemsFactsAreRead) {
  const os::MachineFacts facts = os::ReadMachineFacts({});
  if (sizeof(void*) == 8) EXPECT_TRUE(facts.is64Bit);  // a 64-bit program runs on 64-bit Windows only
  EXPECT_GE(facts.versionMajor, 5);
  EXPECT_GT(facts.physicalKb, 0);
  EXPECT_GT(facts.virtualKb, 0);
  // The serials come together from the management service, or none of them does.
  EXPECT_EQ(facts.boardSerial.has_value(), facts.biosSerial.has_value());
  EXPECT_EQ(facts.biosSerial.has_value(), facts.systemSerial.has_value());
  EXPECT_EQ(os::SystemUserAgent().rfind("Mozilla/", 0), 0u);
}
