// Image entry of the Zelm settings manager, a UEFI boot-service driver.
#include "driver/Entry.h"

#include "driver/DriverState.h"
#include "driver/Startup.h"
#include "permissions/Identities.h"
#include "settings/Registry.h"
#include "settings/SettingAccess.h"
#include "support/StartupResources.h"

DriverState mDriver;

// Runs the library start-up, then the driver initialisation; when that
// fails, runs the shut-down and returns its error.
extern "C" EFI_STATUS EFIAPI ZelmDriverEntry(EFI_HANDLE ImageHandle,
                                             EFI_SYSTEM_TABLE *SystemTable) {
  mDriver = {};
  InitStartupResources();
  InitSettingsRegistry();
  InitSettingAccess();
  ResetPermissionManager();
  LibraryStartup(ImageHandle, SystemTable);
  EFI_STATUS status = DriverInitialize();
  if (EFI_ERROR(status)) {
    DriverShutdown();
  }
  return status;
}
