#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#include <gcrypt.h>

#include <mutex>

#include "os/Crypto.h"

namespace os {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// A BCrypt algorithm provider, closed with its owner.
struct Algorithm {
  BCRYPT_ALG_HANDLE handle = nullptr;
  explicit Algorithm(const wchar_t* name) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) handle = nullptr;
  }
  ~Algorithm() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
};

// A hash object; BCrypt allocates its state when no buffer is given.
struct Hash {
  BCRYPT_HASH_HANDLE handle = nullptr;
  Hash() = default;
  ~Hash() { Destroy(); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  void Destroy() {
    if (handle) BCryptDestroyHash(handle);
    handle = nullptr;
  }
};

// Hands BCrypt a buffer of any size in pieces its ULONG lengths can take.
bool HashData(BCRYPT_HASH_HANDLE hash, const void* data, size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    if (!Succeeded(BCryptHashData(hash, bytes, piece, 0))) return false;
    bytes += piece;
    size -= piece;
  }
  return true;
}

// libgcrypt wants its version checked once before any other call.
bool GcryptReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (ready) gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
  return ready;
}

struct SexpFree {
  void operator()(gcry_sexp_t sexp) const { gcry_sexp_release(sexp); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpFree>;

}  // namespace

struct Sha256::State {
  Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  Hash hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { Reset(); }
Sha256::~Sha256() = default;

bool Sha256::Reset() {
  state_->hash.Destroy();
  return state_->algorithm.handle &&
         Succeeded(BCryptCreateHash(state_->algorithm.handle, &state_->hash.handle, nullptr, 0, nullptr, 0, 0));
}

bool Sha256::Update(const void* data, size_t size) {
  return state_->hash.handle && HashData(state_->hash.handle, data, size);
}

bool Sha256::Current(Sha256Value& value) const {
  // Finish a copy, so the running digest can take more bytes.
  Hash copy;
  return state_->hash.handle && Succeeded(BCryptDuplicateHash(state_->hash.handle, &copy.handle, nullptr, 0, 0)) &&
         Succeeded(BCryptFinishHash(copy.handle, value.data(), static_cast<ULONG>(value.size()), 0));
}

bool Md5(const void* data, size_t size, std::array<uint8_t, 16>& digest) {
  Algorithm algorithm(BCRYPT_MD5_ALGORITHM);
  Hash hash;
  return algorithm.handle && Succeeded(BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)) &&
         HashData(hash.handle, data, size) &&
         Succeeded(BCryptFinishHash(hash.handle, digest.data(), static_cast<ULONG>(digest.size()), 0));
}

// BCrypt has no Ed25519 signatures: libgcrypt checks them.
bool VerifyEd25519(const std::array<uint8_t, 32>& publicKey, const std::array<uint8_t, 64>& signature,
                   const std::string& message) {
  if (!GcryptReady()) return false;
  gcry_sexp_t raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) != 0)
    return false;
  Sexp key(raw);
  raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                      signature.data() + 32) != 0)
    return false;
  Sexp sig(raw);
  raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(message.size()), message.data()) != 0)
    return false;
  Sexp data(raw);
  return gcry_pk_verify(sig.get(), data.get(), key.get()) == 0;
}

}  // namespace os
