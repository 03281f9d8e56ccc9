#include "support/VariableAccess.h"

#include <platform/PlatformGuids.h>
#include <platform/PlatformPointerConversion.h>
#include <platform/PlatformRegionTable.h>
#include <uefi/Protocol/SmmVariable.h>
#include <uefi/UefiGuids.h>

#include "support/FirmwareTables.h"
#include "support/MappedRange.h"
#include "support/Memory.h"
#include "support/RegionTable.h"

namespace {

enum class VariableMode : UINT8 { Unset, Dxe, Smm };

// The smallest variable region that holds the 16-bit value at 0x30.
constexpr UINT64 kVariableRegionMinSize = PLATFORM_VARIABLE_REGION_POINTER_OFFSET + sizeof(UINT16);

struct PlatformVariableAccessState {
  // Start-up.
  BOOLEAN runtimeImage;
  PLATFORM_POINTER_CONVERSION_PROTOCOL *pointerConversion;
  EFI_EVENT pointerConversionNotify;
  VOID *pointerConversionRegistration;
  BOOLEAN servicePointerRegistered;
  EFI_EVENT regionTableEvent;

  // The layer.
  VariableMode mode;
  EFI_SMM_SYSTEM_TABLE2 *smst;
  EFI_SMM_VARIABLE_PROTOCOL *smmVariable;
  VOID *smmVariableRegistration;
  BOOLEAN smmNotifyRegistered;
  EFI_RUNTIME_SERVICES *runtime;
  BOOLEAN bootServicesEnded;
  EFI_EVENT exitBootServicesEvent;
  VOID *defaultStoreRegion;
  UINT64 defaultStoreSize;
  VOID *variableRegion;
  BOOLEAN layerPointersRegistered;
};

PlatformVariableAccessState mVariableAccess;

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
  if (service == nullptr || !mVariableAccess.runtimeImage ||
      mVariableAccess.mode != VariableMode::Dxe || mVariableAccess.layerPointersRegistered) {
    return;
  }
  for (UINTN i = 0; i < kLayerPointerCount; i++) {
    (VOID) service->RegisterPointer(LayerPointer(i));
  }
  mVariableAccess.layerPointersRegistered = TRUE;
}

VOID RegisterServicePointer() {
  PLATFORM_POINTER_CONVERSION_PROTOCOL *service = mVariableAccess.pointerConversion;
  if (service == nullptr || !mVariableAccess.runtimeImage ||
      mVariableAccess.servicePointerRegistered) {
    return;
  }
  (VOID) service->RegisterPointer(reinterpret_cast<VOID **>(&mVariableAccess.pointerConversion));
  mVariableAccess.servicePointerRegistered = TRUE;
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
  mVariableAccess.bootServicesEnded = TRUE;
  CloseOwnEvent(&mVariableAccess.exitBootServicesEvent);
}

// The pointer-conversion service appeared after start-up.
VOID EFIAPI OnPointerConversion(EFI_EVENT Event, VOID *Context) {
  (VOID) Event;
  (VOID) Context;
  VOID *service = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gPlatformPointerConversionProtocolGuid, nullptr, &service)) ||
      service == nullptr) {
    return;
  }
  mVariableAccess.pointerConversion = static_cast<PLATFORM_POINTER_CONVERSION_PROTOCOL *>(service);
  RegisterServicePointer();
  // The layer was set up without the service: its pointers must move too.
  RegisterLayerPointers();
  CloseOwnEvent(&mVariableAccess.pointerConversionNotify);
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

