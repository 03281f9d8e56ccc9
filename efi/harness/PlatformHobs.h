// The hand-off block a real platform's pre-DXE phase gives the driver and
// OVMF does not: the region-table HOB (without it the driver asks the PCD
// protocol for a token that OVMF does not know). The timer-calibration HOB
// is left out on purpose, so the boot exercises the driver's bounded wait on
// q35's port 0x1808, which never moves.
#ifndef ZELM_EFI_HARNESS_PLATFORM_HOBS_H_
#define ZELM_EFI_HARNESS_PLATFORM_HOBS_H_

#include <uefi/UefiSystemTable.h>

// Copies the HOB list, appends the region-table HOB when it lacks one and
// installs the copy as the HOB-list configuration table. The region table
// it points to holds one variable-region entry. With WithRegionTable FALSE
// the list is left as the firmware made it, so the driver meets a platform
// without the HOB.
// EFI_NOT_FOUND: no HOB list. EFI_VOLUME_CORRUPTED: the list has no end
// within reach. Otherwise the status of AllocatePool or
// InstallConfigurationTable.
EFI_STATUS AddPlatformHobs(EFI_SYSTEM_TABLE *SystemTable, BOOLEAN WithRegionTable);

#endif
