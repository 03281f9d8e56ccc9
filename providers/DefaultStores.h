// The platform's default "Setup" block in the default variable stores of
// the default-store region. Every store header and variable record is
// checked against the region and its store with 64-bit sums before it is
// compared or copied.
#ifndef ZELM_PROVIDERS_DEFAULT_STORES_H_
#define ZELM_PROVIDERS_DEFAULT_STORES_H_

#include <uefi/UefiBaseType.h>

// Searches the RegionSize bytes at Region for the default "Setup" block of
// store StoreId: the first store with that id, and in it the first variable
// named "Setup" under gPlatformSetupVariableGuid in the added state. The
// walk ends at a store that is malformed or does not fit the region; a
// store whose reserved field is set, or whose id differs, is stepped over.
// On input *Size is the size of Buffer; on EFI_SUCCESS and
// EFI_BUFFER_TOO_SMALL it is the block's size.
// EFI_SUCCESS; EFI_NOT_FOUND (no such store, no such variable, a malformed
// or overlong record); EFI_BUFFER_TOO_SMALL; EFI_INVALID_PARAMETER (Size
// NULL, or Buffer NULL when the block would fit).
[[nodiscard]] EFI_STATUS FindDefaultSetupInRegion(const UINT8 *Region, UINT64 RegionSize,
                                                  UINT64 StoreId, UINTN *Size,
                                                  VOID *Buffer OPTIONAL);

// FindDefaultSetupInRegion over the default-store region found by the
// platform variable path; EFI_NOT_FOUND when there is none.
[[nodiscard]] EFI_STATUS FindDefaultSetupInStores(UINT64 StoreId, UINTN *Size,
                                                  VOID *Buffer OPTIONAL);

#endif
