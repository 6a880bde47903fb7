#include "update/PackageIntegrity.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "Identity.h"
#include "update/UpdateLog.h"

namespace {

const char kFunc[] = "CGameRemoteConfig::OnDownLoad";

// Blanks and a CR (a document sent with CR LF line ends keeps the CR in the value) around it.
std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly 2 * N hex digits, either case.
template <size_t N>
std::optional<std::array<unsigned char, N>> ParseHex(const std::string& text) {
  if (text.size() != 2 * N) return std::nullopt;
  std::array<unsigned char, N> out{};
  for (size_t i = 0; i < N; ++i) {
    int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return out;
}

// Standard base64 with padding of exactly 64 bytes, in its one canonical spelling.
std::optional<std::array<unsigned char, 64>> ParseSignature(const std::string& text) {
  constexpr size_t kEncoded = 88;  // 4 * ceil(64 / 3)
  if (text.size() != kEncoded) return std::nullopt;
  unsigned char decoded[kEncoded] = {};
  if (EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(kEncoded)) < 64)
    return std::nullopt;
  std::array<unsigned char, 64> out{};
  std::copy(decoded, decoded + 64, out.begin());
  // Encoding it again must give the text back: no stray bits in the padding, no other spelling.
  unsigned char again[kEncoded + 1] = {};
  EVP_EncodeBlock(again, out.data(), 64);
  if (text != reinterpret_cast<const char*>(again)) return std::nullopt;
  return out;
}

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

bool VerifyEd25519(const std::array<unsigned char, 32>& key, const std::array<unsigned char, 64>& signature,
                   const std::string& message) {
  std::unique_ptr<EVP_PKEY, PkeyFree> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!pkey || !ctx) return false;
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

void Refuse(const std::string& why) {
  update_log::Error(update_log::Format(update_log::kShort, "package refused: %s", why.c_str()), kFunc, 661);
}

}  // namespace

PackageIntegrity::PackageIntegrity(const RemoteConfigTable& table, const std::string& publicKeyHex) {
  if (auto hash = table.Find("ClientPackageSha256")) {
    hashPublished_ = true;
    expected_ = ParseHex<32>(Trimmed(*hash));
  }
  if (auto signature = table.Find("ClientPackageSignature")) {
    signaturePublished_ = true;
    signature_ = ParseSignature(Trimmed(*signature));
  }
  // Bound into the signed text: a package signed for another game, channel or version is refused
  // even though its digest matches.
  signedPrefix_ = std::string(identity::GameShortName) + "|" + identity::ChannelName + "|" +
                  Trimmed(table.Find("ClientVersion").value_or(std::string())) + "|";
  if (!publicKeyHex.empty()) {
    keySet_ = true;
    key_ = ParseHex<32>(publicKeyHex);
  }
}

std::string PackageIntegrity::SignedText(const Sha256Digest::Value& digest) const {
  return signedPrefix_ + Sha256Digest::Hex(digest);
}

bool PackageIntegrity::RefusesEveryPackage() const {
  if (keySet_ && !key_) {
    Refuse("the package key of this build is not 64 hex digits");
  } else if (hashPublished_ && !expected_) {
    Refuse("ClientPackageSha256 is not 64 hex digits");
  } else if (keySet_ && !hashPublished_) {
    Refuse("no ClientPackageSha256, and this build takes signed packages only");
  } else if (keySet_ && !signaturePublished_) {
    Refuse("no ClientPackageSignature, and this build takes signed packages only");
  } else if (keySet_ && !signature_) {
    Refuse("ClientPackageSignature is not the base64 of a 64-byte signature");
  } else {
    return false;
  }
  return true;
}

bool PackageIntegrity::Accepts(const Sha256Digest::Value& digest) const {
  const std::string actual = Sha256Digest::Hex(digest);
  if (expected_ && *expected_ != digest) {
    update_log::Error(update_log::Format(update_log::kShort, "package sha256 mismatch: expected %s, got %s",
                                         Sha256Digest::Hex(*expected_).c_str(), actual.c_str()),
                      kFunc, 686);
    return false;
  }
  if (keySet_ && !(key_ && signature_ && VerifyEd25519(*key_, *signature_, SignedText(digest)))) {
    update_log::Error(
        update_log::Format(update_log::kShort, "package signature does not verify: sha256 %s", actual.c_str()), kFunc,
        687);
    return false;
  }
  update_log::Info(update_log::Format(update_log::kShort, "package verified: sha256 %s%s", actual.c_str(),
                                      keySet_ ? ", signature good" : ""),
                   kFunc, 688);
  return true;
}
