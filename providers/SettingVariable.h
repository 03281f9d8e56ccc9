// The platform setting variables (gPlatformSettingVariableGuid): the
// recovery and management strings, "XPBTen" and "AssetTag". They are the
// driver's own, attributes 3; a variable of other attributes was made by
// someone else (the operating system can create an absent one) and is
// never read as the setting.
#ifndef ZELM_PROVIDERS_SETTING_VARIABLE_H_
#define ZELM_PROVIDERS_SETTING_VARIABLE_H_

#include <uefi/UefiBaseType.h>

inline constexpr UINT32 kSettingVariableAttributes = 3;

// GetVariable through the runtime services; a variable of other
// attributes gives EFI_NOT_FOUND (and *Size as the caller passed it).
[[nodiscard]] EFI_STATUS GetSettingVariable(const CHAR16 *Name, UINTN *Size, VOID *Value);

// SetVariable with attributes 3 (Size 0 deletes). A variable of other
// attributes is deleted first; a failed deletion is returned and nothing
// is written.
[[nodiscard]] EFI_STATUS SetSettingVariable(const CHAR16 *Name, UINTN Size, const VOID *Value);

// Start-up clean-up: deletes Name when it exists with attributes other than
// 3. EFI_SUCCESS (also when it cannot be read); the deletion's status.
EFI_STATUS CheckStringVariableAttributes(const CHAR16 *Name);

#endif
