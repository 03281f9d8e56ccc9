/* EFI_DEVICE_PATH_UTILITIES_PROTOCOL (UEFI 2.10 section 10.5). The driver only
   looks it up, so the members are kept opaque. */
#ifndef UEFI_PROTOCOL_DEVICE_PATH_UTILITIES_H_
#define UEFI_PROTOCOL_DEVICE_PATH_UTILITIES_H_

#include <uefi/UefiSystemTable.h>

#define EFI_DEVICE_PATH_UTILITIES_PROTOCOL_GUID                                                    \
  {                                                                                                \
    0x0379be4e, 0xd706, 0x437d, {                                                                  \
      0xb0, 0x37, 0xed, 0xb8, 0x2f, 0xb7, 0x72, 0xa4                                               \
    }                                                                                              \
  }

typedef struct {
  VOID *GetDevicePathSize;
  VOID *DuplicateDevicePath;
  VOID *AppendDevicePath;
  VOID *AppendDeviceNode;
  VOID *AppendDevicePathInstance;
  VOID *GetNextDevicePathInstance;
  VOID *IsDevicePathMultiInstance;
  VOID *CreateDeviceNode;
} EFI_DEVICE_PATH_UTILITIES_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(EFI_DEVICE_PATH_UTILITIES_PROTOCOL) == 64, "layout");

#endif
