// One archive entry as the stager found it in the package's local header and unpacked it into
// the staging folder: what the archive's directory must say of it before it is moved into the
// client.
#pragma once

#include <cstdint>
#include <string>

struct StagedEntry {
  std::string name;         // as stored (cut as the extraction cuts it), before '\' is read as '/'
  uint64_t dataOffset = 0;  // of its stored bytes in the package, right after the local header
  int method = 0;           // 0 stored, 8 deflated
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint32_t crc = 0;
};
