#include "support/ProtocolNotify.h"

#include "support/FirmwareTables.h"
#include "support/StartupResources.h"

EFI_EVENT NotifyOnProtocol(EFI_GUID *ProtocolGuid, EFI_EVENT_NOTIFY Handler, VOID **Registration) {
  EFI_EVENT event = nullptr;
  if (EFI_ERROR(
          CreateTrackedEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Handler, nullptr, nullptr, &event))) {
    return nullptr;
  }
  if (EFI_ERROR(gBS->RegisterProtocolNotify(ProtocolGuid, event, Registration))) {
    CloseTrackedEvent(event);
    return nullptr;
  }
  gBS->SignalEvent(event);
  return event;
}
