// An authentication component as fast as a firmware one could be: every
// signature is accepted and every token is IdentityMask's. The verifier's
// cost belongs to the platform, not to the driver the benchmarks measure.
#ifndef ZELM_BENCH_BENCH_AUTHENTICATION_H_
#define ZELM_BENCH_BENCH_AUTHENTICATION_H_

#include <zelm/ZelmAuthentication.h>

template <UINT32 IdentityMask, UINT8 EnrolledMask> struct BenchAuthentication {
  static EFI_STATUS EFIAPI Enrolled(ZELM_AUTHENTICATION_PROTOCOL *, UINT8 *mask) {
    *mask = EnrolledMask;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Accept(ZELM_AUTHENTICATION_PROTOCOL *, CONST VOID *, UINTN, CONST VOID *,
                                  ZELM_AUTH_TOKEN *token) {
    *token = 1;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Release(ZELM_AUTHENTICATION_PROTOCOL *, ZELM_AUTH_TOKEN *) {
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Identity(ZELM_AUTHENTICATION_PROTOCOL *, ZELM_AUTH_TOKEN *,
                                    ZELM_IDENTITY_PROPERTIES *properties) {
    properties->IdentityMask = IdentityMask;
    return EFI_SUCCESS;
  }
  static ZELM_AUTHENTICATION_PROTOCOL *Protocol() {
    static ZELM_AUTHENTICATION_PROTOCOL protocol = {Enrolled, nullptr,  Accept,
                                                    Release,  Identity, nullptr};
    return &protocol;
  }
};

#endif
