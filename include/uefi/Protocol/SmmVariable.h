/* EFI_SMM_VARIABLE_PROTOCOL (PI 1.8 volume 4): the runtime variable services
   offered inside SMM. */
#ifndef UEFI_PROTOCOL_SMM_VARIABLE_H_
#define UEFI_PROTOCOL_SMM_VARIABLE_H_

#include <uefi/UefiSystemTable.h>

#define EFI_SMM_VARIABLE_PROTOCOL_GUID                                                             \
  {                                                                                                \
    0xed32d533, 0x99e6, 0x4209, {                                                                  \
      0x9c, 0xc0, 0x2d, 0x72, 0xcd, 0xd9, 0x98, 0xa7                                               \
    }                                                                                              \
  }

typedef struct {
  EFI_GET_VARIABLE SmmGetVariable;
  EFI_GET_NEXT_VARIABLE_NAME SmmGetNextVariableName;
  EFI_SET_VARIABLE SmmSetVariable;
  EFI_QUERY_VARIABLE_INFO SmmQueryVariableInfo;
} EFI_SMM_VARIABLE_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(EFI_SMM_VARIABLE_PROTOCOL) == 32, "layout");

#endif
