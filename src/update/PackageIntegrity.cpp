#include "update/PackageIntegrity.h"

#include <algorithm>

#include "Identity.h"
#include "os/Crypto.h"
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

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with padding of exactly 64 bytes, in its one canonical spelling: 85 digits, the
// last carrying no stray bits, then "==".
std::optional<std::array<unsigned char, 64>> ParseSignature(const std::string& text) {
  constexpr size_t kEncoded = 88;  // 4 * ceil(64 / 3)
  if (text.size() != kEncoded || text.compare(86, 2, "==") != 0) return std::nullopt;
  std::array<unsigned char, 64> out{};
  uint32_t bits = 0;
  int held = 0;
  size_t made = 0;
  for (size_t i = 0; i < 86; ++i) {
    const int digit = Base64Digit(text[i]);
    if (digit < 0) return std::nullopt;
    bits = bits << 6 | static_cast<uint32_t>(digit);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out[made++] = static_cast<unsigned char>(bits >> held);
      bits &= (1u << held) - 1;
    }
  }
  // 86 digits carry 516 bits: 512 of the signature and 4 that must be zero.
  if (made != 64 || bits != 0) return std::nullopt;
  return out;
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
  if (keySet_ && !(key_ && signature_ && os::VerifyEd25519(*key_, *signature_, SignedText(digest)))) {
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
