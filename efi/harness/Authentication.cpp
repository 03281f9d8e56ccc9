#include "efi/harness/Authentication.h"

#include "efi/harness/TestSignature.h"

namespace {

// By default the driver must find no owner, so that it creates and saves
// the default permission store; the two-boot run enrols the owner too.
UINT8 enrolledIdentities = ZELM_IDENTITY_LOCAL;

// Any value outside the tag's shape is a token this component never made.
BOOLEAN DecodeToken(const ZELM_AUTH_TOKEN *Token, UINT8 *Mask) {
  if (Token == nullptr || (*Token >> 8) != (HARNESS_TOKEN_TAG >> 8)) {
    return FALSE;
  }
  *Mask = static_cast<UINT8>(*Token);
  return TRUE;
}

BOOLEAN OneBit(UINT8 value) {
  return value != 0 && (value & (value - 1)) == 0;
}

EFI_STATUS EFIAPI GetEnrolledIdentities(ZELM_AUTHENTICATION_PROTOCOL *, UINT8 *Mask) {
  if (Mask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Mask = enrolledIdentities;
  return EFI_SUCCESS;
}

// Only a well-formed test signature by an enrolled identity yields a
// token, and the token carries that one identity: a signer that is not
// enrolled gains nothing.
EFI_STATUS EFIAPI Authenticate(ZELM_AUTHENTICATION_PROTOCOL *, const VOID *Data, UINTN DataSize,
                               const VOID *Signature, ZELM_AUTH_TOKEN *Token) {
  if (Token == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Token = 0;
  UINT8 signer = 0;
  if (!ReadTestSignature(Data, DataSize, static_cast<const UINT8 *>(Signature), &signer) ||
      !OneBit(signer) || (signer & enrolledIdentities) == 0) {
    return EFI_SECURITY_VIOLATION;
  }
  *Token = HarnessToken(signer);
  return EFI_SUCCESS;
}

// Tokens hold no resources; releasing one only clears it.
EFI_STATUS EFIAPI ReleaseToken(ZELM_AUTHENTICATION_PROTOCOL *, ZELM_AUTH_TOKEN *Token) {
  UINT8 mask = 0;
  if (!DecodeToken(Token, &mask)) {
    return EFI_INVALID_PARAMETER;
  }
  *Token = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetTokenIdentity(ZELM_AUTHENTICATION_PROTOCOL *, ZELM_AUTH_TOKEN *Token,
                                   ZELM_IDENTITY_PROPERTIES *Properties) {
  UINT8 mask = 0;
  if (Properties == nullptr || !DecodeToken(Token, &mask)) {
    return EFI_INVALID_PARAMETER;
  }
  *Properties = {};
  Properties->IdentityMask = mask;
  return EFI_SUCCESS;
}

// No certificate is parsed; the caller gets no text to free.
EFI_STATUS EFIAPI GetCertInfo(ZELM_AUTHENTICATION_PROTOCOL *, VOID *, const VOID *, UINTN, UINT32,
                              UINT32, CHAR8 **Text, UINTN *TextSize) {
  if (Text != nullptr) {
    *Text = nullptr;
  }
  if (TextSize != nullptr) {
    *TextSize = 0;
  }
  return EFI_UNSUPPORTED;
}

// Installed by address, so the instance lives in the image's data.
ZELM_AUTHENTICATION_PROTOCOL authentication = {
    GetEnrolledIdentities, nullptr, Authenticate, ReleaseToken, GetTokenIdentity, GetCertInfo,
};

} // namespace

ZELM_AUTHENTICATION_PROTOCOL *HarnessAuthentication(VOID) {
  return &authentication;
}

VOID HarnessEnrolIdentities(UINT8 Mask) {
  enrolledIdentities = Mask;
}
