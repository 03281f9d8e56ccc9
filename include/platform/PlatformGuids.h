/* Identifiers of the platform interfaces the driver meets: the shared hook
   registry, HOBs, the PCD token space, variable namespaces, default stores
   and marker protocols. */
#ifndef PLATFORM_GUIDS_H_
#define PLATFORM_GUIDS_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

#define PLATFORM_HOOK_REGISTRY_PROTOCOL_GUID                                                       \
  {                                                                                                \
    0xeef538f6, 0x4261, 0x4191, {                                                                  \
      0xa7, 0x46, 0x50, 0xbb, 0x46, 0x6b, 0xbe, 0x4c                                               \
    }                                                                                              \
  }
#define PLATFORM_TIMER_CALIBRATION_HOB_GUID                                                        \
  {                                                                                                \
    0xe7352be5, 0x552e, 0x4065, {                                                                  \
      0x9c, 0xcf, 0xeb, 0xce, 0x7d, 0x9c, 0x45, 0x18                                               \
    }                                                                                              \
  }
#define PLATFORM_REGION_TABLE_HOB_GUID                                                             \
  {                                                                                                \
    0xc8f151b9, 0x4846, 0x4d10, {                                                                  \
      0xba, 0x7f, 0xf8, 0xbb, 0xa2, 0xb1, 0x57, 0x03                                               \
    }                                                                                              \
  }
#define PLATFORM_TOKEN_SPACE_GUID                                                                  \
  {                                                                                                \
    0x7193d69c, 0xd350, 0x49b4, {                                                                  \
      0x8c, 0x13, 0x54, 0xbf, 0x12, 0x28, 0xb5, 0x29                                               \
    }                                                                                              \
  }
#define PLATFORM_POINTER_CONVERSION_PROTOCOL_GUID                                                  \
  {                                                                                                \
    0x4111c74f, 0xd14f, 0x4deb, {                                                                  \
      0xac, 0x70, 0x53, 0x85, 0xe3, 0x46, 0xec, 0x13                                               \
    }                                                                                              \
  }
#define PLATFORM_BOOT_ORDER_LOCK_HOOK_GUID                                                         \
  {                                                                                                \
    0xa272bfd8, 0xf548, 0x46a0, {                                                                  \
      0x88, 0x88, 0x80, 0xa1, 0x83, 0x76, 0x5e, 0x0d                                               \
    }                                                                                              \
  }
#define PLATFORM_XPBT_ENABLED_PROTOCOL_GUID                                                        \
  {                                                                                                \
    0x90d84114, 0xdd8c, 0x4cf4, {                                                                  \
      0xbe, 0x63, 0x0b, 0x3e, 0x8b, 0x1f, 0x8d, 0xf1                                               \
    }                                                                                              \
  }
#define PLATFORM_SETTING_VARIABLE_GUID                                                             \
  {                                                                                                \
    0x1db026ec, 0x4da5, 0x4092, {                                                                  \
      0xa5, 0xe8, 0xdc, 0x5f, 0x77, 0xf2, 0x17, 0x5f                                               \
    }                                                                                              \
  }
#define PLATFORM_SETUP_VARIABLE_GUID                                                               \
  {                                                                                                \
    0x355d5327, 0xa60b, 0x4ce2, {                                                                  \
      0x81, 0x68, 0xfd, 0xec, 0xc6, 0xc8, 0xac, 0x3e                                               \
    }                                                                                              \
  }
#define BOOT_ORDER_LOCK_VARIABLE_GUID                                                              \
  {                                                                                                \
    0x32b7cdb6, 0x6789, 0x4fc9, {                                                                  \
      0x99, 0x70, 0x8d, 0x60, 0xe1, 0x48, 0x34, 0x07                                               \
    }                                                                                              \
  }
#define PLATFORM_DEFAULT_STORE_PROTOCOL_GUID                                                       \
  {                                                                                                \
    0x585821f5, 0x2cbb, 0x437d, {                                                                  \
      0xbc, 0xe4, 0x30, 0x40, 0x8e, 0x2e, 0x9f, 0xd5                                               \
    }                                                                                              \
  }
#define PLATFORM_DEFAULT_STORE_REGION_GUID                                                         \
  {                                                                                                \
    0x377bb832, 0xb347, 0x477d, {                                                                  \
      0xb6, 0x50, 0xef, 0x07, 0xe8, 0xea, 0xa0, 0x2e                                               \
    }                                                                                              \
  }
#define PLATFORM_SMM_BUFFER_PROTOCOL_GUID                                                          \
  {                                                                                                \
    0xa93e9463, 0x9722, 0x41f9, {                                                                  \
      0x85, 0x38, 0x5d, 0x16, 0x13, 0x23, 0xf0, 0x35                                               \
    }                                                                                              \
  }
#define PLATFORM_VARIABLE_REGION_GUID                                                              \
  {                                                                                                \
    0x08ef01f3, 0x579f, 0x4ddf, {                                                                  \
      0x9a, 0x0e, 0x6a, 0x45, 0xe6, 0xf9, 0xb7, 0xe6                                               \
    }                                                                                              \
  }

/* PCD token (in PLATFORM_TOKEN_SPACE_GUID) holding the region table address. */
#define PLATFORM_REGION_TABLE_PCD_TOKEN 0x30000017u

extern EFI_GUID gPlatformHookRegistryProtocolGuid;
extern EFI_GUID gPlatformTimerCalibrationHobGuid;
extern EFI_GUID gPlatformRegionTableHobGuid;
extern EFI_GUID gPlatformTokenSpaceGuid;
extern EFI_GUID gPlatformPointerConversionProtocolGuid;
extern EFI_GUID gPlatformBootOrderLockHookGuid;
extern EFI_GUID gPlatformXpbtEnabledProtocolGuid;
extern EFI_GUID gPlatformSettingVariableGuid;
extern EFI_GUID gPlatformSetupVariableGuid;
extern EFI_GUID gBootOrderLockVariableGuid;
extern EFI_GUID gPlatformDefaultStoreProtocolGuid;
extern EFI_GUID gPlatformDefaultStoreRegionGuid;
extern EFI_GUID gPlatformSmmBufferProtocolGuid;
extern EFI_GUID gPlatformVariableRegionGuid;

EFI_EXTERN_C_END

#endif
