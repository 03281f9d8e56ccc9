// The platform setting variables (gPlatformSettingVariableGuid): the
// recovery and management strings, "XPBTen" and "AssetTag". They are the
// driver's own, attributes 3; a variable of other attributes was made by
// someone else (the operating system can create an absent one) and is
// never read as the setting.
#ifndef ZELM_PROVIDERS_SETTING_VARIABLE_H_
#define ZELM_PROVIDERS_SETTING_VARIABLE_H_

#include <uefi/UefiBaseType.h>

#include "support/VariableAttributes.h"

// GetVariable through the runtime services; a variable of other
// attributes gives EFI_NOT_FOUND (and *Size as the caller passed it).
[[nodiscard]] EFI_STATUS GetSettingVariable(const CHAR16 *Name, UINTN *Size, VOID *Value);

// SetVariable with attributes 3 (Size 0 deletes). A variable of other
// attributes is deleted first; a failed deletion is returned and nothing
// is written.
[[nodiscard]] EFI_STATUS SetSettingVariable(const CHAR16 *Name, UINTN Size, const VOID *Value);

// Whether a Set of Value (Size bytes) would leave Name as it is. Probe and
// Current are the family's Get size query (its status and the size it
// gave, the default's when Name is absent). Equal sizes are compared with
// the variable itself, whose read failure is returned (an absent variable
// whose default has this size reports EFI_NOT_FOUND). EFI_SUCCESS;
// EFI_OUT_OF_RESOURCES; the probe's or the read's failure.
[[nodiscard]] EFI_STATUS SettingVariableHolds(const CHAR16 *Name, EFI_STATUS Probe, UINTN Current,
                                              const VOID *Value, UINTN Size, BOOLEAN *Equal);

// Start-up clean-up: deletes Name when it exists with attributes other than
// 3. EFI_SUCCESS (also when it cannot be read); the deletion's status.
EFI_STATUS CheckStringVariableAttributes(const CHAR16 *Name);

#endif
