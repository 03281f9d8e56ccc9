#include "support/Pool.h"

#include "support/FirmwareTables.h"
#include "support/Memory.h"

VOID *AllocPool(UINTN Size) {
  VOID *buffer = nullptr;
  if (Size == 0 || gBS == nullptr ||
      EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, &buffer))) {
    return nullptr;
  }
  return buffer;
}

VOID *AllocZeroedPool(UINTN Size) {
  VOID *buffer = AllocPool(Size);
  if (buffer != nullptr) {
    ZeroMem(buffer, Size);
  }
  return buffer;
}

VOID *AllocCopiedPool(UINTN Size, const VOID *Source) {
  VOID *buffer = AllocPool(Size);
  if (buffer != nullptr) {
    CopyMem(buffer, Source, Size);
  }
  return buffer;
}

VOID FreePool(VOID *Buffer) {
  if (Buffer != nullptr && gBS != nullptr) {
    gBS->FreePool(Buffer);
  }
}
