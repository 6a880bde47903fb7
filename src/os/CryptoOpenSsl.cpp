#include <openssl/evp.h>

#include <memory>

#include "os/Crypto.h"  // after OpenSSL's header: this file is its platform side

namespace os {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

}  // namespace

struct Sha256::State {
  MdCtx ctx{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) { Reset(); }

Sha256::~Sha256() = default;

bool Sha256::Reset() { return state_->ctx && EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) == 1; }

bool Sha256::Update(const void* data, size_t size) {
  return state_->ctx && EVP_DigestUpdate(state_->ctx.get(), data, size) == 1;
}

bool Sha256::Current(Sha256Value& value) const {
  // Finish a copy, so the running digest can take more bytes.
  MdCtx copy(EVP_MD_CTX_new());
  unsigned size = 0;
  return copy && state_->ctx && EVP_MD_CTX_copy_ex(copy.get(), state_->ctx.get()) == 1 &&
         EVP_DigestFinal_ex(copy.get(), value.data(), &size) == 1 && size == value.size();
}

bool Md5(const void* data, size_t size, std::array<uint8_t, 16>& digest) {
  unsigned length = 0;
  return EVP_Digest(data, size, digest.data(), &length, EVP_md5(), nullptr) == 1 && length == digest.size();
}

bool VerifyEd25519(const std::array<uint8_t, 32>& publicKey, const std::array<uint8_t, 64>& signature,
                   const std::string& message) {
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  MdCtx ctx(EVP_MD_CTX_new());
  if (!key || !ctx) return false;
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

}  // namespace os
