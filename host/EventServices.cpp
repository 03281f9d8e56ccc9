// Event and TPL boot services (UEFI 2.10 section 7.1).
#include "host/FirmwareState.h"

namespace host {

namespace {

EFI_TPL EFIAPI RaiseTpl(EFI_TPL NewTpl) {
  FirmwareState *s = EnterBootService();
  return s == nullptr ? TPL_APPLICATION : s->events.Raise(NewTpl);
}

VOID EFIAPI RestoreTpl(EFI_TPL OldTpl) {
  FirmwareState *s = EnterBootService();
  if (s != nullptr) {
    s->events.Restore(OldTpl);
  }
}

EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                              VOID *NotifyContext, EFI_EVENT *Event) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] {
    return s->events.Create(Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
  });
}

EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                CONST VOID *NotifyContext, CONST EFI_GUID *EventGroup,
                                EFI_EVENT *Event) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] {
    return s->events.Create(Type, NotifyTpl, NotifyFunction, const_cast<VOID *>(NotifyContext),
                            EventGroup, Event);
  });
}

EFI_STATUS EFIAPI SetTimer(EFI_EVENT Event, EFI_TIMER_DELAY Type, UINT64) {
  FirmwareState *s = EnterBootService();
  return s == nullptr ? EFI_NOT_READY : s->events.SetTimer(Event, Type);
}

EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->events.Signal(Event); });
}

EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->events.Close(Event); });
}

EFI_STATUS EFIAPI CheckEvent(EFI_EVENT Event) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->events.Check(Event); });
}

// There is no time in the double: a wait succeeds only for an event that is
// already signalled (or signals itself from its wait notify).
EFI_STATUS EFIAPI WaitForEvent(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (NumberOfEvents == 0 || Event == nullptr || Index == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (s->events.Current() != TPL_APPLICATION) {
    return EFI_UNSUPPORTED;
  }
  return Guarded([&] {
    for (UINTN i = 0; i < NumberOfEvents; i++) {
      EFI_STATUS status = s->events.Check(Event[i]);
      if (status != EFI_NOT_READY) {
        *Index = i;
        return status;
      }
    }
    return EFI_UNSUPPORTED;
  });
}

} // namespace

void FillEventServices(EFI_BOOT_SERVICES &table) {
  table.RaiseTPL = RaiseTpl;
  table.RestoreTPL = RestoreTpl;
  table.CreateEvent = CreateEvent;
  table.CreateEventEx = CreateEventEx;
  table.SetTimer = SetTimer;
  table.SignalEvent = SignalEvent;
  table.CloseEvent = CloseEvent;
  table.CheckEvent = CheckEvent;
  table.WaitForEvent = WaitForEvent;
}

} // namespace host
