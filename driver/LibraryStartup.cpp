#include <platform/PlatformGuids.h>
#include <platform/PlatformRegionTable.h>
#include <uefi/Protocol/LoadedImage.h>
#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include "driver/DriverState.h"
#include "driver/Hob.h"
#include "driver/HookRegistry.h"
#include "driver/Smm.h"
#include "driver/Startup.h"
#include "driver/TimerCalibration.h"
#include "permissions/Identities.h"
#include "permissions/PermissionsApply.h"
#include "providers/AssetTagSetting.h"
#include "providers/BootOrderLock.h"
#include "providers/BootSettings.h"
#include "providers/PasswordSetting.h"
#include "providers/PlatformSetup.h"
#include "providers/StringSettings.h"
#include "providers/VirtualizationSetting.h"
#include "providers/XpbtSetting.h"
#include "support/FirmwareTables.h"
#include "support/MappedRange.h"
#include "support/Memory.h"
#include "support/ProtocolNotify.h"
#include "support/StartupResources.h"
#include "support/VariableAccess.h"

namespace {

EFI_PCD_PROTOCOL *LocatePcd() {
  if (!mDriver.pcdSearched) {
    mDriver.pcdSearched = TRUE;
    VOID *pcd = nullptr;
    if (!EFI_ERROR(gBS->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &pcd))) {
      mDriver.pcd = static_cast<EFI_PCD_PROTOCOL *>(pcd);
    }
  }
  return mDriver.pcd;
}

// The region table: the address in the region-table HOB, else the PCD token.
// A platform without either may still answer the PCD query (OVMF gives an
// unknown token a non-canonical value), so an address whose header, or
// the length the header states, is not inside the memory map counts as no
// table.
const VOID *FindRegionTable() {
  UINT64 address = 0;
  const VOID *hobData = FindGuidHobData(&gPlatformRegionTableHobGuid, sizeof(address));
  if (hobData != nullptr) {
    CopyMem(&address, hobData, sizeof(address));
  } else if (EFI_PCD_PROTOCOL *pcd = LocatePcd(); pcd != nullptr && pcd->Get64 != nullptr) {
    address = pcd->Get64(&gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN);
  }
  if (!IsMappedRange(address, sizeof(PLATFORM_REGION_TABLE_HEADER))) {
    return nullptr;
  }
  // The lookups read as far as the header's stated length: all of it must
  // be in the map as well (a length below the header is refused by them).
  PLATFORM_REGION_TABLE_HEADER header;
  CopyMem(&header, reinterpret_cast<const VOID *>(static_cast<UINTN>(address)), sizeof(header));
  if (header.Length > sizeof(header) && !IsMappedRange(address, header.Length)) {
    return nullptr;
  }
  return reinterpret_cast<const VOID *>(static_cast<UINTN>(address));
}

BOOLEAN IsRuntimeImage(EFI_HANDLE imageHandle) {
  VOID *interface = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(imageHandle, &gEfiLoadedImageProtocolGuid, &interface)) ||
      interface == nullptr) {
    return FALSE;
  }
  return static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(interface)->ImageCodeType ==
         EfiRuntimeServicesCode;
}

// The platform variable path: region table, SMM detection, the
// exit-boot-services event, pointer conversion, the access layer.
VOID StartPlatformVariablePath(EFI_HANDLE imageHandle) {
  ResetPlatformSetup();
  PlatformVariableStartup startup = {};
  startup.regionTable = FindRegionTable();
  mDriver.inSmm = QuerySmm(&mDriver.smst);
  startup.inSmm = mDriver.inSmm;
  startup.smst = mDriver.smst;
  if (!mDriver.inSmm) {
    mDriver.runtimeImage = IsRuntimeImage(imageHandle);
  }
  startup.runtimeImage = mDriver.runtimeImage;
  StartPlatformVariableAccess(&startup);
}

} // namespace

VOID LibraryStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiDevicePathUtilitiesProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&mDriver.devicePathUtilities)))) {
    mDriver.devicePathUtilities = nullptr;
  }

  CalibrateTimer();
  InitHookRegistry();
  StartPlatformVariablePath(ImageHandle);

  // The permission store loads once the authentication component is there,
  // which may be before or after this driver starts.
  VOID *registration = nullptr;
  (VOID) NotifyOnProtocol(&gZelmAuthenticationProtocolGuid, InitializePermissionsOnAuthentication,
                          &registration);
  (VOID) InstallImageProtocols(&gZelmPermissionsApplyProtocolGuid, &mPermissionsApply);

  // Provider libraries, in registration order; the boot-order lock action
  // runs when the platform reaches its hook point.
  StartBootProviderLibrary();
  (VOID) RegisterHookAction(&gPlatformBootOrderLockHookGuid, kBootOrderLockPriority,
                            RunBootOrderLock, &mDriver.hookCallback);
  StartPasswordProviderLibrary();
  StartStringProviderLibrary();
  StartVirtualizationProviderLibrary();
  StartXpbtProviderLibrary();
  StartAssetTagProviderLibrary();
}
