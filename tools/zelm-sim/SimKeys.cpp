// Key and certificate creation: an RSA key and a self-signed certificate per
// identity, written once through the simulator's one file writer.
#include "tools/zelm-sim/SimKeys.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <filesystem>

#include "tools/zelm-sim/SimFiles.h"

namespace sim {

namespace {

constexpr int kKeyBits = 2048;
// Simulator keys are never rotated, so their certificates must outlive them.
constexpr long kValidityDays = 36500;

// Never asks for a pass phrase: the store's keys are written unencrypted,
// and an encrypted one put there by hand is refused rather than prompted for.
int NoPassword(char *, int, int, void *) {
  return 0;
}

const char *CommonName(Identity identity) {
  switch (identity) {
  case Identity::Owner:
    return "Zelm Simulator Owner";
  case Identity::Ztd:
    return "Zelm Simulator ZTD";
  case Identity::Local:
    return "Zelm Simulator Local";
  }
  return "";
}

std::filesystem::path KeysDir(const std::string &dir) {
  return std::filesystem::path(dir) / "keys";
}

std::string KeyPath(const std::string &dir, Identity identity) {
  return (KeysDir(dir) / (std::string(IdentityName(identity)) + ".key")).string();
}

std::string CertPath(const std::string &dir, Identity identity) {
  return (KeysDir(dir) / (std::string(IdentityName(identity)) + ".crt")).string();
}

bool AddExtension(X509 *cert, X509V3_CTX *ctx, int nid, const char *value) {
  Owned<X509_EXTENSION> extension(X509V3_EXT_nconf_nid(nullptr, ctx, nid, value));
  return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// A self-signed certificate for Key naming the identity.
Owned<X509> MakeCertificate(EVP_PKEY *key, Identity identity) {
  Owned<X509> cert(X509_new());
  Owned<BIGNUM> serial(BN_new());
  if (!cert || !serial || BN_rand(serial.get(), 64, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1 ||
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) == nullptr ||
      X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) == nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(cert.get()), kValidityDays, 0, nullptr) == nullptr) {
    return nullptr;
  }
  X509_NAME *name = X509_get_subject_name(cert.get());
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char *>(CommonName(identity)), -1,
                                 -1, 0) != 1 ||
      X509_set_issuer_name(cert.get(), name) != 1 || X509_set_pubkey(cert.get(), key) != 1) {
    return nullptr;
  }
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
  if (!AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE") ||
      !AddExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature") ||
      !AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") ||
      X509_sign(cert.get(), key, EVP_sha256()) <= 0) {
    return nullptr;
  }
  return cert;
}

bool KeyPem(EVP_PKEY *key, std::string *pem) {
  Owned<BIO> out(BIO_new(BIO_s_mem()));
  if (!out ||
      PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return false;
  }
  *pem = MemoryText(out.get());
  return true;
}

bool CertPem(X509 *cert, std::string *pem) {
  Owned<BIO> out(BIO_new(BIO_s_mem()));
  if (!out || PEM_write_bio_X509(out.get(), cert) != 1) {
    return false;
  }
  *pem = MemoryText(out.get());
  return true;
}

Owned<EVP_PKEY> ParseKey(const std::string &pem) {
  Owned<BIO> in = ReadOnlyBio(pem.data(), pem.size());
  return Owned<EVP_PKEY>(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, NoPassword, nullptr)
                            : nullptr);
}

Owned<X509> ParseCert(const std::string &pem) {
  Owned<BIO> in = ReadOnlyBio(pem.data(), pem.size());
  return Owned<X509>(in ? PEM_read_bio_X509(in.get(), nullptr, NoPassword, nullptr) : nullptr);
}

// Path's content, written as Made unless another run made the file first
// (then its file is read back). FALSE with *Error.
bool Keep(const std::string &path, const std::string &made, mode_t mode, bool replace,
          std::string *kept, bool *wrote, std::string *error) {
  *wrote = false;
  switch (WriteFile(path, made, mode, replace, error)) {
  case Written::Failed:
    return false;
  case Written::Done:
    *wrote = true;
    *kept = made;
    return true;
  case Written::AlreadyThere:
    return ReadFile(path, kept, error);
  }
  return false;
}

} // namespace