VOID StartPointerConversion() {
  VOID *service = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gPlatformPointerConversionProtocolGuid, nullptr, &service)) &&
      service != nullptr) {
    mVariableAccess.pointerConversion =
        static_cast<PLATFORM_POINTER_CONVERSION_PROTOCOL *>(service);
    RegisterServicePointer();
    return;
  }
  // A notification as NotifyOnProtocol makes one: signalled once so that a
  // service installed meanwhile is not missed.
  EFI_EVENT event = nullptr;
  if (EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnPointerConversion, nullptr,
                                 &event))) {
    return;
  }
  if (EFI_ERROR(gBS->RegisterProtocolNotify(&gPlatformPointerConversionProtocolGuid, event,
                                            &mVariableAccess.pointerConversionRegistration))) {
    gBS->CloseEvent(event);
    return;
  }
  mVariableAccess.pointerConversionNotify = event;
  gBS->SignalEvent(event);
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
  mVariableAccess.runtimeImage = Startup->runtimeImage;
  SetPlatformRegionTable(Startup->regionTable);
  if (!Startup->inSmm) {
    EFI_EVENT event = nullptr;
    if (!EFI_ERROR(gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, OnExitBootServicesRegionTable,
                                      nullptr, &gEfiEventExitBootServicesGuid, &event))) {
      mVariableAccess.regionTableEvent = event;
    }
    StartPointerConversion();
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
    mVariableAccess.smmNotifyRegistered = TRUE;
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
  if (mVariableAccess.layerPointersRegistered && mVariableAccess.runtimeImage &&
      service != nullptr) {
    for (UINTN i = 0; i < kLayerPointerCount; i++) {
      (VOID) service->UnregisterPointer(LayerPointer(i));
    }
    mVariableAccess.layerPointersRegistered = FALSE;
  }
  if (mVariableAccess.smmNotifyRegistered && mVariableAccess.smst != nullptr) {
    (VOID) mVariableAccess.smst->SmmRegisterProtocolNotify(
        &gEfiSmmVariableProtocolGuid, nullptr, &mVariableAccess.smmVariableRegistration);
    mVariableAccess.smmNotifyRegistered = FALSE;
  }
  if (mVariableAccess.pointerConversionNotify != nullptr) {
    CloseOwnEvent(&mVariableAccess.pointerConversionNotify);
  } else if (mVariableAccess.servicePointerRegistered && mVariableAccess.runtimeImage &&
             service != nullptr) {
    (VOID)
        service->UnregisterPointer(reinterpret_cast<VOID **>(&mVariableAccess.pointerConversion));
    mVariableAccess.servicePointerRegistered = FALSE;
  }
  CloseOwnEvent(&mVariableAccess.regionTableEvent);
}

EFI_STATUS PlatformGetVariable(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes,
                               UINTN *Size, VOID *Data) {
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  switch (mVariableAccess.mode) {
  case VariableMode::Smm:
    if (mVariableAccess.smmVariable == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.smmVariable->SmmGetVariable(name, guid, Attributes, Size, Data);
  case VariableMode::Dxe:
    if (mVariableAccess.runtime == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.runtime->GetVariable(name, guid, Attributes, Size, Data);
  default:
    return EFI_UNSUPPORTED;
  }
}

EFI_STATUS PlatformSetVariable(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes,
                               UINTN Size, const VOID *Data) {
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  auto *data = const_cast<VOID *>(Data);
  switch (mVariableAccess.mode) {
  case VariableMode::Smm:
    if (mVariableAccess.smmVariable == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.smmVariable->SmmSetVariable(name, guid, Attributes, Size, data);
  case VariableMode::Dxe:
    if (mVariableAccess.runtime == nullptr) {
      return EFI_UNSUPPORTED;
    }
    return mVariableAccess.runtime->SetVariable(name, guid, Attributes, Size, data);
  default:
    return EFI_UNSUPPORTED;
  }
}

BOOLEAN PlatformVariableSmmMode(VOID) {
  return mVariableAccess.mode == VariableMode::Smm;
}

BOOLEAN PlatformSmmVariableAvailable(VOID) {
  return mVariableAccess.mode == VariableMode::Smm && mVariableAccess.smmVariable != nullptr;
}

BOOLEAN PlatformBootServicesEnded(VOID) {
  return mVariableAccess.bootServicesEnded;
}

VOID GetDefaultStoreRegion(const UINT8 **Address, UINT64 *Size) {
  *Address = static_cast<const UINT8 *>(mVariableAccess.defaultStoreRegion);
  *Size = mVariableAccess.defaultStoreSize;
}

const VOID *GetVariableRegionPointer(VOID) {
  return mVariableAccess.variableRegion;
}
