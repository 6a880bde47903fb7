#include "update/EntryMode.h"

unsigned StoredMode(const unz_file_info64& info, unsigned umask) {
  const unsigned long kUnixHost = 3;
  constexpr unsigned kTypeBits = 0170000;  // the Unix file type in the stored mode
  constexpr unsigned kRegular = 0100000;
  if ((info.version >> 8) != kUnixHost) return 0;
  const unsigned stored = static_cast<unsigned>(info.external_fa >> 16);
  if ((stored & kTypeBits) != 0 && (stored & kTypeBits) != kRegular) return 0;
  return stored & 0777 & ~umask;
}
