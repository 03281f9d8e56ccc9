// The platform variable access path: one get and one set that use the SMM
// variable service inside SMM and the runtime services outside it, the
// boot-services-ended state behind them, and the start-up and shut-down of
// everything the path creates (its events, the SMM notification and the
// pointer-conversion registrations).
#ifndef ZELM_SUPPORT_VARIABLE_ACCESS_H_
#define ZELM_SUPPORT_VARIABLE_ACCESS_H_

#include <uefi/Protocol/SmmBase2.h>
#include <uefi/UefiSystemTable.h>

// What the driver's start-up found out before the path starts.
struct PlatformVariableStartup {
  // The region table (HOB or PCD), NULL when there is none.
  const VOID *regionTable;
  // EFI_SMM_BASE2_PROTOCOL reported InSmm; Smst is NULL when
  // GetSmstLocation failed.
  BOOLEAN inSmm;
  EFI_SMM_SYSTEM_TABLE2 *smst;
  // The loaded image's code type is EfiRuntimeServicesCode.
  BOOLEAN runtimeImage;
};

// Start-up of the path, in this order: the region table; outside SMM an
// exit-boot-services event (TPL_NOTIFY) that switches the region table off;
// outside SMM the pointer-conversion service (located now, or by a
// notification when it appears), whose cached pointer is registered for a
// runtime image; then InitPlatformVariableAccess. Resets the state of an
// earlier start. Nothing here fails the start-up.
VOID StartPlatformVariableAccess(const PlatformVariableStartup *Startup);

// Chooses the mode and sets up the layer: the default-store region, the
// variable region, then SMM (system table, SMM variable service now or
// through an SMM notification) or DXE (runtime services, their pointers
// handed to pointer conversion for a runtime image, an exit-boot-services
// event that sets the boot-services-ended flag). A missing variable region
// only leaves its pointer unset. EFI_SUCCESS; EFI_NOT_FOUND (no usable
// variable region; the layer is set up all the same); in SMM the status of
// the failing SMM call, EFI_UNSUPPORTED without an SMM system table; in
// DXE the status of CreateEventEx.
[[nodiscard]] EFI_STATUS InitPlatformVariableAccess(BOOLEAN InSmm, EFI_SMM_SYSTEM_TABLE2 *Smst);

// Undoes the start-up after a failed driver initialisation, in this order:
// closes the boot-services-ended event, unregisters the layer's pointers,
// cancels the SMM notification, closes the pointer-conversion notification
// or unregisters the service pointer, closes the region-table event. Each
// step is skipped when what it undoes does not exist.
VOID ShutdownPlatformVariableAccess(VOID);

// GetVariable of the SMM variable service (SMM mode) or of the runtime
// services (DXE mode). Does not look at the boot-services-ended flag.
// Statuses of that service; EFI_UNSUPPORTED in SMM mode without the SMM
// variable service, or when no mode was chosen.
[[nodiscard]] EFI_STATUS PlatformGetVariable(const CHAR16 *Name, const EFI_GUID *Guid,
                                             UINT32 *Attributes OPTIONAL, UINTN *Size,
                                             VOID *Data OPTIONAL);

// SetVariable through the same service as PlatformGetVariable; same
// statuses.
[[nodiscard]] EFI_STATUS PlatformSetVariable(const CHAR16 *Name, const EFI_GUID *Guid,
                                             UINT32 Attributes, UINTN Size,
                                             const VOID *Data OPTIONAL);

// TRUE when the driver runs inside SMM (SMM mode).
BOOLEAN PlatformVariableSmmMode(VOID);
// TRUE in SMM mode once the SMM variable service is known.
BOOLEAN PlatformSmmVariableAvailable(VOID);
// TRUE once exit boot services was signalled (DXE mode).
BOOLEAN PlatformBootServicesEnded(VOID);

// The default-store region found at initialisation; NULL and 0 when the
// table had none.
VOID GetDefaultStoreRegion(const UINT8 **Address, UINT64 *Size);
// The address stored for the variable region (its start plus the 16-bit
// value at offset 0x30), NULL when it was missing.
const VOID *GetVariableRegionPointer(VOID);

#endif
