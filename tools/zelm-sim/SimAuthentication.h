// The simulator's authentication component: real signatures. Each of the
// three identities (owner 0x80, ztd 0x08, local 0x01) has an RSA key and a
// self-signed X.509 certificate kept in the store directory; a packet's
// signature block is a detached PKCS#7 (CMS) signature over the signed data
// with SHA-256, verified against the certificates of the enrolled
// identities.
//
// Packet layout (all integers little-endian):
//   signed data:      "ZPKT" (4 bytes), UINT32 payload size, the XML payload
//   signature block:  UINT32 length of the whole block (4 + DER size), then
//                     the DER-encoded PKCS#7 signature
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_AUTHENTICATION_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_AUTHENTICATION_H_

#include <zelm/ZelmAuthentication.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Identity { Owner, Ztd, Local };

UINT8 IdentityBits(Identity identity);
const char *IdentityName(Identity identity);

// Keys and certificates under Dir/keys, made on first use.
class KeyStore {
public:
  explicit KeyStore(std::string dir);

  // Makes the identity's key and certificate unless they exist. FALSE with
  // *Error set when they cannot be made or read.
  bool Ensure(Identity identity, std::string *error);

  // The packet (signed data, then the signature block) of Payload signed
  // by Identity; empty with *Error set on failure.
  std::vector<UINT8> SignPacket(std::string_view payload, Identity identity, std::string *error);

  // The same layout with a signature block that verifies for no identity.
  std::vector<UINT8> UnsignedPacket(std::string_view payload);

  // The identity bits whose certificate verifies Signature (a block that
  // starts with its UINT32 length) over Data, among Enrolled; 0 when none.
  UINT8 Verify(const VOID *data, size_t size, const UINT8 *block, UINT8 enrolled);

  // A one-line description of a DER certificate (its subject); empty when
  // the bytes are no certificate.
  std::string DescribeCertificate(const VOID *der, size_t size);

  // The DER certificate of an identity (after Ensure).
  std::vector<UINT8> Certificate(Identity identity);

private:
  std::string dir_;
};

// The ZELM_AUTHENTICATION_PROTOCOL of one boot over a key store and the
// enrolled identities (bits).
class SimAuthentication {
public:
  SimAuthentication(KeyStore &keys, UINT8 enrolled);
  SimAuthentication(const SimAuthentication &) = delete;
  SimAuthentication &operator=(const SimAuthentication &) = delete;

  ZELM_AUTHENTICATION_PROTOCOL *Protocol() { return &protocol_.base; }
  // A token for an identity mask without a signature (key-change calls).
  ZELM_AUTH_TOKEN IssueToken(UINT32 identityMask);
  UINT8 Enrolled() const { return enrolled_; }
  void SetEnrolled(UINT8 enrolled) { enrolled_ = enrolled; }

private:
  struct Instance {
    ZELM_AUTHENTICATION_PROTOCOL base;
    SimAuthentication *self;
  };
  static SimAuthentication *Self(ZELM_AUTHENTICATION_PROTOCOL *protocol);
  static EFI_STATUS EFIAPI GetEnrolled(ZELM_AUTHENTICATION_PROTOCOL *This, UINT8 *Mask);
  static EFI_STATUS EFIAPI Authenticate(ZELM_AUTHENTICATION_PROTOCOL *This, CONST VOID *Data,
                                        UINTN DataSize, CONST VOID *Signature,
                                        ZELM_AUTH_TOKEN *Token);
  static EFI_STATUS EFIAPI Release(ZELM_AUTHENTICATION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token);
  static EFI_STATUS EFIAPI Identity(ZELM_AUTHENTICATION_PROTOCOL *This, ZELM_AUTH_TOKEN *Token,
                                    ZELM_IDENTITY_PROPERTIES *Properties);
  static EFI_STATUS EFIAPI CertInfo(ZELM_AUTHENTICATION_PROTOCOL *This, VOID *Reserved,
                                    CONST VOID *Cert, UINTN CertSize, UINT32 Selector1,
                                    UINT32 Selector2, CHAR8 **Text, UINTN *TextSize);

  KeyStore &keys_;
  UINT8 enrolled_;
  Instance protocol_{};
  std::map<ZELM_AUTH_TOKEN, UINT32> tokens_;
  ZELM_AUTH_TOKEN next_ = 1;
};

} // namespace sim

#endif
