// What a game package must prove before anything of it is extracted, and the proof itself.
//
// The configuration may publish "ClientPackageSha256" (64 hex digits, either case): the complete
// package's SHA-256 must then match. A build with a compiled-in Ed25519 public key also demands
// "ClientPackageSignature": standard base64 with padding of the 64-byte signature over the text
// "<GameShortName>|<ChannelName>|<ClientVersion>|<sha256 in lower-case hex>", so neither the
// network nor a mirror can hand over another executable, and an older signed package cannot be
// offered as a newer version (the "ClientVersion" value as received, blanks and CR around it
// dropped).
//
// Update worker only. Its log lines belong to CGameRemoteConfig::OnDownLoad.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/RemoteConfigTable.h"
#include "update/Sha256Digest.h"

class PackageIntegrity {
 public:
  // publicKeyHex: the raw 32-byte key as 64 hex digits; empty when packages need no signature.
  PackageIntegrity(const RemoteConfigTable& table, const std::string& publicKeyHex);
  PackageIntegrity(const PackageIntegrity&) = delete;
  PackageIntegrity& operator=(const PackageIntegrity&) = delete;

  // True (with an ERROR line saying why) when no package can pass under this configuration: the
  // key demands a hash or a signature that is missing, or a published value is malformed.
  bool RefusesEveryPackage() const;

  // True when packages are checked at all (a hash published or a key compiled in): only then is
  // a digest taken.
  bool Checks() const { return hashPublished_ || keySet_; }

  // The text the publisher signs for a package with this digest.
  std::string SignedText(const Sha256Digest::Value& digest) const;

  // The verdict on a complete package's digest: logged (ERROR with both digests on a mismatch,
  // ERROR on a signature that does not verify, INFO when accepted).
  bool Accepts(const Sha256Digest::Value& digest) const;

 private:
  bool hashPublished_ = false;
  std::optional<Sha256Digest::Value> expected_;
  bool signaturePublished_ = false;
  std::optional<std::array<unsigned char, 64>> signature_;
  std::string signedPrefix_;
  bool keySet_ = false;
  std::optional<std::array<unsigned char, 32>> key_;
};
