// The simulator's authentication component over OpenSSL: keys and
// certificates on disk, packet signing and checking, and the protocol of one
// boot.
//
// Signatures are made as `openssl smime -sign -binary -noattr -nocerts
// -outform DER -md sha256` makes them: detached, no signed attributes, and
// without the signer's certificate (a verifier here trusts only the
// certificates in the store, so carrying one would only cost packet space).
// Signatures that do carry certificates or signed attributes verify as well.
#include "tools/zelm-sim/SimAuthentication.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zelm/ZelmApplyPacket.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>

#include "host/HostFirmware.h"

namespace sim {

namespace {

constexpr char kMagic[4] = {'Z', 'P', 'K', 'T'};
constexpr size_t kLengthSize = 4;
constexpr size_t kSignedHeaderSize = sizeof(kMagic) + kLengthSize;
// Keeps every size within what OpenSSL's BIOs take (an int).
constexpr size_t kMaxPayloadSize = INT_MAX - kSignedHeaderSize;
constexpr int kKeyBits = 2048;
// Simulator keys are never rotated, so their certificates must outlive them.
constexpr long kValidityDays = 36500;
constexpr char kUnsignedFiller[] = "UNSIGNED";
constexpr sim::Identity kCheckOrder[] = {sim::Identity::Owner, sim::Identity::Ztd,
                                         sim::Identity::Local};

struct OpenSslFree {
  void operator()(BIO *p) const { BIO_free_all(p); }
  void operator()(BIGNUM *p) const { BN_free(p); }
  void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
  void operator()(PKCS7 *p) const { PKCS7_free(p); }
  void operator()(X509 *p) const { X509_free(p); }
  void operator()(X509_EXTENSION *p) const { X509_EXTENSION_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }
};
template <typename T> using Owned = std::unique_ptr<T, OpenSslFree>;

// Never asks for a pass phrase: the store's keys are written unencrypted,
// and an encrypted one put there by hand is refused rather than prompted for.
int NoPassword(char *, int, int, void *) {
  return 0;
}

// What failed, with OpenSSL's first queued reason; the queue is left empty
// so a later message does not pick up a stale reason.
std::string OpenSslError(const std::string &what) {
  std::string text = what;
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof(reason));
    text += ": ";
    text += reason;
  }
  ERR_clear_error();
  return text;
}

std::string SystemError(const std::string &what, const std::string &path) {
  return what + " " + path + ": " + std::strerror(errno);
}

void PutUint32(std::vector<UINT8> *out, UINT32 value) {
  for (int i = 0; i < 4; i++) {
    out->push_back(static_cast<UINT8>(value >> (8 * i)));
  }
}

UINT32 ReadUint32(const UINT8 *p) {
  return static_cast<UINT32>(p[0]) | static_cast<UINT32>(p[1]) << 8 |
         static_cast<UINT32>(p[2]) << 16 | static_cast<UINT32>(p[3]) << 24;
}

// "ZPKT", the payload size, the payload.
std::vector<UINT8> SignedData(std::string_view payload) {
  std::vector<UINT8> data(kMagic, kMagic + sizeof(kMagic));
  PutUint32(&data, static_cast<UINT32>(payload.size()));
  data.insert(data.end(), payload.begin(), payload.end());
  return data;
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

// FALSE when the file cannot be read (missing, or not readable by us).
bool ReadFile(const std::string &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    return false;
  }
  *bytes = content.str();
  return true;
}

enum class Published { Written, AlreadyThere, Failed };

// Writes Bytes whole under a temporary name, then renames it into place, so
// a crash or a full disk leaves either no file or a complete one. Without
// Replace an existing file is kept (another process made it first).
Published Publish(const std::string &path, const std::string &bytes, mode_t mode, bool replace,
                  std::string *error) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = SystemError("cannot create a file beside", path);
    return Published::Failed;
  }
  bool ok = fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      ok = false;
    }
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) {
    *error = SystemError("cannot write", temp);
  }
  if (close(fd) != 0 && ok) {
    *error = SystemError("cannot write", temp);
    ok = false;
  }
  if (ok) {
    int moved = replace
                    ? rename(temp.c_str(), path.c_str())
                    : renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without no-replace renames: a hard link refuses an
      // existing name the same way.
      moved = link(temp.c_str(), path.c_str());
    }
    if (moved != 0 && errno == EEXIST && !replace) {
      unlink(temp.c_str());
      return Published::AlreadyThere;
    }
    if (moved != 0) {
      *error = SystemError("cannot rename into", path);
      ok = false;
    }
  }
  // After a rename the temporary name is gone; after a link it is still
  // there; after a failure it must not stay behind.
  unlink(temp.c_str());
  return ok ? Published::Written : Published::Failed;
}

