// The boot-order settings: the boot-order lock ("BootOrderLock"), USB boot
// and onboard network boot (bytes of "Setup"). One family of operations
// serves the three records and tells them apart by id.
#ifndef ZELM_PROVIDERS_BOOT_SETTINGS_H_
#define ZELM_PROVIDERS_BOOT_SETTINGS_H_

#include <zelm/ZelmSettingProvider.h>

// The records, in registration order: lock, USB boot, onboard network.
extern const ZELM_SETTING_PROVIDER mBootProviders[3];
inline constexpr UINTN kBootProviderCount = 3;

// Current value (1 enabled, 0 disabled), size 1; an unreadable value
// falls back to the default. EFI_INVALID_PARAMETER (no provider, id or
// size; no buffer for a size above 0; a Type other than Enable);
// EFI_NOT_FOUND (another id; no default block for USB or network);
// EFI_BUFFER_TOO_SMALL (*ValueSize 0, set to 1).
EFI_STATUS EFIAPI BootSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                 VOID *Value);
// The default value; statuses as BootSettingGet (no fallback).
EFI_STATUS EFIAPI BootSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                        VOID *Value);
// Stores a one-byte value; a value equal to the current one reports
// ZELM_SETTING_FLAG_UNCHANGED and writes nothing. EFI_INVALID_PARAMETER (a
// missing argument, 0 bytes or more than 0x4000, not exactly one byte once
// the value differs, a Type other than Enable); EFI_NOT_FOUND (another
// id); EFI_BAD_BUFFER_SIZE ("Setup" too short, nothing written); the
// statuses of the reads, the deletion of a "BootOrderLock" of other
// attributes, and the write.
EFI_STATUS EFIAPI BootSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                 const VOID *Value, UINT64 *Flags);
// Stores the default value; the statuses of BootSettingGetDefault and
// BootSettingSet (EFI_BUFFER_TOO_SMALL when the buffer cannot be had).
EFI_STATUS EFIAPI BootSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider);

// Start-up: registers the three records once the provider support
// protocol exists.
VOID StartBootProviderLibrary(VOID);

#endif
