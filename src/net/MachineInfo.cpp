#include "net/MachineInfo.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "os/Crypto.h"

namespace {

const char kUnknown[] = "unkown";  // the fallback text the server has always received

// "%02X-%02X-..." of the default-route adapter; "unkown" when there is none.
std::string MacAddress(const os::MachineFacts& facts) {
  if (!facts.adapterAddress) return kUnknown;
  const auto& b = *facts.adapterAddress;
  char text[18];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

std::string VersionText(const os::MachineFacts& facts) {
  char text[96];
  std::snprintf(text, sizeof text, "Version major:%d minor:%d build:%d", facts.versionMajor, facts.versionMinor,
                facts.versionBuild);
  return text;
}

// Whole mebibytes, as signed 32-bit numbers.
std::string MemoryText(const os::MachineFacts& facts) {
  long physical = static_cast<int32_t>(facts.physicalKb >> 10);
  long virt = static_cast<int32_t>(facts.virtualKb >> 10);
  char text[96];
  std::snprintf(text, sizeof text, "physical memory:%ld MB virtual memory:%ld MB", physical, virt);
  return text;
}

// Md5Hex(board serial + BIOS serial + system serial); "unkown" when no serial can be read. An
// unreadable one among readable ones counts as empty.
std::string ClientUid(const os::MachineFacts& facts) {
  if (!facts.boardSerial && !facts.biosSerial && !facts.systemSerial) return kUnknown;
  return Md5Hex(facts.boardSerial.value_or("") + facts.biosSerial.value_or("") + facts.systemSerial.value_or(""));
}

}  // namespace

std::string Md5Hex(const std::string& utf8) {
  std::array<uint8_t, 16> digest{};
  if (!os::Md5(utf8.data(), utf8.size(), digest)) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < digest.size(); ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

MachineInfo MachineInfo::Collect(const Sources& sources) {
  const os::MachineFacts facts = os::ReadMachineFacts(sources);
  MachineInfo info;
  info.is64Bit = facts.is64Bit;
  info.cpuName = facts.cpuName;
  info.macAddress = MacAddress(facts);
  info.memoryText = MemoryText(facts);
  info.clientUid = ClientUid(facts);
  info.osText = VersionText(facts) + info.cpuName + info.memoryText;
  return info;
}

bool MachineInfo::Is64BitWindows() const { return is64Bit; }
