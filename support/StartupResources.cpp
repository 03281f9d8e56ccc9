#include "support/StartupResources.h"

#include "support/FirmwareTables.h"

namespace {

// Start-up creates a fixed, small set of events and image protocols.
constexpr UINTN kMaxTrackedEvents = 16;
constexpr UINTN kMaxTrackedProtocols = 8;

struct TrackedProtocol {
  EFI_GUID *guid;
  VOID *interface;
};

// What start-up created, so a failed initialisation can undo it.
struct StartupResources {
  EFI_EVENT events[kMaxTrackedEvents];
  UINTN eventCount;
  TrackedProtocol protocols[kMaxTrackedProtocols];
  UINTN protocolCount;
};

StartupResources mTracked;

} // namespace

VOID InitStartupResources(VOID) {
  mTracked = {};
}

EFI_STATUS CreateTrackedEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify,
                              const VOID *Context, const EFI_GUID *Group, EFI_EVENT *Event) {
  if (mTracked.eventCount == kMaxTrackedEvents) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status = gBS->CreateEventEx(Type, NotifyTpl, Notify, Context, Group, Event);
  if (!EFI_ERROR(status)) {
    mTracked.events[mTracked.eventCount++] = *Event;
  }
  return status;
}

VOID CloseTrackedEvent(EFI_EVENT Event) {
  for (UINTN i = 0; i < mTracked.eventCount; i++) {
    if (mTracked.events[i] == Event) {
      mTracked.events[i] = mTracked.events[--mTracked.eventCount];
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
  if (kMaxTrackedProtocols - mTracked.protocolCount < count) {
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_HANDLE handle = gImageHandle;
  EFI_STATUS status = gBS->InstallMultipleProtocolInterfaces(
      &handle, Guid1, Interface1, Guid2, Interface2, Guid3, Interface3, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  for (UINTN i = 0; i < count; i++) {
    mTracked.protocols[mTracked.protocolCount++] = pairs[i];
  }
  return status;
}

VOID ReleaseStartupResources(VOID) {
  while (mTracked.protocolCount > 0) {
    const TrackedProtocol &p = mTracked.protocols[--mTracked.protocolCount];
    gBS->UninstallProtocolInterface(gImageHandle, p.guid, p.interface);
  }
  while (mTracked.eventCount > 0) {
    gBS->CloseEvent(mTracked.events[--mTracked.eventCount]);
  }
}
