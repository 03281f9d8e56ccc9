/* EDKII_VARIABLE_LOCK_PROTOCOL: a platform service that makes a variable
   read-only until the next reset. */
#ifndef UEFI_PROTOCOL_VARIABLE_LOCK_H_
#define UEFI_PROTOCOL_VARIABLE_LOCK_H_

#include <uefi/UefiSystemTable.h>

#define EDKII_VARIABLE_LOCK_PROTOCOL_GUID                                                          \
  {                                                                                                \
    0xcd3d0a05, 0x9e24, 0x437c, {                                                                  \
      0xa8, 0x91, 0x1e, 0xe0, 0x53, 0xdb, 0x76, 0x38                                               \
    }                                                                                              \
  }

typedef struct EDKII_VARIABLE_LOCK_PROTOCOL_ EDKII_VARIABLE_LOCK_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EDKII_VARIABLE_LOCK_PROTOCOL_REQUEST_TO_LOCK)(
    IN CONST EDKII_VARIABLE_LOCK_PROTOCOL *This, IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid);
struct EDKII_VARIABLE_LOCK_PROTOCOL_ {
  EDKII_VARIABLE_LOCK_PROTOCOL_REQUEST_TO_LOCK RequestToLock;
};

#endif
