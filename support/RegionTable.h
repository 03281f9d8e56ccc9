// Lookups in the platform region table ("QFDM"). The table is read through
// a bounds-checked view: the 28-byte header first (signature, checksum,
// geometry), then only entries that lie wholly inside the length the header
// states.
#ifndef ZELM_SUPPORT_REGION_TABLE_H_
#define ZELM_SUPPORT_REGION_TABLE_H_

#include <uefi/UefiBaseType.h>

// Makes Table (NULL: none) the table of every lookup and clears the
// region-table flag. The caller vouches that 28 bytes are readable at Table
// and, once the header checks pass, as many bytes as its Length field
// states: that length is trusted as the table's extent.
VOID SetPlatformRegionTable(const VOID *Table);

// The table given to SetPlatformRegionTable, or NULL.
const VOID *GetPlatformRegionTable(VOID);

// Sets the region-table flag (at exit boot services): from now on every
// lookup returns EFI_UNSUPPORTED.
VOID DisablePlatformRegionTable(VOID);
BOOLEAN PlatformRegionTableDisabled(VOID);

// The N-th (1-based) entry of Type whose ignore bit (attribute bit 1) is
// clear. Every out value that is not NULL is cleared first.
// EFI_SUCCESS; EFI_UNSUPPORTED (flag set); EFI_INVALID_PARAMETER (Type NULL
// or N 0); EFI_NOT_FOUND (no table, wrong signature, no such entry);
// EFI_SECURITY_VIOLATION (header checksum); EFI_VOLUME_CORRUPTED (length
// below the header or stride below one entry).
[[nodiscard]] EFI_STATUS GetPlatformRegionEntry(const EFI_GUID *Type, UINT32 N,
                                                EFI_GUID *SubId OPTIONAL, UINT64 *Offset OPTIONAL,
                                                UINT64 *Size OPTIONAL, UINT32 *Attributes OPTIONAL);

// The number of entries, of every type, whose ignore bit is clear.
// Statuses as GetPlatformRegionEntry (EFI_INVALID_PARAMETER: Count NULL).
[[nodiscard]] EFI_STATUS CountPlatformRegionEntries(UINT32 *Count);

// The region of the first non-ignored entry with Type and SubId, in table
// order: Address = the table's base address + the entry's offset. Both out
// values are cleared first. EFI_SUCCESS; EFI_UNSUPPORTED (flag set);
// EFI_INVALID_PARAMETER (a NULL argument); EFI_NOT_FOUND (no table, a
// table that cannot be read, no such entry); EFI_VOLUME_CORRUPTED (the
// address or its end wraps 64 bits).
[[nodiscard]] EFI_STATUS FindPlatformRegion(const EFI_GUID *Type, const EFI_GUID *SubId,
                                            UINT64 *Address, UINT64 *Size);

// The region of the N-th non-ignored entry of Type, whatever its sub-id,
// as FindPlatformRegion gives it. Statuses as GetPlatformRegionEntry, and
// EFI_VOLUME_CORRUPTED when the address or its end wraps 64 bits.
[[nodiscard]] EFI_STATUS GetPlatformRegionAddress(const EFI_GUID *Type, UINT32 N, UINT64 *Address,
                                                  UINT64 *Size);

#endif
