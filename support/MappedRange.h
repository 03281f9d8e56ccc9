// Whether a physical address range may be read in place: the platform
// hands the driver addresses (HOB data, PCD values) that nothing else
// vouches for, and a read of an unbacked or non-canonical address faults.
#ifndef ZELM_SUPPORT_MAPPED_RANGE_H_
#define ZELM_SUPPORT_MAPPED_RANGE_H_

#include <uefi/UefiBaseType.h>

// TRUE when Address is not zero, is canonical (bits 63..47 all equal) and
// [Address, Address + Length) lies wholly inside one descriptor of the
// boot-services memory map, of any memory type. FALSE as well when Length
// is 0 or the map cannot be read (no pool, an unexpected status, a
// descriptor size below the descriptor): an unproven address is never
// read.
[[nodiscard]] BOOLEAN IsMappedRange(UINT64 Address, UINT64 Length);

#endif
