#include "SelfSignedCert.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace camsim {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr long kValidSeconds = 365L * 24 * 3600;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("self-signed certificate: ") + what);
}

KeyPtr makeKey() {
  KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  check(key != nullptr, "key generation failed");
  return key;
}

CertPtr makeCertificate(EVP_PKEY* key) {
  CertPtr cert(X509_new(), X509_free);
  check(cert != nullptr, "X509_new failed");
  check(X509_set_version(cert.get(), 2) == 1, "version");
  check(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1) == 1, "serial");
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "not before");
  check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidSeconds) != nullptr, "not after");
  check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("vantrel-camsim"),
                                   -1, -1, 0) == 1,
        "common name");
  check(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
  // The name "localhost" (not 127.0.0.1): clients that check host names accept the one and
  // refuse the other.
  X509V3_CTX extensionContext;
  X509V3_set_ctx_nodb(&extensionContext);
  X509V3_set_ctx(&extensionContext, cert.get(), cert.get(), nullptr, nullptr, 0);
  X509_EXTENSION* altName =
      X509V3_EXT_conf_nid(nullptr, &extensionContext, NID_subject_alt_name, const_cast<char*>("DNS:localhost"));
  check(altName != nullptr && X509_add_ext(cert.get(), altName, -1) == 1, "subject alternative name");
  X509_EXTENSION_free(altName);
  check(X509_sign(cert.get(), key, EVP_sha256()) > 0, "signing");
  return cert;
}

template <class Write>
std::string toPem(Write write) {
  BioPtr bio(BIO_new(BIO_s_mem()), BIO_free);
  check(bio != nullptr, "BIO_new failed");
  check(write(bio.get()) == 1, "PEM output");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

Identity useSelfSignedCertificate(boost::asio::ssl::context& context) {
  KeyPtr key = makeKey();
  CertPtr cert = makeCertificate(key.get());
  const std::string certPem = toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
  const std::string keyPem =
      toPem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
  context.use_certificate_chain(boost::asio::buffer(certPem));
  context.use_private_key(boost::asio::buffer(keyPem), boost::asio::ssl::context::pem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  check(X509_digest(cert.get(), EVP_sha256(), digest, &size) == 1, "fingerprint");
  Identity identity;
  identity.certificatePem = certPem;
  char hex[4];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
    identity.fingerprint += hex;
  }
  return identity;
}

}  // namespace camsim
