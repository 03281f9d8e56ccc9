/* The authentication component's protocol: signature checks and identity
   questions. Tokens are 64-bit values (0 = none) passed by address. */
#ifndef ZELM_AUTHENTICATION_H_
#define ZELM_AUTHENTICATION_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

typedef UINT64 ZELM_AUTH_TOKEN;

/* Identity bits. */
#define ZELM_IDENTITY_LOCAL 0x01u
#define ZELM_IDENTITY_ZERO_TOUCH 0x08u
#define ZELM_IDENTITY_OWNER 0x80u

typedef struct {
  UINT32 IdentityMask;
  UINT32 Reserved[7];
} ZELM_IDENTITY_PROPERTIES;
EFI_STATIC_ASSERT(sizeof(ZELM_IDENTITY_PROPERTIES) == 32, "ZELM_IDENTITY_PROPERTIES layout");

typedef struct ZELM_AUTHENTICATION_PROTOCOL_ ZELM_AUTHENTICATION_PROTOCOL;

/* Which identities are enrolled (identity bits). */
typedef EFI_STATUS(EFIAPI *ZELM_AUTH_GET_ENROLLED_IDENTITIES)(IN ZELM_AUTHENTICATION_PROTOCOL *This,
                                                              OUT UINT8 *Mask);
/* Verifies Signature over Data; success yields a non-zero *Token. */
typedef EFI_STATUS(EFIAPI *ZELM_AUTH_AUTHENTICATE)(IN ZELM_AUTHENTICATION_PROTOCOL *This,
                                                   IN CONST VOID *Data, IN UINTN DataSize,
                                                   IN CONST VOID *Signature,
                                                   OUT ZELM_AUTH_TOKEN *Token);
typedef EFI_STATUS(EFIAPI *ZELM_AUTH_RELEASE_TOKEN)(IN ZELM_AUTHENTICATION_PROTOCOL *This,
                                                    IN ZELM_AUTH_TOKEN *Token);
/* Fills Properties; its first field is the signer's identity mask. */
typedef EFI_STATUS(EFIAPI *ZELM_AUTH_GET_TOKEN_IDENTITY)(IN ZELM_AUTHENTICATION_PROTOCOL *This,
                                                         IN ZELM_AUTH_TOKEN *Token,
                                                         OUT ZELM_IDENTITY_PROPERTIES *Properties);
/* A newly allocated ASCII description of a certificate; the caller frees it. */
typedef EFI_STATUS(EFIAPI *ZELM_AUTH_GET_CERT_INFO)(IN ZELM_AUTHENTICATION_PROTOCOL *This,
                                                    IN VOID *Reserved, IN CONST VOID *Cert,
                                                    IN UINTN CertSize, IN UINT32 Selector1,
                                                    IN UINT32 Selector2, OUT CHAR8 **Text,
                                                    OUT UINTN *TextSize);

struct ZELM_AUTHENTICATION_PROTOCOL_ {
  ZELM_AUTH_GET_ENROLLED_IDENTITIES GetEnrolledIdentities;
  VOID *Reserved;
  ZELM_AUTH_AUTHENTICATE Authenticate;
  ZELM_AUTH_RELEASE_TOKEN ReleaseToken;
  ZELM_AUTH_GET_TOKEN_IDENTITY GetTokenIdentity;
  ZELM_AUTH_GET_CERT_INFO GetCertInfo;
};
EFI_STATIC_ASSERT(sizeof(ZELM_AUTHENTICATION_PROTOCOL) == 48,
                  "ZELM_AUTHENTICATION_PROTOCOL layout");

EFI_EXTERN_C_END

#endif
