// "_SPP", the stored permission store: its image (format 4, little-endian,
// packed), loading with migration from formats 1 to 3, and saving.
#ifndef ZELM_PERMISSIONS_PERMISSION_IMAGE_H_
#define ZELM_PERMISSIONS_PERMISSION_IMAGE_H_

#include "permissions/PermissionStore.h"
#include "support/VariableAttributes.h"

extern CHAR16 kPermissionStoreVariableName[]; // "_SPP"

// The largest "_SPP".
inline constexpr UINTN kPermissionStoreMaxSize = 2048;

#pragma pack(push, 1)
// The image header of formats 3 and 4. Formats 1 and 2 share bytes 0 to 45
// and keep a 16-bit entry count at 46.
struct PermissionImageHeader {
  UINT32 Signature; // "SBCZ"
  UINT8 Format;
  UINT32 Version;
  UINT32 LowestSupportedVersion;
  EFI_TIME CreatedOn;
  EFI_TIME SavedOn;
  UINT8 DefaultPMask;
  UINT8 DefaultDMask;
  UINT16 EntryCount;
};
#pragma pack(pop)
static_assert(sizeof(PermissionImageHeader) == 49, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, Version) == 5, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, LowestSupportedVersion) == 9, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, CreatedOn) == 13, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, SavedOn) == 29, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, DefaultPMask) == 45, "_SPP header layout");
static_assert(offsetof(PermissionImageHeader, EntryCount) == 47, "_SPP header layout");

inline constexpr UINT32 kPermissionImageSignature = 0x5A434253; // "SBCZ"
inline constexpr UINT8 kPermissionImageFormat = 4;

// Bytes of Store's format-4 image: 49 + the sum of 3 + IdSize per entry.
UINTN PermissionImageSize(PermissionStore *Store);

// Writes Store's format-4 image into Image, which holds
// PermissionImageSize(Store) bytes.
VOID WritePermissionImage(PermissionStore *Store, UINT8 *Image);

// Reads "_SPP" and makes it the driver's store; every DMask loses the
// removal mark; the identity changes remembered in this boot are applied
// again; formats 1 to 3 are migrated, marked Dirty and saved (the save's
// outcome is ignored), and *Migrated (when given) is set. On failure the
// pointer is empty.
// EFI_SUCCESS; the read's status (EFI_NOT_FOUND when absent);
// EFI_NOT_FOUND (over 2048 bytes, or attributes other than 3);
// EFI_COMPROMISED_DATA (shorter than its format's header, wrong signature,
// Version below LowestSupportedVersion, unknown format, a format-1 size
// that does not match its count, an entry running past the end or whose id
// has no NUL within its size, fewer entries than counted); EFI_ABORTED
// (pool exhausted for the store or an entry, or for an identity change).
[[nodiscard]] EFI_STATUS LoadPermissionStore(BOOLEAN *Migrated OPTIONAL);

// Throws the driver's store away and loads "_SPP" again: every change not
// yet saved is lost. The status of LoadPermissionStore; on failure the
// pointer stays empty, so every permission question answers EFI_NOT_READY.
EFI_STATUS ReloadPermissionStore(VOID);

// Writes Store to "_SPP" when it is Dirty and its image differs from the
// stored one in more than its two times (CreatedOn, SavedOn); a successful
// write sets SavedOn and clears Dirty. When nothing needed writing, Dirty
// stays set and Store takes the stored CreatedOn. Either way "_SPP" then
// holds the identity changes, which are no longer remembered. A stored "_SPP" with other attributes
// is deleted first, as the firmware refuses to change attributes. After a write attempt the
// indicator byte follows DefaultPMask (its result ignored).
// EFI_SUCCESS (also when nothing needed writing); EFI_INVALID_PARAMETER (no
// store; an image over 2048 bytes, Store unchanged); EFI_ABORTED (pool);
// the status of SetVariable.
[[nodiscard]] EFI_STATUS SavePermissionStore(PermissionStore *Store);

// Keeps byte 0x80 of "Setup" in step with DefaultPMask: 2 when the local
// identity is absent (LocalAbsent) and the byte is not 2, 4 when it is
// present and the byte is 2; otherwise nothing is written.
// EFI_SUCCESS; the status of ReadPlatformSetup; EFI_BAD_BUFFER_SIZE (a
// block of 0x80 bytes or fewer; nothing written); the status of the write.
[[nodiscard]] EFI_STATUS SyncPermissionIndicator(BOOLEAN LocalAbsent);

#endif