UINT8 IdentityBits(Identity identity) {
  switch (identity) {
  case Identity::Owner:
    return static_cast<UINT8>(ZELM_IDENTITY_OWNER);
  case Identity::Ztd:
    return static_cast<UINT8>(ZELM_IDENTITY_ZERO_TOUCH);
  case Identity::Local:
    return static_cast<UINT8>(ZELM_IDENTITY_LOCAL);
  }
  return 0;
}

const char *IdentityName(Identity identity) {
  switch (identity) {
  case Identity::Owner:
    return "owner";
  case Identity::Ztd:
    return "ztd";
  case Identity::Local:
    return "local";
  }
  return "";
}

KeyStore::KeyStore(std::string dir) : dir_(std::move(dir)) {}

Owned<X509> KeyStore::StoredCertificate(Identity identity) {
  std::string pem;
  std::string ignored;
  if (!ReadFile(CertPath(dir_, identity), &pem, &ignored)) {
    return nullptr;
  }
  Owned<X509> cert = ParseCert(pem);
  ERR_clear_error();
  return cert;
}

bool KeyStore::LoadOrMake(Identity identity, Owned<EVP_PKEY> *key, Owned<X509> *cert,
                          std::string *error) {
  std::error_code ec;
  std::filesystem::path keysDir = KeysDir(dir_);
  if (std::filesystem::create_directories(keysDir, ec)) {
    std::filesystem::permissions(keysDir, std::filesystem::perms::owner_all, ec);
  }
  if (ec) {
    *error = "cannot create " + keysDir.string() + ": " + ec.message();
    return false;
  }
  const std::string keyPath = KeyPath(dir_, identity);
  const std::string certPath = CertPath(dir_, identity);

  std::string keyPem;
  std::string ignored;
  bool madeKey = false;
  if (!ReadFile(keyPath, &keyPem, &ignored)) {
    Owned<EVP_PKEY> fresh(EVP_RSA_gen(kKeyBits));
    std::string pem;
    if (!fresh || !KeyPem(fresh.get(), &pem)) {
      *error = OpenSslError("cannot make the " + std::string(IdentityName(identity)) + " key");
      return false;
    }
    if (!Keep(keyPath, pem, S_IRUSR | S_IWUSR, false, &keyPem, &madeKey, error)) {
      return false;
    }
  }
  *key = ParseKey(keyPem);
  if (!*key) {
    *error = OpenSslError(keyPath + " holds no usable private key");
    return false;
  }

  std::string certPem;
  if (madeKey || !ReadFile(certPath, &certPem, &ignored)) {
    Owned<X509> fresh = MakeCertificate(key->get(), identity);
    std::string pem;
    if (!fresh || !CertPem(fresh.get(), &pem)) {
      *error =
          OpenSslError("cannot make the " + std::string(IdentityName(identity)) + " certificate");
      return false;
    }
    // A certificate left beside a key that was missing belongs to no key
    // we have, so a new key replaces it.
    bool wrote = false;
    if (!Keep(certPath, pem, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, madeKey, &certPem, &wrote,
              error)) {
      return false;
    }
  }
  *cert = ParseCert(certPem);
  if (!*cert) {
    *error = OpenSslError(certPath + " holds no certificate");
    return false;
  }
  if (X509_check_private_key(cert->get(), key->get()) != 1) {
    *error = OpenSslError(certPath + " is not the certificate of " + keyPath);
    return false;
  }
  return true;
}

bool KeyStore::Ensure(Identity identity, std::string *error) {
  std::string ignored;
  Owned<EVP_PKEY> key;
  Owned<X509> cert;
  try {
    return LoadOrMake(identity, &key, &cert, error != nullptr ? error : &ignored);
  } catch (const std::exception &e) {
    ERR_clear_error();
    if (error != nullptr) {
      *error = e.what();
    }
    return false;
  }
}

std::vector<UINT8> KeyStore::Certificate(Identity identity) {
  Owned<X509> cert = StoredCertificate(identity);
  int size = cert ? i2d_X509(cert.get(), nullptr) : 0;
  if (size <= 0) {
    ERR_clear_error();
    return {};
  }
  std::vector<UINT8> der(static_cast<size_t>(size));
  unsigned char *out = der.data();
  if (i2d_X509(cert.get(), &out) != size) {
    ERR_clear_error();
    return {};
  }
  return der;
}

} // namespace sim
