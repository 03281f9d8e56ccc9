// Start-up of the platform variable access path: the regions, the mode
// (SMM or DXE), the SMM variable notification, pointer conversion for a
// runtime image, and their shut-down.
#include "support/VariableAccess.h"

#include <platform/PlatformGuids.h>
#include <platform/PlatformRegionTable.h>
#include <uefi/UefiGuids.h>

#include "support/FirmwareTables.h"
#include "support/MappedRange.h"
#include "support/Memory.h"
#include "support/ProtocolNotify.h"
#include "support/RegionTable.h"
#include "support/StartupResources.h"
#include "support/VariableAccessState.h"

namespace {

// The smallest variable region that holds the 16-bit value at 0x30.
constexpr UINT64 kVariableRegionMinSize = PLATFORM_VARIABLE_REGION_POINTER_OFFSET + sizeof(UINT16);

// The layer's pointers that move with the image, in registration order.
VOID **LayerPointer(UINTN index) {
  switch (index) {
  case 0:
    return reinterpret_cast<VOID **>(&mVariableAccess.runtime);
  case 1:
    return &mVariableAccess.defaultStoreRegion;
  default:
    return &mVariableAccess.variableRegion;
  }
}
constexpr UINTN kLayerPointerCount = 3;

// Hands the layer's pointers to pointer conversion, once, for a runtime
// image in DXE mode whose service is known.
VOID RegisterLayerPointers() {
  PLATFORM_POINTER_CONVERSION_PROTOCOL *service = mVariableAccess.pointerConversion;
  if (service == nullptr || !VariablePathHas(VariablePathRuntimeImage) ||
      mVariableAccess.mode != VariableMode::Dxe ||
      VariablePathHas(VariablePathLayerPointersRegistered)) {
    return;
  }
  for (UINTN i = 0; i < kLayerPointerCount; i++) {
    (VOID) service->RegisterPointer(LayerPointer(i));
  }
  VariablePathSet(VariablePathLayerPointersRegistered, TRUE);
}

VOID RegisterServicePointer() {
  PLATFORM_POINTER_CONVERSION_PROTOCOL *service = mVariableAccess.pointerConversion;
  if (service == nullptr || !VariablePathHas(VariablePathRuntimeImage) ||
      VariablePathHas(VariablePathServicePointerRegistered)) {
    return;
  }
  (VOID) service->RegisterPointer(reinterpret_cast<VOID **>(&mVariableAccess.pointerConversion));
  VariablePathSet(VariablePathServicePointerRegistered, TRUE);
}

VOID CloseOwnEvent(EFI_EVENT *slot) {
  if (*slot != nullptr) {
    gBS->CloseEvent(*slot);
    *slot = nullptr;
  }
}

// Exit boot services (TPL_NOTIFY): the region table goes with boot-services
// memory.
VOID EFIAPI OnExitBootServicesRegionTable(EFI_EVENT Event, VOID *Context) {
  (VOID) Event;
  (VOID) Context;
  DisablePlatformRegionTable();
  CloseOwnEvent(&mVariableAccess.regionTableEvent);
}

// Exit boot services (TPL_CALLBACK): callers that allocate stop here.
VOID EFIAPI OnExitBootServicesLayer(EFI_EVENT Event, VOID *Context) {
  (VOID) Event;
  (VOID) Context;
  VariablePathSet(VariablePathBootServicesEnded, TRUE);
  CloseOwnEvent(&mVariableAccess.exitBootServicesEvent);
}

// The pointer-conversion service is installed (now, or after start-up).
VOID EFIAPI OnPointerConversion(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  VOID *service = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gPlatformPointerConversionProtocolGuid, nullptr, &service)) ||
      service == nullptr) {
    return;
  }
  mVariableAccess.pointerConversion = static_cast<PLATFORM_POINTER_CONVERSION_PROTOCOL *>(service);
  RegisterServicePointer();
  // The layer may have been set up without the service: its pointers must
  // move too.
  RegisterLayerPointers();
  CloseTrackedEvent(Event);
}

// The SMM variable service was installed after initialisation.
EFI_STATUS EFIAPI OnSmmVariable(CONST EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle) {
  (VOID) Protocol;
  (VOID) Interface;
  (VOID) Handle;
  VOID *service = nullptr;
  EFI_SMM_SYSTEM_TABLE2 *smst = mVariableAccess.smst;
  if (smst != nullptr &&
      !EFI_ERROR(smst->SmmLocateProtocol(&gEfiSmmVariableProtocolGuid, nullptr, &service))) {
    mVariableAccess.smmVariable = static_cast<EFI_SMM_VARIABLE_PROTOCOL *>(service);
  }
  return EFI_SUCCESS;
}

// The variable region: its start plus the 16-bit value at offset 0x30, or
// NULL when the entry is missing, its address is 0, it is too short to hold
// that value, the memory map does not hold all of it, or the sum wraps.
VOID *FindVariableRegionPointer() {
  UINT64 address = 0;
  UINT64 size = 0;
  if (EFI_ERROR(GetPlatformRegionAddress(&gPlatformVariableRegionGuid, 1, &address, &size)) ||
      address == 0 || size < kVariableRegionMinSize || !IsMappedRange(address, size)) {
    return nullptr;
  }
  UINT16 distance = 0;
  CopyMem(&distance,
          reinterpret_cast<const UINT8 *>(static_cast<UINTN>(address)) +
              PLATFORM_VARIABLE_REGION_POINTER_OFFSET,
          sizeof(distance));
  if (~UINT64{0} - address < distance) {
    return nullptr;
  }
  return reinterpret_cast<VOID *>(static_cast<UINTN>(address + distance));
}

} // namespace

