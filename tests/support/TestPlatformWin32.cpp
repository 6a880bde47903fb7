#include <winsock2.h>
#include <ws2tcpip.h>

#include "os/base/Win32Text.h"
#include "support/TestPlatform.h"

void UseUtf8Locale() {}

int UnusedPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  const int port = ntohs(addr.sin_port);
  closesocket(s);  // bound but never listening: connections are refused
  WSACleanup();
  return port;
}

// Both the system's block and the C runtime's copy, which getenv reads.
void SetVariable(const char* name, const char* value) {
  SetEnvironmentVariableW(os::win32::Wide(name).c_str(), value ? os::win32::Wide(value).c_str() : nullptr);
  _putenv_s(name, value ? value : "");
}

unsigned ModeAsKept(unsigned mode) { return (mode & 0200) || mode == 0 ? 0666 : 0444; }
