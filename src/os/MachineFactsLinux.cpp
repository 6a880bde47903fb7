// Linux: /proc/cpuinfo, the default route of /proc/net/route and its interface's address in sysfs,
// uname, /proc/meminfo (else sysinfo), the DMI serials and /etc/machine-id.
#include "os/MachineFacts.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace os {
namespace {

bool ReadWhole(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return false;
  content = out.str();
  return true;
}

// A sysfs or /etc value without its line end.
std::optional<std::string> ReadValue(const std::string& path) {
  std::string value;
  if (!ReadWhole(path, value)) return std::nullopt;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return value;
}

// The value of the first "model name" line, as stored after ": ".
std::string CpuName(const std::string& root) {
  std::ifstream in(root + "/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) != 0) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t start = colon + 1;
    if (start < line.size() && line[start] == ' ') ++start;
    return line.substr(start);
  }
  return "";
}

// The hardware address of the interface that carries the default route (the first one listed).
std::optional<std::array<uint8_t, 6>> AdapterAddress(const std::string& root) {
  std::ifstream in(root + "/proc/net/route");
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway;
    if (!(fields >> iface >> destination >> gateway)) continue;
    if (destination != "00000000" || gateway == "00000000") continue;
    std::optional<std::string> address = ReadValue(root + "/sys/class/net/" + iface + "/address");
    if (!address) return std::nullopt;
    unsigned b[6];
    char tail;
    if (std::sscanf(address->c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) !=
        6)
      return std::nullopt;
    std::array<uint8_t, 6> bytes;
    for (int i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(b[i]);
    return bytes;
  }
  return std::nullopt;
}

// Major, minor and build from a kernel release such as "6.1.0-18-amd64".
void ParseRelease(const std::string& release, MachineFacts& facts) {
  int v[3] = {0, 0, 0};
  const char* p = release.c_str();
  for (int i = 0; i < 3 && *p >= '0' && *p <= '9'; ++i) {
    char* end = nullptr;
    v[i] = static_cast<int>(std::strtol(p, &end, 10));
    p = end;
    if (*p != '.') break;
    ++p;
  }
  facts.versionMajor = v[0];
  facts.versionMinor = v[1];
  facts.versionBuild = v[2];
}

// Physical memory is MemTotal; virtual memory is what can be committed: MemTotal + SwapTotal.
void ReadMemory(const std::string& root, MachineFacts& facts) {
  long long totalKb = -1, swapKb = 0;
  std::ifstream in(root + "/proc/meminfo");
  std::string key;
  long long value;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemTotal:") totalKb = value;
    if (key == "SwapTotal:") swapKb = value;
  }
  if (totalKb < 0) {  // no /proc: ask the kernel directly
    totalKb = 0;
    struct sysinfo si {};
    if (root.empty() && sysinfo(&si) == 0) {
      totalKb = static_cast<long long>(si.totalram) * si.mem_unit / 1024;
      swapKb = static_cast<long long>(si.totalswap) * si.mem_unit / 1024;
    }
  }
  facts.physicalKb = totalKb;
  facts.virtualKb = totalKb + swapKb;
}

// The uname machine name, "x86_64" when uname fails.
std::string LiveMachine() {
  struct utsname u {};
  if (uname(&u) != 0) return "x86_64";
  return u.machine;
}

}  // namespace

MachineFacts ReadMachineFacts(const MachineSources& sources) {
  std::string release = sources.kernelRelease;
  std::string machine = sources.machine;
  if (release.empty() || machine.empty()) {
    struct utsname u {};
    if (uname(&u) == 0) {
      if (release.empty()) release = u.release;
      if (machine.empty()) machine = u.machine;
    }
  }
  MachineFacts facts;
  facts.is64Bit = machine.find("64") != std::string::npos || machine == "s390x";
  ParseRelease(release, facts);
  facts.cpuName = CpuName(sources.root);
  facts.adapterAddress = AdapterAddress(sources.root);
  ReadMemory(sources.root, facts);
  // The DMI serials are often readable by root only.
  facts.boardSerial = ReadValue(sources.root + "/sys/class/dmi/id/board_serial");
  facts.biosSerial = ReadValue(sources.root + "/sys/class/dmi/id/product_serial");
  facts.systemSerial = ReadValue(sources.root + "/etc/machine-id");
  return facts;
}

std::string SystemUserAgent() {
  static const std::string agent =
      "Mozilla/5.0 (X11; Linux " + LiveMachine() + ") AppleWebKit/605.1.15 (KHTML, like Gecko)";
  return agent;
}

}  // namespace os
