/* The platform's pointer-conversion service: pointers registered with it
   are converted when the image moves to virtual addressing. The driver uses
   only the third and fourth members. */
#ifndef PLATFORM_POINTER_CONVERSION_H_
#define PLATFORM_POINTER_CONVERSION_H_

#include <uefi/UefiBaseType.h>

typedef EFI_STATUS(EFIAPI *PLATFORM_POINTER_CONVERSION_REGISTER)(IN VOID **Address);
typedef EFI_STATUS(EFIAPI *PLATFORM_POINTER_CONVERSION_UNREGISTER)(IN VOID **Address);

typedef struct {
  VOID *Reserved0;
  VOID *Reserved1;
  PLATFORM_POINTER_CONVERSION_REGISTER RegisterPointer;
  PLATFORM_POINTER_CONVERSION_UNREGISTER UnregisterPointer;
} PLATFORM_POINTER_CONVERSION_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(PLATFORM_POINTER_CONVERSION_PROTOCOL) == 32, "layout");

#endif
