// The digests and the signature check the launcher needs, over the platform's crypto library
// (OpenSSL here; the system's BCrypt on Windows). Any thread; one Sha256 object per thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace os {

using Sha256Value = std::array<uint8_t, 32>;

// A running SHA-256 over bytes handed to it in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Starts over; false when the library cannot (the digest is then unusable).
  bool Reset();
  bool Update(const void* data, size_t size);
  // The digest of what was added so far; more can be added afterwards. False on a failure.
  bool Current(Sha256Value& value) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The MD5 of the bytes; false on a failure.
bool Md5(const void* data, size_t size, std::array<uint8_t, 16>& digest);

// Whether signature is the Ed25519 signature of message under the public key.
bool VerifyEd25519(const std::array<uint8_t, 32>& publicKey, const std::array<uint8_t, 64>& signature,
                   const std::string& message);

}  // namespace os
