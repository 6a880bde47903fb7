#include "net/MachineInfo.h"

#include <glib.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const char kUnknown[] = "unkown";  // the fallback text the server has always received

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return false;
  content = out.str();
  return true;
}

// A sysfs or /etc value without its line end.
bool ReadValue(const std::string& path, std::string& value) {
  if (!ReadFile(path, value)) return false;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return true;
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
std::string MacAddress(const std::string& root) {
  std::ifstream in(root + "/proc/net/route");
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway;
    if (!(fields >> iface >> destination >> gateway)) continue;
    if (destination != "00000000" || gateway == "00000000") continue;
    std::string address;
    if (!ReadValue(root + "/sys/class/net/" + iface + "/address", address)) return kUnknown;
    unsigned b[6];
    char tail;
    if (std::sscanf(address.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6)
      return kUnknown;
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
  }
  return kUnknown;
}

// "Version major:%d minor:%d build:%d" from a kernel release such as "6.1.0-18-amd64".
std::string VersionText(const std::string& release) {
  int v[3] = {0, 0, 0};
  const char* p = release.c_str();
  for (int i = 0; i < 3 && *p >= '0' && *p <= '9'; ++i) {
    char* end = nullptr;
    v[i] = static_cast<int>(std::strtol(p, &end, 10));
    p = end;
    if (*p != '.') break;
    ++p;
  }
  char text[96];
  std::snprintf(text, sizeof text, "Version major:%d minor:%d build:%d", v[0], v[1], v[2]);
  return text;
}

// Physical memory is MemTotal; virtual memory is what can be committed: MemTotal + SwapTotal.
std::string MemoryText(const std::string& root) {
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
  // Whole mebibytes, as signed 32-bit numbers.
  long physical = static_cast<int32_t>(totalKb >> 10);
  long virt = static_cast<int32_t>((totalKb + swapKb) >> 10);
  char text[96];
  std::snprintf(text, sizeof text, "physical memory:%ld MB virtual memory:%ld MB", physical, virt);
  return text;
}

// Md5Hex(board serial + BIOS serial + system serial); "unkown" when no source can be read.
// The DMI serials are often readable by root only; an unreadable one counts as empty.
std::string ClientUid(const std::string& root) {
  std::string board, bios, system;
  bool any = ReadValue(root + "/sys/class/dmi/id/board_serial", board);
  any = ReadValue(root + "/sys/class/dmi/id/product_serial", bios) || any;
  any = ReadValue(root + "/etc/machine-id", system) || any;
  if (!any) return kUnknown;
  return Md5Hex(board + bios + system);
}

}  // namespace

std::string Md5Hex(const std::string& utf8) {
  GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
  if (!sum) return "";
  g_checksum_update(sum, reinterpret_cast<const guchar*>(utf8.data()), static_cast<gssize>(utf8.size()));
  std::string hex = g_checksum_get_string(sum);  // lower-case hexadecimal
  g_checksum_free(sum);
  return hex;
}

MachineInfo MachineInfo::Collect(const Sources& sources) {
  std::string release = sources.kernelRelease;
  std::string machine = sources.machine;
  if (release.empty() || machine.empty()) {
    struct utsname u {};
    if (uname(&u) == 0) {
      if (release.empty()) release = u.release;
      if (machine.empty()) machine = u.machine;
    }
  }
  MachineInfo info;
  info.is64Bit = machine.find("64") != std::string::npos || machine == "s390x";
  info.cpuName = CpuName(sources.root);
  info.macAddress = MacAddress(sources.root);
  std::string version = VersionText(release);
  info.memoryText = MemoryText(sources.root);
  info.clientUid = ClientUid(sources.root);
  info.osText = version + info.cpuName + info.memoryText;
  return info;
}

bool MachineInfo::Is64BitWindows() const { return is64Bit; }