VOID StartPlatformVariableAccess(const PlatformVariableStartup *Startup) {
  mVariableAccess = {};
  VariablePathSet(VariablePathRuntimeImage, Startup->runtimeImage);
  SetPlatformRegionTable(Startup->regionTable);
  if (!Startup->inSmm) {
    EFI_EVENT event = nullptr;
    if (!EFI_ERROR(gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, OnExitBootServicesRegionTable,
                                      nullptr, &gEfiEventExitBootServicesGuid, &event))) {
      mVariableAccess.regionTableEvent = event;
    }
    (VOID) NotifyOnProtocol(&gPlatformPointerConversionProtocolGuid, OnPointerConversion,
                            &mVariableAccess.pointerConversionRegistration);
  }
  (VOID) InitPlatformVariableAccess(Startup->inSmm, Startup->smst);
}

EFI_STATUS InitPlatformVariableAccess(BOOLEAN InSmm, EFI_SMM_SYSTEM_TABLE2 *Smst) {
  UINT64 address = 0;
  UINT64 size = 0;
  EFI_GUID anySubId = {};
  // The stores are read in place: a region the memory map does not hold is
  // no region.
  if (EFI_ERROR(FindPlatformRegion(&gPlatformDefaultStoreRegionGuid, &anySubId, &address, &size)) ||
      !IsMappedRange(address, size)) {
    address = 0;
    size = 0;
  }
  mVariableAccess.defaultStoreRegion = reinterpret_cast<VOID *>(static_cast<UINTN>(address));
  mVariableAccess.defaultStoreSize = address == 0 ? 0 : size;

  // Without the variable region only its pointer stays unset: the mode is
  // still chosen, so the boot-services-ended flag can be set.
  mVariableAccess.variableRegion = FindVariableRegionPointer();
  EFI_STATUS regionStatus = mVariableAccess.variableRegion == nullptr ? EFI_NOT_FOUND : EFI_SUCCESS;

  if (InSmm) {
    mVariableAccess.mode = VariableMode::Smm;
    mVariableAccess.smst = Smst;
    if (Smst == nullptr) {
      return EFI_UNSUPPORTED;
    }
    VOID *service = nullptr;
    if (!EFI_ERROR(Smst->SmmLocateProtocol(&gEfiSmmVariableProtocolGuid, nullptr, &service)) &&
        service != nullptr) {
      mVariableAccess.smmVariable = static_cast<EFI_SMM_VARIABLE_PROTOCOL *>(service);
      return regionStatus;
    }
    EFI_STATUS status = Smst->SmmRegisterProtocolNotify(&gEfiSmmVariableProtocolGuid, OnSmmVariable,
                                                        &mVariableAccess.smmVariableRegistration);
    if (EFI_ERROR(status)) {
      return status;
    }
    VariablePathSet(VariablePathSmmNotifyRegistered, TRUE);
    return regionStatus;
  }

  mVariableAccess.mode = VariableMode::Dxe;
  mVariableAccess.runtime = gRT;
  RegisterLayerPointers();
  EFI_EVENT event = nullptr;
  EFI_STATUS status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnExitBootServicesLayer,
                                         nullptr, &gEfiEventExitBootServicesGuid, &event);
  if (EFI_ERROR(status)) {
    return status;
  }
  mVariableAccess.exitBootServicesEvent = event;
  return regionStatus;
}

VOID ShutdownPlatformVariableAccess(VOID) {
  CloseOwnEvent(&mVariableAccess.exitBootServicesEvent);
  PLATFORM_POINTER_CONVERSION_PROTOCOL *service = mVariableAccess.pointerConversion;
  if (VariablePathHas(VariablePathLayerPointersRegistered) && service != nullptr) {
    for (UINTN i = 0; i < kLayerPointerCount; i++) {
      (VOID) service->UnregisterPointer(LayerPointer(i));
    }
    VariablePathSet(VariablePathLayerPointersRegistered, FALSE);
  }
  if (VariablePathHas(VariablePathSmmNotifyRegistered) && mVariableAccess.smst != nullptr) {
    (VOID) mVariableAccess.smst->SmmRegisterProtocolNotify(
        &gEfiSmmVariableProtocolGuid, nullptr, &mVariableAccess.smmVariableRegistration);
    VariablePathSet(VariablePathSmmNotifyRegistered, FALSE);
  }
  // A notification still waiting for the service is a tracked event, closed
  // with the other start-up resources.
  if (VariablePathHas(VariablePathServicePointerRegistered) && service != nullptr) {
    (VOID)
        service->UnregisterPointer(reinterpret_cast<VOID **>(&mVariableAccess.pointerConversion));
    VariablePathSet(VariablePathServicePointerRegistered, FALSE);
  }
  CloseOwnEvent(&mVariableAccess.regionTableEvent);
}
