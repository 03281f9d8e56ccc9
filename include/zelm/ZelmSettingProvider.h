/* Setting providers: the record a driver registers for each setting it
   implements, the setting types and the flag bits. The record layout is
   shared with other drivers and is packed. */
#ifndef ZELM_SETTING_PROVIDER_H_
#define ZELM_SETTING_PROVIDER_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

typedef enum {
  ZELM_SETTING_TYPE_ENABLE = 0,
  ZELM_SETTING_TYPE_SECUREBOOTKEYS = 2,
  ZELM_SETTING_TYPE_PASSWORD = 3,
  ZELM_SETTING_TYPE_USBPORT = 4,
  ZELM_SETTING_TYPE_STRING = 5,
  ZELM_SETTING_TYPE_BINARY = 6,
  ZELM_SETTING_TYPE_CERT = 7
} ZELM_SETTING_TYPE;
EFI_STATIC_ASSERT(sizeof(ZELM_SETTING_TYPE) == 4, "ZELM_SETTING_TYPE is 32-bit");

/* Provider flags (ZELM_SETTING_PROVIDER.Flags). */
#define ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS (1ULL << 48)
/* Flags reported by SetSettingValue and Get. */
#define ZELM_SETTING_FLAG_REBOOT_REQUIRED (1ULL << 0)
#define ZELM_SETTING_FLAG_WRITABLE (1ULL << 8)
#define ZELM_SETTING_FLAG_UNCHANGED (1ULL << 31)

/* Identifiers are compared over at most this many characters. */
#define ZELM_SETTING_ID_MAX_LENGTH 96

typedef struct ZELM_SETTING_PROVIDER_ ZELM_SETTING_PROVIDER;

/* Stores a new value; ORs ZELM_SETTING_FLAG_REBOOT_REQUIRED and
   ZELM_SETTING_FLAG_UNCHANGED into *Flags as they apply. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_PROVIDER_SET_VALUE)(IN CONST ZELM_SETTING_PROVIDER *This,
                                                            IN UINTN ValueSize,
                                                            IN CONST VOID *Value,
                                                            IN OUT UINT64 *Flags);
/* Reads the current value. EFI_BUFFER_TOO_SMALL sets *ValueSize to the size
   needed. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_PROVIDER_GET_VALUE)(IN CONST ZELM_SETTING_PROVIDER *This,
                                                            IN OUT UINTN *ValueSize,
                                                            OUT VOID *Value);
/* Reads the default value, with the same size rules. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_PROVIDER_GET_DEFAULT)(IN CONST ZELM_SETTING_PROVIDER *This,
                                                              IN OUT UINTN *ValueSize,
                                                              OUT VOID *Value);
/* Returns the setting to its default. */
typedef EFI_STATUS(EFIAPI *ZELM_SETTING_PROVIDER_SET_DEFAULT)(IN CONST ZELM_SETTING_PROVIDER *This);

#pragma pack(push, 1)
struct ZELM_SETTING_PROVIDER_ {
  CONST CHAR8 *Id;
  UINT32 Type;
  UINT64 Flags;
  ZELM_SETTING_PROVIDER_SET_VALUE SetSettingValue;
  ZELM_SETTING_PROVIDER_GET_VALUE GetSettingValue;
  ZELM_SETTING_PROVIDER_GET_DEFAULT GetDefaultValue;
  ZELM_SETTING_PROVIDER_SET_DEFAULT SetDefaultValue;
};
#pragma pack(pop)
EFI_STATIC_ASSERT(sizeof(ZELM_SETTING_PROVIDER) == 52, "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, Type) == 8, "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, Flags) == 12, "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, SetSettingValue) == 20,
                  "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, GetSettingValue) == 28,
                  "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, GetDefaultValue) == 36,
                  "ZELM_SETTING_PROVIDER layout");
EFI_STATIC_ASSERT(offsetof(ZELM_SETTING_PROVIDER, SetDefaultValue) == 44,
                  "ZELM_SETTING_PROVIDER layout");

EFI_EXTERN_C_END

#endif
