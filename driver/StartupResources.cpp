#include "driver/StartupResources.h"

#include "driver/DriverState.h"
#include "support/FirmwareTables.h"

EFI_STATUS CreateTrackedEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify,
                              const VOID *Context, const EFI_GUID *Group, EFI_EVENT *Event) {
  if (mDriver.eventCount == kMaxTrackedEvents) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status = gBS->CreateEventEx(Type, NotifyTpl, Notify, Context, Group, Event);
  if (!EFI_ERROR(status)) {
    mDriver.events[mDriver.eventCount++] = *Event;
  }
  return status;
}

VOID CloseTrackedEvent(EFI_EVENT Event) {
  for (UINTN i = 0; i < mDriver.eventCount; i++) {
    if (mDriver.events[i] == Event) {
      mDriver.events[i] = mDriver.events[--mDriver.eventCount];
      break;
    }
  }
  gBS->CloseEvent(Event);
}

EFI_STATUS InstallImageProtocols(EFI_GUID *Guid1, VOID *Interface1, EFI_GUID *Guid2,
                                 VOID *Interface2, EFI_GUID *Guid3, VOID *Interface3) {
  TrackedProtocol pairs[] = {{Guid1, Interface1}, {Guid2, Interface2}, {Guid3, Interface3}};
  UINTN count = 0;
  while (count < 3 && pairs[count].guid != nullptr) {
    count++;
  }
  if (kMaxTrackedProtocols - mDriver.protocolCount < count) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_HANDLE handle = gImageHandle;
  EFI_STATUS status = gBS->InstallMultipleProtocolInterfaces(
      &handle, Guid1, Interface1, Guid2, Interface2, Guid3, Interface3, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  for (UINTN i = 0; i < count; i++) {
    mDriver.protocols[mDriver.protocolCount++] = pairs[i];
  }
  return status;
}

VOID ReleaseStartupResources(VOID) {
  while (mDriver.protocolCount > 0) {
    const TrackedProtocol &p = mDriver.protocols[--mDriver.protocolCount];
    gBS->UninstallProtocolInterface(gImageHandle, p.guid, p.interface);
  }
  while (mDriver.eventCount > 0) {
    gBS->CloseEvent(mDriver.events[--mDriver.eventCount]);
  }
}
