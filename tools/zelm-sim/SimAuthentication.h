// The simulator's authentication component: the ZELM_AUTHENTICATION_PROTOCOL
// of one boot over the key store (SimKeys.h) and the enrolled identities. A
// packet's signature block is a detached PKCS#7 (CMS) signature over the
// signed data with SHA-256, verified against the certificates of the
// enrolled identities (SimSignature.cpp).
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_AUTHENTICATION_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_AUTHENTICATION_H_

#include <zelm/ZelmAuthentication.h>

#include <map>

#include "tools/zelm-sim/SimKeys.h"

namespace sim {

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
