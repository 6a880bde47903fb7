#include "os/PeImage.h"

#include <cstdint>

#include "os/File.h"

namespace os {

namespace {

constexpr uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew in the MZ header
constexpr uint32_t kMaxNewHeaderOffset = 16u << 20;

// Reads exactly size bytes at offset; false on a short file or an error.
bool ReadExactly(const File& file, uint64_t offset, unsigned char* buffer, size_t size) {
  return file.ReadAt(buffer, size, offset) == static_cast<int64_t>(size);
}

}  // namespace

bool IsWindowsExecutable(const std::string& path) {
  File file = File::Open(path, File::Access::Read);
  if (!file.IsOpen()) return false;
  unsigned char mz[2], field[4], signature[4];
  if (!ReadExactly(file, 0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z' ||
      !ReadExactly(file, kNewHeaderOffsetField, field, sizeof field))
    return false;
  const uint32_t offset = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
                          static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
  // The PE header follows the MZ header; an offset inside it or absurdly far is no PE image.
  return offset >= kNewHeaderOffsetField + sizeof field && offset <= kMaxNewHeaderOffset &&
         ReadExactly(file, offset, signature, sizeof signature) && signature[0] == 'P' && signature[1] == 'E' &&
         signature[2] == 0 && signature[3] == 0;
}

}  // namespace os
