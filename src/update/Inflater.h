// One raw deflate stream at a time (a zip entry's data), with the CRC-32 of what it produced.
// The build picks the implementation: IsalInflater.cpp where ISA-L is installed, ZlibInflater.cpp
// otherwise (CMake option VELLMORA_INFLATER). Each one is used on one thread at a time (the update
// worker, or one of the extraction's workers, each with its own); they share no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class Inflater {
 public:
  enum class Status {
    More,       // needs more input or more room
    StreamEnd,  // the stream's last block has been inflated completely
    Corrupt,    // not a valid deflate stream
  };

  // What one call works on: both sides are advanced by what it consumed and produced.
  struct Buffers {
    const uint8_t* in = nullptr;
    size_t inSize = 0;
    uint8_t* out = nullptr;
    size_t outSize = 0;
  };

  virtual ~Inflater() = default;

  // Starts a new stream; false when the inflater cannot be set up.
  virtual bool Reset() = 0;
  // Inflates as much as the buffers allow.
  virtual Status Inflate(Buffers& buffers) = 0;
  // CRC-32 (the zip/gzip one) of everything produced since Reset.
  virtual uint32_t Crc() const = 0;
  // The same CRC-32 over plain bytes, continued from crc (stored entries); UpdateCrc(0, nullptr,
  // 0) is the start value.
  virtual uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size) const = 0;
  // The library's name, for benchmarks and logs.
  virtual const char* Name() const = 0;
};

// The build's inflater; nullptr only when memory for it cannot be had.
std::unique_ptr<Inflater> NewInflater();
