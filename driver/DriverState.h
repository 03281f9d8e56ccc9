// Driver-wide state: one zero-initialised record, filled by the image
// entry. Start-up resets it, so a fresh start never sees an earlier one.
#ifndef ZELM_DRIVER_DRIVER_STATE_H_
#define ZELM_DRIVER_DRIVER_STATE_H_

#include <platform/PlatformHookRegistry.h>
#include <uefi/Protocol/DevicePathUtilities.h>
#include <uefi/Protocol/Pcd.h>
#include <uefi/Protocol/SmmBase2.h>

struct DriverState {
  EFI_DEVICE_PATH_UTILITIES_PROTOCOL *devicePathUtilities;

  BOOLEAN hobListSearched;
  VOID *hobList;

  // EFI_PCD_PROTOCOL, looked up once.
  BOOLEAN pcdSearched;
  EFI_PCD_PROTOCOL *pcd;

  BOOLEAN inSmm;
  BOOLEAN runtimeImage;
  EFI_SMM_SYSTEM_TABLE2 *smst;

  // The shared hook registry and this driver's one action record in it.
  LIST_ENTRY *hookRegistry;
  PLATFORM_HOOK_CALLBACK *hookCallback;
};

extern DriverState mDriver;

#endif
