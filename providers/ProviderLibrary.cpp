#include "providers/ProviderLibrary.h"

#include <zelm/ZelmGuids.h>
#include <zelm/ZelmSettingAccess.h>

#include "support/FirmwareTables.h"
#include "support/StartupResources.h"

VOID RegisterLibraryProviders(EFI_EVENT Event, const ZELM_SETTING_PROVIDER *Providers,
                              UINTN Count) {
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *support = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gZelmSettingProviderSupportProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&support)))) {
    return;
  }
  for (UINTN i = 0; i < Count; i++) {
    (VOID) support->RegisterProvider(support, &Providers[i]);
  }
  CloseTrackedEvent(Event);
}
