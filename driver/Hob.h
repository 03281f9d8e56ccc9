// Lookups in the HOB list handed over by the PEI phase.
#ifndef ZELM_DRIVER_HOB_H_
#define ZELM_DRIVER_HOB_H_

#include <uefi/UefiBaseType.h>

// The HOB list from the configuration table (searched once, then cached);
// NULL when the table has none.
VOID *GetHobList(VOID);

// The data of the first GUID-extension HOB named Guid that carries at least
// MinDataSize bytes of data, or NULL. The walk ends at the end-of-list HOB
// or at a HOB shorter than its own header.
const VOID *FindGuidHobData(const EFI_GUID *Guid, UINTN MinDataSize);

#endif
