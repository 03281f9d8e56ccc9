// "_SMID": the version floor of settings packets, kept across boots.
#ifndef ZELM_SETTINGS_SETTINGS_MANAGER_DATA_H_
#define ZELM_SETTINGS_SETTINGS_MANAGER_DATA_H_

#include <uefi/UefiBaseType.h>

#pragma pack(push, 1)
// The stored image, little-endian.
struct SettingsManagerImage {
  UINT32 Signature; // "SMID"
  UINT8 LayoutVersion;
  UINT32 Version;
  UINT32 LowestSupportedVersion;
  EFI_TIME CreatedOn;
  EFI_TIME SavedOn;
};
#pragma pack(pop)
static_assert(sizeof(SettingsManagerImage) == 45, "_SMID layout");
static_assert(offsetof(SettingsManagerImage, Version) == 5, "_SMID layout");
static_assert(offsetof(SettingsManagerImage, LowestSupportedVersion) == 9, "_SMID layout");
static_assert(offsetof(SettingsManagerImage, CreatedOn) == 13, "_SMID layout");
static_assert(offsetof(SettingsManagerImage, SavedOn) == 29, "_SMID layout");

inline constexpr UINT32 kSettingsManagerSignature = 0x44494D53; // "SMID"
inline constexpr UINT8 kSettingsManagerLayoutVersion = 1;

struct ZELM_SETTINGS_MANAGER_DATA {
  UINT32 Version;
  UINT32 LowestSupportedVersion;
  EFI_TIME CreatedOn;
  BOOLEAN Dirty; // must be written; cleared only by a successful write
};

// Reads "_SMID" into *Data (Dirty clear). EFI_SUCCESS; EFI_NOT_FOUND
// (absent, under 5 bytes, attributes other than 3); EFI_OUT_OF_RESOURCES
// (no pool for the read); EFI_DEVICE_ERROR (any other read failure, so that
// no read failure looks like content); EFI_COMPROMISED_DATA (wrong
// signature, not 45 bytes, Version below LowestSupportedVersion);
// EFI_UNSUPPORTED (another layout version).
[[nodiscard]] EFI_STATUS LoadSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data);

// TRUE for the load statuses after which fresh data stands in: nothing
// usable is stored. Any other failure leaves the floor unknown.
BOOLEAN SettingsManagerDataAbsent(EFI_STATUS LoadStatus);

// Fresh data: versions 0, CreatedOn now (zero when the clock fails), Dirty.
VOID FreshSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data);

// Writes *Data to "_SMID" when Dirty, and clears Dirty on success. A
// stored "_SMID" of other attributes is deleted first. EFI_SUCCESS (also
// when nothing needed writing); EFI_INVALID_PARAMETER (no data);
// SetVariable's status.
[[nodiscard]] EFI_STATUS SaveSettingsManagerData(ZELM_SETTINGS_MANAGER_DATA *Data);

#endif
