// The machine's own facts as the platform reports them: the system version, the processor, the
// adapter of the default route, memory, the hardware serials. Raw values only; the texts built
// from them live with their user (net/MachineInfo). Any thread; reads the system on every call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace os {

// Where the facts come from. Tests point root at a directory of sample files; empty fields read
// the live system.
struct MachineSources {
  std::string root;           // put before the system's own paths of the facts ("" = the live system)
  std::string kernelRelease;  // the system version as text, e.g. "6.1.0-18-amd64"
  std::string machine;        // the machine name, e.g. "x86_64"
};

struct MachineFacts {
  bool is64Bit = false;  // a 64-bit machine
  // The system version; 0 for a part that cannot be read.
  int versionMajor = 0;
  int versionMinor = 0;
  int versionBuild = 0;
  std::string cpuName;  // the first processor's name, as stored; empty when absent
  // The hardware address of the adapter that carries the default route; none when there is no such
  // adapter or its address cannot be read.
  std::optional<std::array<uint8_t, 6>> adapterAddress;
  // KiB of physical memory, and of what can be committed (physical memory + swap); 0 when unknown.
  int64_t physicalKb = 0;
  int64_t virtualKb = 0;
  // The board, BIOS and system serials; none for one that cannot be read.
  std::optional<std::string> boardSerial;
  std::optional<std::string> biosSerial;
  std::optional<std::string> systemSerial;
};

MachineFacts ReadMachineFacts(const MachineSources& sources);

// The user agent of the system's browser, sent by requests that name none.
std::string SystemUserAgent();

}  // namespace os
