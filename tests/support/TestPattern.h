// Test data whose every byte depends on its offset, so that a misplaced or lost piece shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// n bytes of a pseudo-random sequence, the same for the same seed.
inline std::string TestPattern(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}
