#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include "driver/DriverState.h"
#include "driver/HookRegistry.h"
#include "driver/Startup.h"
#include "driver/StartupResources.h"
#include "driver/TimerCalibration.h"
#include "permissions/PermissionsApply.h"
#include "providers/PasswordSetting.h"
#include "support/FirmwareTables.h"

VOID LibraryStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiDevicePathUtilitiesProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&mDriver.devicePathUtilities)))) {
    mDriver.devicePathUtilities = nullptr;
  }

  CalibrateTimer();
  InitHookRegistry();

  (VOID) InstallImageProtocols(&gZelmPermissionsApplyProtocolGuid, &mPermissionsApply);

  // Provider libraries, in registration order.
  StartPasswordProviderLibrary();
}
