// vellmora-demo-signing-key <private key file> <public key file>: the demo publisher's Ed25519
// key pair. Keeps a private key that is already there (a launcher built with its public key must
// go on verifying the demo's packages) and makes one otherwise; either way it writes the public
// key as the 64 hex digits that VELLMORA_PACKAGE_PUBLIC_KEY takes. A demo key guards nothing: a
// real deployment signs with a key that never leaves its publisher.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vellmora-demo-signing-key <private key file> <public key file>\n");
    return 2;
  }
  EVP_PKEY* key = nullptr;
  if (FILE* in = std::fopen(argv[1], "r")) {
    key = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    if (!key || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
      std::fprintf(stderr, "vellmora-demo-signing-key: %s is not an Ed25519 private key\n", argv[1]);
      return 1;
    }
  } else {
    key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    FILE* out = key ? std::fopen(argv[1], "w") : nullptr;
    if (!out) {
      std::fprintf(stderr, "vellmora-demo-signing-key: cannot write %s\n", argv[1]);
      return 1;
    }
    chmod(argv[1], 0600);
    bool written = PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(out) != 0 || !written) {
      std::fprintf(stderr, "vellmora-demo-signing-key: cannot write %s\n", argv[1]);
      return 1;
    }
  }
  unsigned char raw[32];
  size_t size = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key, raw, &size) != 1 || size != sizeof raw) return 1;
  EVP_PKEY_free(key);
  FILE* out = std::fopen(argv[2], "w");
  if (!out) {
    std::fprintf(stderr, "vellmora-demo-signing-key: cannot write %s\n", argv[2]);
    return 1;
  }
  for (unsigned char b : raw) std::fprintf(out, "%02x", b);
  std::fprintf(out, "\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
