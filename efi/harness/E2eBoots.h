// The two boots of the end-to-end run over one variable store. The runner
// marks which boot it is with a file on the ESP; each boot starts the
// driver itself and prints its own verdict.
#ifndef ZELM_EFI_HARNESS_E2E_BOOTS_H_
#define ZELM_EFI_HARNESS_E2E_BOOTS_H_

#include <uefi/UefiSystemTable.h>

#include "efi/harness/CheckLog.h"

// Marker files of the two boots.
#define HARNESS_FIRST_BOOT_MARKER u"\\zelm-boot-1"
#define HARNESS_SECOND_BOOT_MARKER u"\\zelm-boot-2"

// Boot 1, after the driver started: owner and local enrolled, a
// permissions packet (owner) and a settings packet (local) applied through
// their mailboxes, ready-to-boot signalled, the boot-order lock hook run.
VOID RunFirstBoot(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log);

// Boot 2, after the driver started again: what boot 1 applied persisted
// and is enforced, the published documents exist, the lock is in force.
VOID RunSecondBoot(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log);

// After boot 2: the published variables, as the operating system reads
// them, printed on the console as efivarfs files ("<Name>-<guid>": the
// 4-byte attributes, then the data; "zelm-efivar-file" and
// "zelm-efivar-data" lines), so that the runner can rebuild the directory
// and mirror this machine with zelm-sim.
VOID PrintPublishedVariables(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log);

#endif
