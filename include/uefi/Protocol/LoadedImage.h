/* EFI_LOADED_IMAGE_PROTOCOL (UEFI 2.10 section 9.1). */
#ifndef UEFI_PROTOCOL_LOADED_IMAGE_H_
#define UEFI_PROTOCOL_LOADED_IMAGE_H_

#include <uefi/UefiSystemTable.h>

#define EFI_LOADED_IMAGE_PROTOCOL_GUID                                                             \
  {                                                                                                \
    0x5b1b31a1, 0x9562, 0x11d2, {                                                                  \
      0x8e, 0x3f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b                                               \
    }                                                                                              \
  }
#define EFI_LOADED_IMAGE_PROTOCOL_REVISION 0x1000

typedef struct {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_IMAGE_UNLOAD Unload;
} EFI_LOADED_IMAGE_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "EFI_LOADED_IMAGE_PROTOCOL layout");
EFI_STATIC_ASSERT(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80,
                  "EFI_LOADED_IMAGE_PROTOCOL layout");

#endif
