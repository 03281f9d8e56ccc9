// Time and miscellaneous runtime services (UEFI 2.10 sections 8.3-8.5).
#include "host/FirmwareState.h"

namespace host {

namespace {

bool IsValidTime(const EFI_TIME &t) {
  constexpr INT16 kUnspecifiedTimeZone = 0x07FF;
  return t.Year >= 1900 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
         t.Day <= 31 && t.Hour < 24 && t.Minute < 60 && t.Second < 60 &&
         t.Nanosecond < 1000000000u &&
         (t.TimeZone == kUnspecifiedTimeZone || (t.TimeZone >= -1440 && t.TimeZone <= 1440));
}

EFI_STATUS EFIAPI GetTime(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (Time == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (s->platform.getTimeStatus != EFI_SUCCESS) {
    return s->platform.getTimeStatus;
  }
  *Time = s->platform.clock;
  if (Capabilities != nullptr) {
    Capabilities->Resolution = 1;
    Capabilities->Accuracy = 50000000; // 50 ppm, in units of 1e-6 ppm
    Capabilities->SetsToZero = FALSE;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetTime(EFI_TIME *Time) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (Time == nullptr || !IsValidTime(*Time)) {
    return EFI_INVALID_PARAMETER;
  }
  s->platform.clock = *Time;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetWakeupTime(BOOLEAN *, BOOLEAN *, EFI_TIME *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetWakeupTime(BOOLEAN, EFI_TIME *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetVirtualAddressMap(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ConvertPointer(UINTN, VOID **Address) {
  return Address == nullptr ? EFI_INVALID_PARAMETER : EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI GetNextHighMonotonicCount(UINT32 *HighCount) {
  FirmwareState *s = ActiveState();
  if (HighCount == nullptr || s == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  s->monotonicCount += UINT64(1) << 32;
  *HighCount = static_cast<UINT32>(s->monotonicCount >> 32);
  return EFI_SUCCESS;
}

// A reset cannot happen inside a test: it is counted, and the caller goes on.
// The double never resets: the caller goes on.
VOID EFIAPI ResetSystem(EFI_RESET_TYPE, EFI_STATUS, UINTN, VOID *) {}

EFI_STATUS EFIAPI UpdateCapsule(VOID **, UINTN, EFI_PHYSICAL_ADDRESS) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI QueryCapsuleCapabilities(VOID **, UINTN, UINT64 *, EFI_RESET_TYPE *) {
  return EFI_UNSUPPORTED;
}

} // namespace

void FillRuntimeServices(EFI_RUNTIME_SERVICES &table) {
  table.GetTime = GetTime;
  table.SetTime = SetTime;
  table.GetWakeupTime = GetWakeupTime;
  table.SetWakeupTime = SetWakeupTime;
  table.SetVirtualAddressMap = SetVirtualAddressMap;
  table.ConvertPointer = ConvertPointer;
  table.GetNextHighMonotonicCount = GetNextHighMonotonicCount;
  table.ResetSystem = ResetSystem;
  table.UpdateCapsule = UpdateCapsule;
  table.QueryCapsuleCapabilities = QueryCapsuleCapabilities;
}

} // namespace host
