// A running SHA-256 (os/Crypto.h) over bytes handed to it in pieces: the package's digest is
// taken while its bytes are written, so a complete package needs no second pass.
// One thread at a time (the update worker).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "os/Crypto.h"
#include "os/File.h"

class Sha256Digest {
 public:
  using Value = os::Sha256Value;

  Sha256Digest();
  Sha256Digest(const Sha256Digest&) = delete;
  Sha256Digest& operator=(const Sha256Digest&) = delete;

  // Starts over, as if nothing had been added.
  void Reset();
  void Add(const void* data, size_t size);
  // Adds the first `length` bytes of the open file (read at their offsets; its position is left
  // alone). False when they cannot all be read.
  bool AddFile(const os::File& file, int64_t length);

  // False once anything failed (no digest can be trusted then).
  bool Ok() const { return ok_; }
  // The time spent digesting since the last Reset (what the digest costs its caller).
  std::chrono::nanoseconds Busy() const { return busy_; }
  // The digest of everything added so far; more can be added afterwards.
  Value Current() const;

  static std::string Hex(const Value& value);  // lower-case

  enum class FileResult { Ok, Unreadable, Stopped };
  // The digest of a whole file into value (Ok only). stopRequested, when set, is asked before
  // each block of 1 MiB: a package of gigabytes takes seconds, and a closing launcher must not
  // wait for it. Stopped says nothing about the file.
  static FileResult OfFile(const std::string& path, Value& value, const std::function<bool()>& stopRequested = {});

 private:
  // Adds `length` bytes of the file from offset on.
  bool AddRange(const os::File& file, int64_t offset, int64_t length);

  os::Sha256 sha_;
  bool ok_ = false;
  std::chrono::nanoseconds busy_{0};
};
