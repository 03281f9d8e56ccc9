// Propagation of EFI_STATUS results.
#ifndef ZELM_SUPPORT_STATUS_H_
#define ZELM_SUPPORT_STATUS_H_

#include <uefi/UefiBaseType.h>

// Returns from the enclosing function when Expr yields an error.
#define RETURN_IF_ERROR(Expr)                                                                      \
  do {                                                                                             \
    EFI_STATUS status_ = (Expr);                                                                   \
    if (EFI_ERROR(status_)) {                                                                      \
      return status_;                                                                              \
    }                                                                                              \
  } while (0)

#endif
