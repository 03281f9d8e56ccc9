// The driver's start-up phases, run in order by the image entry.
#ifndef ZELM_DRIVER_STARTUP_H_
#define ZELM_DRIVER_STARTUP_H_

#include <uefi/UefiSystemTable.h>

// Shared services and provider libraries. No step stops the sequence; a
// failing step leaves its feature inactive.
VOID LibraryStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Installs the driver's protocols and creates the access-start and
// ready-to-boot events. An error fails the image.
[[nodiscard]] EFI_STATUS DriverInitialize(VOID);

// Undoes everything start-up and initialisation left behind that points
// into the image, after a failed initialisation.
VOID DriverShutdown(VOID);

#endif
