// Read-only record of machine facts and the client identity sent with every telemetry report.
// Start-up collects it once and keeps it in the launcher context; afterwards it never changes and
// may be read from any thread.
#pragma once

#include <string>

#include "os/MachineFacts.h"

class MachineInfo {
 public:
  // Where the facts come from (os/MachineFacts.h): Sources{} reads the live system.
  using Sources = os::MachineSources;

  // Builds a record from the given sources (Sources{} reads the live system).
  static MachineInfo Collect(const Sources& sources);

  // True on a 64-bit machine.
  bool Is64BitWindows() const;

  std::string cpuName;     // "model name" of the first processor, as stored; empty when absent
  std::string macAddress;  // "%02X-%02X-..." of the default-route interface; "unkown" otherwise
  std::string osText;      // version text + cpuName + memoryText, run together
  std::string memoryText;  // "physical memory:%ld MB virtual memory:%ld MB"
  std::string clientUid;   // Md5Hex(board serial + BIOS serial + system serial); "unkown" when none readable
  bool is64Bit = false;
};

// Lower-case hexadecimal MD5 digest (32 digits) of the UTF-8 bytes of the text; empty on failure.
std::string Md5Hex(const std::string& utf8);
