#include "efi/harness/EventGroup.h"

namespace {

VOID EFIAPI IgnoreSignal(EFI_EVENT, VOID *) {}

} // namespace

EFI_STATUS SignalEventGroup(EFI_BOOT_SERVICES *BootServices, EFI_GUID *Group) {
  EFI_EVENT event = nullptr;
  EFI_STATUS status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, IgnoreSignal,
                                                  nullptr, Group, &event);
  if (EFI_ERROR(status)) {
    return status;
  }
  status = BootServices->SignalEvent(event);
  BootServices->CloseEvent(event);
  return status;
}
