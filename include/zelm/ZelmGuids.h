/* Identifiers of the Zelm protocols, event group and variable namespaces.
   The values are fixed for all time: stored variables and peer drivers use
   them. */
#ifndef ZELM_GUIDS_H_
#define ZELM_GUIDS_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

#define ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL_GUID                                                \
  {                                                                                                \
    0xe4b7c1fc, 0xa169, 0x45c1, {                                                                  \
      0xa1, 0x5e, 0x70, 0x33, 0x18, 0xb7, 0xa4, 0xa8                                               \
    }                                                                                              \
  }
#define ZELM_SETTING_ACCESS_PROTOCOL_GUID                                                          \
  {                                                                                                \
    0x9cc3694b, 0x62b2, 0x4815, {                                                                  \
      0xaa, 0x8f, 0xbc, 0x72, 0xad, 0xa1, 0x7a, 0x1b                                               \
    }                                                                                              \
  }
#define ZELM_SETTING_PERMISSION_PROTOCOL_GUID                                                      \
  {                                                                                                \
    0x9622c8eb, 0x5f0d, 0x4af8, {                                                                  \
      0x94, 0xf5, 0x0b, 0x4b, 0x16, 0x2f, 0xb1, 0x8f                                               \
    }                                                                                              \
  }
#define ZELM_SETTINGS_APPLY_PROTOCOL_GUID                                                          \
  {                                                                                                \
    0x2c538084, 0x6db1, 0x49b2, {                                                                  \
      0xb3, 0xe2, 0x01, 0x95, 0x95, 0x8b, 0x14, 0xe3                                               \
    }                                                                                              \
  }
#define ZELM_PERMISSIONS_APPLY_PROTOCOL_GUID                                                       \
  {                                                                                                \
    0xdbaef113, 0xe9bb, 0x42b3, {                                                                  \
      0x8b, 0x59, 0xf9, 0x64, 0x5b, 0x5a, 0xf3, 0xf7                                               \
    }                                                                                              \
  }
#define ZELM_AUTHENTICATION_PROTOCOL_GUID                                                          \
  {                                                                                                \
    0xb60a66e8, 0x7b44, 0x40ab, {                                                                  \
      0xa0, 0x6d, 0xea, 0x8e, 0x4e, 0x7e, 0xae, 0x07                                               \
    }                                                                                              \
  }
#define ZELM_SETTING_ACCESS_START_EVENT_GROUP_GUID                                                 \
  {                                                                                                \
    0xd1d4867f, 0x4c32, 0x4c67, {                                                                  \
      0x91, 0x0c, 0x67, 0x35, 0x96, 0xfd, 0xa6, 0xb1                                               \
    }                                                                                              \
  }
/* "_SMID" and "_SPP". */
#define ZELM_SETTINGS_MANAGER_VARIABLE_GUID                                                        \
  {                                                                                                \
    0x8d2ba57d, 0xd1ce, 0x4531, {                                                                  \
      0x8e, 0x78, 0x62, 0xda, 0xd8, 0x63, 0x04, 0x0f                                               \
    }                                                                                              \
  }
/* "ZelmSettingsCurrent", "UEFISettingsCurrent". */
#define ZELM_SETTINGS_VARIABLE_GUID                                                                \
  {                                                                                                \
    0x22fe5626, 0xca68, 0x4508, {                                                                  \
      0x89, 0x45, 0xb8, 0xa6, 0x07, 0x3a, 0x13, 0x51                                               \
    }                                                                                              \
  }
/* "ZelmPermissionCurrent". */
#define ZELM_PERMISSION_VARIABLE_GUID                                                              \
  {                                                                                                \
    0xc901d416, 0xf42f, 0x4f08, {                                                                  \
      0xa5, 0x81, 0x87, 0xca, 0xc6, 0x66, 0xef, 0x2f                                               \
    }                                                                                              \
  }
/* "ZelmDeviceIdentifier". */
#define ZELM_DEVICE_IDENTIFIER_VARIABLE_GUID                                                       \
  {                                                                                                \
    0xccb30e8a, 0xbe85, 0x48be, {                                                                  \
      0xac, 0x04, 0x1b, 0xa9, 0xa9, 0xfa, 0xdb, 0xfb                                               \
    }                                                                                              \
  }

extern EFI_GUID gZelmSettingProviderSupportProtocolGuid;
extern EFI_GUID gZelmSettingAccessProtocolGuid;
extern EFI_GUID gZelmSettingPermissionProtocolGuid;
extern EFI_GUID gZelmSettingsApplyProtocolGuid;
extern EFI_GUID gZelmPermissionsApplyProtocolGuid;
extern EFI_GUID gZelmAuthenticationProtocolGuid;
extern EFI_GUID gZelmSettingAccessStartEventGroupGuid;
extern EFI_GUID gZelmSettingsManagerVariableGuid;
extern EFI_GUID gZelmSettingsVariableGuid;
extern EFI_GUID gZelmPermissionVariableGuid;
extern EFI_GUID gZelmDeviceIdentifierVariableGuid;

EFI_EXTERN_C_END

#endif