std::string MemoryText(BIO *bio) {
  char *bytes = nullptr;
  long size = BIO_get_mem_data(bio, &bytes);
  return size > 0 ? std::string(bytes, static_cast<size_t>(size)) : std::string();
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

Owned<BIO> ReadOnlyBio(const void *bytes, size_t size) {
  static const char kNothing = 0;
  if (size > INT_MAX) {
    return nullptr;
  }
  return Owned<BIO>(BIO_new_mem_buf(size != 0 ? bytes : &kNothing, static_cast<int>(size)));
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

// The identity's certificate from the store, or NULL when there is none.
Owned<X509> ReadCertificate(const std::string &dir, Identity identity) {
  std::string pem;
  if (!ReadFile(CertPath(dir, identity), &pem)) {
    return nullptr;
  }
  Owned<X509> cert = ParseCert(pem);
  ERR_clear_error();
  return cert;
}

// The identity's key and certificate, made and written when missing.
bool LoadOrMake(const std::string &dir, Identity identity, Owned<EVP_PKEY> *key, Owned<X509> *cert,
                std::string *error) {
  std::error_code ec;
  std::filesystem::path keysDir = KeysDir(dir);
  if (std::filesystem::create_directories(keysDir, ec)) {
    std::filesystem::permissions(keysDir, std::filesystem::perms::owner_all, ec);
  }
  if (ec) {
    *error = "cannot create " + keysDir.string() + ": " + ec.message();
    return false;
  }
  const std::string keyPath = KeyPath(dir, identity);
  const std::string certPath = CertPath(dir, identity);

  std::string keyPem;
  bool madeKey = false;
  if (!ReadFile(keyPath, &keyPem)) {
    Owned<EVP_PKEY> fresh(EVP_RSA_gen(kKeyBits));
    std::string pem;
    if (!fresh || !KeyPem(fresh.get(), &pem)) {
      *error = OpenSslError("cannot make the " + std::string(IdentityName(identity)) + " key");
      return false;
    }
    switch (Publish(keyPath, pem, S_IRUSR | S_IWUSR, false, error)) {
    case Published::Failed:
      return false;
    case Published::Written:
      madeKey = true;
      keyPem = pem;
      break;
    case Published::AlreadyThere:
      if (!ReadFile(keyPath, &keyPem)) {
        *error = SystemError("cannot read", keyPath);
        return false;
      }
      break;
    }
  }
  *key = ParseKey(keyPem);
  if (!*key) {
    *error = OpenSslError(keyPath + " holds no usable private key");
    return false;
  }

  std::string certPem;
  if (madeKey || !ReadFile(certPath, &certPem)) {
    Owned<X509> fresh = MakeCertificate(key->get(), identity);
    std::string pem;
    if (!fresh || !CertPem(fresh.get(), &pem)) {
      *error =
          OpenSslError("cannot make the " + std::string(IdentityName(identity)) + " certificate");
      return false;
    }
    // A certificate left beside a key that was missing belongs to no key
    // we have, so a new key replaces it.
    switch (Publish(certPath, pem, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, madeKey, error)) {
    case Published::Failed:
      return false;
    case Published::Written:
      certPem = pem;
      break;
    case Published::AlreadyThere:
      if (!ReadFile(certPath, &certPem)) {
        *error = SystemError("cannot read", certPath);
        return false;
      }
      break;
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

// An algorithm identifier naming Nid, with absent or NULL parameters.
bool IsAlgorithm(const X509_ALGOR *algorithm, int nid) {
  const ASN1_OBJECT *object = nullptr;
  int parameterType = V_ASN1_UNDEF;
  const void *parameter = nullptr;
  X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
  return OBJ_obj2nid(object) == nid &&
         (parameterType == V_ASN1_UNDEF || parameterType == V_ASN1_NULL);
}

// Only the one form the packets use: signed data of version 1 over "data"
// content, one RSA signer, SHA-256 throughout. OpenSSL alone would take
// other digests, and fields it skips could be altered without notice.
bool IsPacketSignature(PKCS7 *signature) {
  if (!PKCS7_type_is_signed(signature) || signature->d.sign == nullptr) {
    return false;
  }
  PKCS7_SIGNED *sign = signature->d.sign;
  STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(signature);
  if (ASN1_INTEGER_get(sign->version) != 1 || sk_X509_ALGOR_num(sign->md_algs) != 1 ||
      !IsAlgorithm(sk_X509_ALGOR_value(sign->md_algs, 0), NID_sha256) ||
      sign->contents == nullptr || !PKCS7_type_is_data(sign->contents) ||
      sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    return false;
  }
  PKCS7_SIGNER_INFO *signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  return ASN1_INTEGER_get(signer->version) == 1 && IsAlgorithm(signer->digest_alg, NID_sha256) &&
         (IsAlgorithm(signer->digest_enc_alg, NID_rsaEncryption) ||
          IsAlgorithm(signer->digest_enc_alg, NID_sha256WithRSAEncryption));
}

// Whether Signature is Cert's key's signature over Data. Certificates the
// message carries are ignored, and the chain is not built: the store's
// certificate is the only one trusted, whatever names it carries.
bool SignedBy(PKCS7 *signature, X509 *cert, const void *data, size_t size) {
  Owned<STACK_OF(X509)> trusted(sk_X509_new_null());
  Owned<BIO> in = ReadOnlyBio(data, size);
  if (!trusted || !in || sk_X509_push(trusted.get(), cert) <= 0) {
    return false;
  }
  int flags =
      PKCS7_NOVERIFY | PKCS7_NOINTERN | PKCS7_NOCHAIN | PKCS7_BINARY | PKCS7_NO_DUAL_CONTENT;
  bool verified = PKCS7_verify(signature, trusted.get(), nullptr, in.get(), nullptr, flags) == 1;
  ERR_clear_error();
  return verified;
}

// The subject of a DER certificate (the whole of Der, nothing after it).
bool Subject(const VOID *der, size_t size, std::string *text) {
  if (der == nullptr || size == 0 || size > LONG_MAX) {
    return false;
  }
  const auto *start = static_cast<const unsigned char *>(der);
  const unsigned char *p = start;
  Owned<X509> cert(d2i_X509(nullptr, &p, static_cast<long>(size)));
  if (!cert || p != start + size) {
    ERR_clear_error();
    return false;
  }
  // One line of printable ASCII: other bytes are escaped.
  Owned<BIO> out(BIO_new(BIO_s_mem()));
  if (!out ||
      X509_NAME_print_ex(out.get(), X509_get_subject_name(cert.get()), 0, XN_FLAG_ONELINE) < 0) {
    ERR_clear_error();
    return false;
  }
  *text = MemoryText(out.get());
  return true;
}

// Runs a protocol entry's work; nothing thrown crosses the EFIAPI boundary.
template <typename F> EFI_STATUS Guarded(F &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    ERR_clear_error();
    return EFI_OUT_OF_RESOURCES;
  } catch (...) {
    ERR_clear_error();
    return EFI_DEVICE_ERROR;
  }
}

// Each component instance numbers its tokens in its own upper half, so a
// token kept from an earlier boot names nothing in a later one.
ZELM_AUTH_TOKEN FirstToken() {
  static std::atomic<UINT64> instances{0};
  return (instances.fetch_add(1) + 1) << 32 | 1;
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

bool KeyStore::Ensure(Identity identity, std::string *error) {
  std::string ignored;
  Owned<EVP_PKEY> key;
  Owned<X509> cert;
  try {
    return LoadOrMake(dir_, identity, &key, &cert, error != nullptr ? error : &ignored);
  } catch (const std::exception &e) {
    ERR_clear_error();
    if (error != nullptr) {
      *error = e.what();
    }
    return false;
  }
}

std::vector<UINT8> KeyStore::SignPacket(std::string_view payload, Identity identity,
                                        std::string *error) {
  std::string ignored;
  std::string *why = error != nullptr ? error : &ignored;
  try {
    if (payload.size() > kMaxPayloadSize) {
      *why = "the payload is too large to sign";
      return {};
    }
    Owned<EVP_PKEY> key;
    Owned<X509> cert;
    if (!LoadOrMake(dir_, identity, &key, &cert, why)) {
      return {};
    }
    std::vector<UINT8> packet = SignedData(payload);
    Owned<BIO> in = ReadOnlyBio(packet.data(), packet.size());
    // The same structure `openssl smime -sign -binary -noattr -nocerts` makes.
    int flags = PKCS7_DETACHED | PKCS7_BINARY | PKCS7_NOATTR | PKCS7_NOCERTS | PKCS7_PARTIAL;
    Owned<PKCS7> signature(PKCS7_sign(nullptr, nullptr, nullptr, nullptr, flags));
    if (!in || !signature ||
        PKCS7_sign_add_signer(signature.get(), cert.get(), key.get(), EVP_sha256(), flags) ==
            nullptr ||
        PKCS7_final(signature.get(), in.get(), flags) != 1) {
      *why = OpenSslError("cannot sign with the " + std::string(IdentityName(identity)) + " key");
      return {};
    }
    int derSize = i2d_PKCS7(signature.get(), nullptr);
    if (derSize <= 0 || static_cast<size_t>(derSize) > ZELM_MAX_PACKET_SIZE - kLengthSize) {
      *why = OpenSslError("cannot encode the signature");
      return {};
    }
    PutUint32(&packet, static_cast<UINT32>(kLengthSize + static_cast<size_t>(derSize)));
    size_t at = packet.size();
    packet.resize(at + static_cast<size_t>(derSize));
    unsigned char *out = packet.data() + at;
    if (i2d_PKCS7(signature.get(), &out) != derSize) {
      *why = OpenSslError("cannot encode the signature");
      return {};
    }
    return packet;
  } catch (const std::exception &e) {
    ERR_clear_error();
    *why = e.what();
    return {};
  }
}

std::vector<UINT8> KeyStore::UnsignedPacket(std::string_view payload) {
  if (payload.size() > kMaxPayloadSize) {
    return {};
  }
  std::vector<UINT8> packet = SignedData(payload);
  const size_t fillerSize = sizeof(kUnsignedFiller) - 1;
  PutUint32(&packet, static_cast<UINT32>(kLengthSize + fillerSize));
  packet.insert(packet.end(), kUnsignedFiller, kUnsignedFiller + fillerSize);
  return packet;
}

UINT8 KeyStore::Verify(const VOID *data, size_t size, const UINT8 *block, UINT8 enrolled) {
  if ((data == nullptr && size != 0) || block == nullptr) {
    return 0;
  }
  // The caller has matched the length to the bytes it holds; the bounds
  // only keep a hostile value from sending the parser far away.
  UINT32 length = ReadUint32(block);
  if (length <= kLengthSize || length > ZELM_MAX_PACKET_SIZE) {
    return 0;
  }
  try {
    const unsigned char *der = block + kLengthSize;
    const unsigned char *p = der;
    Owned<PKCS7> signature(d2i_PKCS7(nullptr, &p, static_cast<long>(length - kLengthSize)));
    // Bytes after the signature would be covered by nothing: refused.
    if (!signature || p != block + length || !IsPacketSignature(signature.get())) {
      ERR_clear_error();
      return 0;
    }
    for (Identity identity : kCheckOrder) {
      if ((enrolled & IdentityBits(identity)) == 0) {
        continue;
      }
      Owned<X509> cert = ReadCertificate(dir_, identity);
      if (cert && SignedBy(signature.get(), cert.get(), data, size)) {
        return IdentityBits(identity);
      }
    }
  } catch (...) {
    ERR_clear_error();
  }
  return 0;
}

std::string KeyStore::DescribeCertificate(const VOID *der, size_t size) {
  std::string text;
  return Subject(der, size, &text) ? text : std::string();
}

std::vector<UINT8> KeyStore::Certificate(Identity identity) {
  Owned<X509> cert = ReadCertificate(dir_, identity);
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

SimAuthentication::SimAuthentication(KeyStore &keys, UINT8 enrolled)
    : keys_(keys), enrolled_(enrolled), next_(FirstToken()) {
  protocol_.base.GetEnrolledIdentities = GetEnrolled;
  protocol_.base.Reserved = nullptr;
  protocol_.base.Authenticate = Authenticate;
  protocol_.base.ReleaseToken = Release;
  protocol_.base.GetTokenIdentity = Identity;
  protocol_.base.GetCertInfo = CertInfo;
  protocol_.self = this;
}

ZELM_AUTH_TOKEN SimAuthentication::IssueToken(UINT32 identityMask) {
  ZELM_AUTH_TOKEN token = next_++;
  tokens_.emplace(token, identityMask);
  return token;
}

SimAuthentication *SimAuthentication::Self(ZELM_AUTHENTICATION_PROTOCOL *protocol) {
  if (protocol == nullptr) {
    return nullptr;
  }
  // The protocol is the first member of its instance.
  SimAuthentication *self = reinterpret_cast<Instance *>(protocol)->self;
  return self != nullptr && self->Protocol() == protocol ? self : nullptr;
}

EFI_STATUS EFIAPI SimAuthentication::GetEnrolled(ZELM_AUTHENTICATION_PROTOCOL *This, UINT8 *Mask) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Mask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Mask = self->enrolled_;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::Authenticate(ZELM_AUTHENTICATION_PROTOCOL *This,
                                                  CONST VOID *Data, UINTN DataSize,
                                                  CONST VOID *Signature, ZELM_AUTH_TOKEN *Token) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Data == nullptr || Signature == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    UINT8 signer =
        self->keys_.Verify(Data, DataSize, static_cast<const UINT8 *>(Signature), self->enrolled_);
    if (signer == 0) {
      return EFI_SECURITY_VIOLATION;
    }
    *Token = self->IssueToken(signer);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimAuthentication::Release(ZELM_AUTHENTICATION_PROTOCOL *This,
                                             ZELM_AUTH_TOKEN *Token) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = self->tokens_.find(*Token);
  if (it == self->tokens_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  self->tokens_.erase(it);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::Identity(ZELM_AUTHENTICATION_PROTOCOL *This,
                                              ZELM_AUTH_TOKEN *Token,
                                              ZELM_IDENTITY_PROPERTIES *Properties) {
  SimAuthentication *self = Self(This);
  if (self == nullptr || Token == nullptr || Properties == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = self->tokens_.find(*Token);
  if (it == self->tokens_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  *Properties = ZELM_IDENTITY_PROPERTIES{};
  Properties->IdentityMask = it->second;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimAuthentication::CertInfo(ZELM_AUTHENTICATION_PROTOCOL *This,
                                              VOID * /*Reserved*/, CONST VOID *Cert, UINTN CertSize,
                                              UINT32 /*Selector1*/, UINT32 /*Selector2*/,
                                              CHAR8 **Text, UINTN *TextSize) {
  if (Self(This) == nullptr || Cert == nullptr || CertSize == 0 || Text == nullptr ||
      TextSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::string text;
    if (!Subject(Cert, CertSize, &text)) {
      return EFI_INVALID_PARAMETER;
    }
    host::Firmware *firmware = host::Firmware::Current();
    if (firmware == nullptr) {
      return EFI_NOT_READY;
    }
    // The caller frees the text with FreePool, so it comes from the boot's pool.
    UINTN size = text.size() + 1;
    VOID *buffer = nullptr;
    EFI_STATUS status = firmware->BootServices()->AllocatePool(EfiBootServicesData, size, &buffer);
    if (EFI_ERROR(status)) {
      return status;
    }
    std::memcpy(buffer, text.c_str(), size);
    *Text = static_cast<CHAR8 *>(buffer);
    *TextSize = size;
    return EFI_SUCCESS;
  });
}

} // namespace sim
