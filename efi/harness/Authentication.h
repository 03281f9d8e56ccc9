// The harness's stand-in for the platform's authentication component: just
// enough of ZELM_AUTHENTICATION_PROTOCOL for the driver to build its
// permission store, decide requests and authenticate packets signed with
// the harness's test scheme (efi/harness/TestSignature.h). A token carries
// its identity mask in its own value.
#ifndef ZELM_EFI_HARNESS_AUTHENTICATION_H_
#define ZELM_EFI_HARNESS_AUTHENTICATION_H_

#include <zelm/ZelmAuthentication.h>

// A token's value is this tag with the identity mask in the low byte, so
// that every token the harness makes is non-zero.
#define HARNESS_TOKEN_TAG 0x100u

// The token for Mask (identity bits, ZELM_IDENTITY_*).
constexpr ZELM_AUTH_TOKEN HarnessToken(UINT8 Mask) {
  return HARNESS_TOKEN_TAG | Mask;
}

// The protocol instance: only the local identity is enrolled (no owner)
// unless HarnessEnrolIdentities said otherwise, GetTokenIdentity answers the
// mask a token carries, Authenticate accepts a test signature by an
// enrolled identity and refuses every other, GetCertInfo knows no
// certificate.
ZELM_AUTHENTICATION_PROTOCOL *HarnessAuthentication(VOID);

// Sets the enrolled identities (ZELM_IDENTITY_* bits); call before the
// protocol is installed, since the driver reads them once.
VOID HarnessEnrolIdentities(UINT8 Mask);

#endif
