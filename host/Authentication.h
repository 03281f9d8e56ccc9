// The outside authentication component, as a test double: one boot's
// ZELM_AUTHENTICATION_PROTOCOL over the platform's enrolment
// (host::AuthenticationKeys). It verifies signature blocks made by Sign,
// issues and tracks tokens, and lets a test inject failures and count calls.
// The blocks are those of the OVMF harness (efi/harness/TestSignature.h);
// any non-zero signer byte whose bits are all enrolled counts, so a packet
// can carry several identities at once.
#ifndef ZELM_HOST_AUTHENTICATION_H_
#define ZELM_HOST_AUTHENTICATION_H_

#include <zelm/ZelmAuthentication.h>

#include "efi/harness/TestSignature.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace host {

class Firmware;

// Length of every signature block.
constexpr size_t kSignatureBlockSize = HARNESS_SIGNATURE_SIZE;

// Calls of each protocol operation, whatever their outcome.
struct AuthenticationCalls {
  size_t getEnrolled = 0;
  size_t authenticate = 0;
  size_t release = 0;
  size_t getIdentity = 0;
  size_t getCertInfo = 0;
};

class Authentication {
public:
  // Made by Firmware::InstallAuthentication; lives until the boot ends.
  explicit Authentication(Firmware &firmware);
  Authentication(const Authentication &) = delete;
  Authentication &operator=(const Authentication &) = delete;

  // The interface installed under gZelmAuthenticationProtocolGuid.
  ZELM_AUTHENTICATION_PROTOCOL *Protocol() { return &protocol_; }

  // A live token whose identity mask is Mask, without a signature. Tokens
  // are non-zero and never reused: the boot number is in the upper half.
  ZELM_AUTH_TOKEN IssueToken(UINT32 identityMask);

  // The signature block over Data by Signer (identity bits), as the
  // management authority's tooling makes it; enrolment is not consulted.
  static std::vector<UINT8> Sign(const void *data, size_t size, UINT8 signer);

  // Tokens issued and not released.
  size_t LiveTokens() const { return live_.size(); }
  // Tokens issued this boot (by Authenticate or IssueToken).
  size_t IssuedTokens() const { return issued_; }
  // Successful ReleaseToken calls.
  size_t Releases() const { return releases_; }
  // ReleaseToken calls refused: NULL, 0, unknown or already released.
  size_t InvalidReleases() const { return invalidReleases_; }

  // Fault injection: a status other than EFI_SUCCESS is returned by the
  // operation (after its parameter checks) and no output is written.
  EFI_STATUS enrolledStatus = EFI_SUCCESS;     // GetEnrolledIdentities
  EFI_STATUS authenticateStatus = EFI_SUCCESS; // Authenticate
  EFI_STATUS identityStatus = EFI_SUCCESS;     // GetTokenIdentity
  EFI_STATUS certStatus = EFI_SUCCESS;         // GetCertInfo
  // What GetCertInfo describes every certificate as.
  std::string certText = "CN=Zelm Test Certificate";
  AuthenticationCalls calls;

private:
  friend struct AuthenticationService;

  Firmware &firmware_;
  ZELM_AUTHENTICATION_PROTOCOL protocol_{};
  std::map<ZELM_AUTH_TOKEN, UINT32> live_; // token -> identity mask
  UINT64 bootTag_ = 0;
  size_t issued_ = 0;
  size_t releases_ = 0;
  size_t invalidReleases_ = 0;
};

} // namespace host

#endif
