#include "PackageSignature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace demo {
namespace {

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool Sha256OfFile(const std::string& path, unsigned char (&digest)[32]) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  if (!file || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  std::vector<unsigned char> block(1 << 20);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), file.get())) > 0)
    if (EVP_DigestUpdate(ctx.get(), block.data(), n) != 1) return false;
  unsigned size = 0;
  return !std::ferror(file.get()) && EVP_DigestFinal_ex(ctx.get(), digest, &size) == 1 && size == 32;
}

}  // namespace

PackageProof ProvePackage(const std::string& packagePath, const std::string& signedPrefix, const std::string& keyPath) {
  PackageProof proof;
  unsigned char digest[32];
  if (!Sha256OfFile(packagePath, digest)) {
    std::fprintf(stderr, "vellmora-demo-server: cannot read %s to sign it\n", packagePath.c_str());
    return proof;
  }
  for (unsigned char b : digest) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    proof.sha256Hex += hex;
  }
  if (keyPath.empty()) return proof;
  const std::string message = signedPrefix + proof.sha256Hex;

  std::unique_ptr<std::FILE, FileClose> in(std::fopen(keyPath.c_str(), "r"));
  std::unique_ptr<EVP_PKEY, KeyFree> key(in ? PEM_read_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  unsigned char signature[64];
  size_t size = sizeof signature;
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519 || !ctx ||
      EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &size, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1 ||
      size != sizeof signature) {
    std::fprintf(stderr, "vellmora-demo-server: no Ed25519 signing key in %s: the package goes out unsigned\n",
                 keyPath.c_str());
    return proof;
  }
  unsigned char text[89] = {};
  EVP_EncodeBlock(text, signature, sizeof signature);
  proof.signature = reinterpret_cast<const char*>(text);
  return proof;
}

}  // namespace demo
