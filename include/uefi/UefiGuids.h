/* Standard UEFI/PI identifiers used by the driver. */
#ifndef UEFI_GUIDS_H_
#define UEFI_GUIDS_H_

#include <uefi/Pi/PiHob.h>
#include <uefi/Protocol/DevicePathUtilities.h>
#include <uefi/Protocol/LoadedImage.h>
#include <uefi/Protocol/Pcd.h>
#include <uefi/Protocol/Smbios.h>
#include <uefi/Protocol/SmmBase2.h>
#include <uefi/Protocol/SmmCommunication.h>
#include <uefi/Protocol/SmmVariable.h>
#include <uefi/Protocol/VariableLock.h>

EFI_EXTERN_C_BEGIN

/* UEFI 2.10 section 3.3. */
#define EFI_GLOBAL_VARIABLE                                                                        \
  {                                                                                                \
    0x8be4df61, 0x93ca, 0x11d2, {                                                                  \
      0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c                                               \
    }                                                                                              \
  }
/* UEFI 2.10 section 7.1, CreateEventEx. */
#define EFI_EVENT_GROUP_EXIT_BOOT_SERVICES                                                         \
  {                                                                                                \
    0x27abf055, 0xb1b8, 0x4c26, {                                                                  \
      0x80, 0x48, 0x74, 0x8f, 0x37, 0xba, 0xa2, 0xdf                                               \
    }                                                                                              \
  }
#define EFI_EVENT_GROUP_VIRTUAL_ADDRESS_CHANGE                                                     \
  {                                                                                                \
    0x13fa7698, 0xc831, 0x49c7, {                                                                  \
      0x87, 0xea, 0x8f, 0x43, 0xfc, 0xc2, 0x51, 0x96                                               \
    }                                                                                              \
  }
#define EFI_EVENT_GROUP_READY_TO_BOOT                                                              \
  {                                                                                                \
    0x7ce88fb3, 0x4bd7, 0x4679, {                                                                  \
      0x87, 0xa8, 0xa8, 0xd8, 0xde, 0xe5, 0x0d, 0x2b                                               \
    }                                                                                              \
  }

extern EFI_GUID gEfiGlobalVariableGuid;
extern EFI_GUID gEfiEventExitBootServicesGuid;
extern EFI_GUID gEfiEventVirtualAddressChangeGuid;
extern EFI_GUID gEfiEventReadyToBootGuid;
extern EFI_GUID gEfiHobListGuid;
extern EFI_GUID gEfiLoadedImageProtocolGuid;
extern EFI_GUID gEfiDevicePathUtilitiesProtocolGuid;
extern EFI_GUID gEfiPcdProtocolGuid;
extern EFI_GUID gEfiSmmBase2ProtocolGuid;
extern EFI_GUID gEfiSmmCommunicationProtocolGuid;
extern EFI_GUID gEfiSmmVariableProtocolGuid;
extern EFI_GUID gEfiSmbiosProtocolGuid;
extern EFI_GUID gEdkiiVariableLockProtocolGuid;

EFI_EXTERN_C_END

#endif
