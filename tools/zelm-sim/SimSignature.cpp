// The signature policy: how packets are signed, and which signatures count.
//
// Signatures are made as `openssl smime -sign -binary -noattr -nocerts
// -outform DER -md sha256` makes them: detached, no signed attributes, and
// without the signer's certificate (a verifier here trusts only the
// certificates in the store, so carrying one would only cost packet space).
// Signatures that do carry certificates or signed attributes verify as well.
#include <zelm/ZelmApplyPacket.h>

#include "tools/zelm-sim/SimKeys.h"
#include "tools/zelm-sim/SimSignature.h"

namespace sim {

namespace {

constexpr char kMagic[4] = {'Z', 'P', 'K', 'T'};
constexpr size_t kLengthSize = 4;
constexpr size_t kSignedHeaderSize = sizeof(kMagic) + kLengthSize;
// Keeps every size within what OpenSSL's BIOs take (an int).
constexpr size_t kMaxPayloadSize = INT_MAX - kSignedHeaderSize;
constexpr char kUnsignedFiller[] = "UNSIGNED";
constexpr Identity kCheckOrder[] = {Identity::Owner, Identity::Ztd, Identity::Local};

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

} // namespace

bool CertificateSubject(const VOID *der, size_t size, std::string *text) {
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
    if (!LoadOrMake(identity, &key, &cert, why)) {
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
      Owned<X509> cert = StoredCertificate(identity);
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
  return CertificateSubject(der, size, &text) ? text : std::string();
}

} // namespace sim
