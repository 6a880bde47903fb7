// A self-signed certificate for 127.0.0.1, written as PEM files, for a loopback https server in
// tests; clients trust it by naming the certificate file as their certificate authority.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <string>

namespace nettest {

struct TestCertificate {
  std::string certPath;  // also the authority to trust
  std::string keyPath;
};

// Writes <dir>/loopback.crt and <dir>/loopback.key; empty paths when OpenSSL fails.
inline TestCertificate MakeLoopbackCertificate(const std::string& dir) {
  TestCertificate out;
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key && cert;
  if (ok) {
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (auto [nid, value] :
         {std::pair{NID_subject_alt_name, "IP:127.0.0.1"}, std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
      X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
      ok = ok && ext && X509_add_ext(cert, ext, -1) == 1;
      X509_EXTENSION_free(ext);
    }
    ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
  }
  const std::string certPath = dir + "/loopback.crt", keyPath = dir + "/loopback.key";
  if (ok) {
    FILE* c = std::fopen(certPath.c_str(), "w");
    FILE* k = std::fopen(keyPath.c_str(), "w");
    ok = c && k && PEM_write_X509(c, cert) == 1 &&
         PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (c) std::fclose(c);
    if (k) std::fclose(k);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  if (ok) out = {certPath, keyPath};
  return out;
}

}  // namespace nettest
