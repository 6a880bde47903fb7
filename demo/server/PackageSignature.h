// What the demo publisher says about its package: the SHA-256 of the file and an Ed25519
// signature over "<game>|<channel>|<version>|<sha256 hex>", as the configuration's
// ClientPackageSha256 and ClientPackageSignature carry them.
#pragma once

#include <string>

namespace demo {

struct PackageProof {
  std::string sha256Hex;  // lower-case hex; empty when the package cannot be read
  std::string signature;  // standard base64 with padding; empty without a usable key
};

// Reads the package and signs "<signedPrefix><sha256 hex>" with the Ed25519 private key in
// keyPath (PEM; none when empty); signedPrefix is "<game>|<channel>|<version>|". Problems go to
// stderr; what could be made is returned.
PackageProof ProvePackage(const std::string& packagePath, const std::string& signedPrefix, const std::string& keyPath);

}  // namespace demo
