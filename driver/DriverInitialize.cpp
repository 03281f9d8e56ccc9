#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include "driver/DriverState.h"
#include "driver/HookRegistry.h"
#include "driver/Startup.h"
#include "identity/DeviceIdentifier.h"
#include "permissions/PermissionProtocol.h"
#include "permissions/PermissionStore.h"
#include "providers/PlatformSetup.h"
#include "settings/CurrentSettings.h"
#include "settings/Registry.h"
#include "settings/SettingAccess.h"
#include "settings/SettingsApply.h"
#include "support/FirmwareTables.h"
#include "support/StartupResources.h"
#include "support/VariableAccess.h"

namespace {

// Access-start group: from now on settings may be read and written.
VOID EFIAPI OnAccessStart(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  CloseTrackedEvent(Event);
  (VOID) InstallImageProtocols(&gZelmSettingAccessProtocolGuid, &mSettingAccess);
}

// Ready-to-boot, once per boot: what the operating system reads is
// published, then the event goes.
VOID EFIAPI OnReadyToBoot(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  PublishCurrentSettings();
  PublishDeviceIdentifier();
  CloseTrackedEvent(Event);
}

} // namespace

EFI_STATUS DriverInitialize(VOID) {
  // Installing the provider support protocol fires the provider libraries'
  // notifications, so the platform's providers register inside this call.
  EFI_STATUS status =
      InstallImageProtocols(&gZelmSettingProviderSupportProtocolGuid, &mProviderSupport,
                            &gZelmSettingPermissionProtocolGuid, &mSettingPermission,
                            &gZelmSettingsApplyProtocolGuid, &mSettingsApply);
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_EVENT event = nullptr;
  (VOID) CreateTrackedEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnAccessStart, gImageHandle,
                            &gZelmSettingAccessStartEventGroupGuid, &event);
  return CreateTrackedEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnReadyToBoot, gImageHandle,
                            &gEfiEventReadyToBootGuid, &event);
}

VOID DriverShutdown(VOID) {
  UnregisterHookAction(mDriver.hookCallback);
  mDriver.hookCallback = nullptr;
  // The providers' notify events first, then what the platform variable
  // path created, then the cached default block.
  ReleaseStartupResources();
  ShutdownPlatformVariableAccess();
  ReleasePlatformSetupDefaults();
  // A failed start leaves nothing allocated: the registry and a store that
  // the authentication notification made during start-up go as well.
  ReleaseSettingsRegistry();
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
}
