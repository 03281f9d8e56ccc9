/* EFI_SMM_COMMUNICATION_PROTOCOL (PI 1.8 volume 4, section 1.5). */
#ifndef UEFI_PROTOCOL_SMM_COMMUNICATION_H_
#define UEFI_PROTOCOL_SMM_COMMUNICATION_H_

#include <uefi/UefiSystemTable.h>

#define EFI_SMM_COMMUNICATION_PROTOCOL_GUID                                                        \
  {                                                                                                \
    0xc68ed8e2, 0x9dc6, 0x4cbd, {                                                                  \
      0x9d, 0x94, 0xdb, 0x65, 0xac, 0xc5, 0xc3, 0x32                                               \
    }                                                                                              \
  }

typedef struct {
  EFI_GUID HeaderGuid;
  UINTN MessageLength;
  UINT8 Data[1];
} EFI_SMM_COMMUNICATE_HEADER;
EFI_STATIC_ASSERT(offsetof(EFI_SMM_COMMUNICATE_HEADER, Data) == 24, "layout");

typedef struct EFI_SMM_COMMUNICATION_PROTOCOL_ EFI_SMM_COMMUNICATION_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SMM_COMMUNICATE2)(IN CONST EFI_SMM_COMMUNICATION_PROTOCOL *This,
                                                 IN OUT VOID *CommBuffer,
                                                 IN OUT UINTN *CommSize OPTIONAL);
struct EFI_SMM_COMMUNICATION_PROTOCOL_ {
  EFI_SMM_COMMUNICATE2 Communicate;
};

#endif
