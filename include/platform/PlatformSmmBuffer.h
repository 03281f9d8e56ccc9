/* gPlatformSmmBufferProtocolGuid: hands out the platform's shared SMM
   communication buffer. */
#ifndef PLATFORM_SMM_BUFFER_H_
#define PLATFORM_SMM_BUFFER_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

/* Returns the buffer and its size in bytes. */
typedef EFI_STATUS(EFIAPI *PLATFORM_SMM_BUFFER_GET)(OUT VOID **Buffer, OUT UINTN *Size);

typedef struct {
  PLATFORM_SMM_BUFFER_GET GetBuffer;
} PLATFORM_SMM_BUFFER_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(PLATFORM_SMM_BUFFER_PROTOCOL) == 8, "SMM buffer protocol layout");

EFI_EXTERN_C_END

#endif
