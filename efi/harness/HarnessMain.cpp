// The boot test: an EFI application that the firmware's default boot starts
// from the test ESP. It gives the platform what OVMF lacks, loads and starts
// the driver image next to it, talks to the driver's protocols as another
// driver would, plays the authentication component the driver waits for,
// prints one line per check and a verdict, and ends QEMU.
#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/Zelm.h>

#include "efi/harness/CheckLog.h"
#include "efi/harness/Console.h"
#include "efi/harness/E2eBoots.h"
#include "efi/harness/EventGroup.h"
#include "efi/harness/ImageLoader.h"
#include "efi/harness/MarkerFile.h"
#include "efi/harness/PermissionChecks.h"
#include "efi/harness/PlatformHobs.h"
#include "efi/harness/QemuExit.h"
#include "efi/harness/TestProvider.h"

namespace {

constexpr CHAR16 driverFileName[] = u"\\zelm.efi";
// Present on the ESP for the run on a platform without the region-table
// HOB, where the driver's PCD query gets whatever the firmware answers.
constexpr CHAR16 noRegionHobMarker[] = u"\\zelm-no-region-hob";

// Which run this is: the single boot, or one of the two end-to-end boots
// the runner marks on the ESP.
enum class RunKind { Single, FirstBoot, SecondBoot };

RunKind FindRunKind(EFI_HANDLE imageHandle, EFI_BOOT_SERVICES *bs) {
  if (MarkerFileExists(imageHandle, bs, HARNESS_FIRST_BOOT_MARKER)) {
    return RunKind::FirstBoot;
  }
  if (MarkerFileExists(imageHandle, bs, HARNESS_SECOND_BOOT_MARKER)) {
    return RunKind::SecondBoot;
  }
  return RunKind::Single;
}

template <typename T> EFI_STATUS Locate(EFI_BOOT_SERVICES *bs, EFI_GUID *Guid, T **Interface) {
  *Interface = nullptr;
  return bs->LocateProtocol(Guid, nullptr, reinterpret_cast<VOID **>(Interface));
}

// Loads and starts the driver; FALSE when it is not running afterwards.
BOOLEAN StartDriver(EFI_HANDLE imageHandle, EFI_BOOT_SERVICES *bs, CheckLog &log) {
  EFI_HANDLE driverImage = nullptr;
  EFI_STATUS status = LoadImageFromOwnVolume(imageHandle, bs, driverFileName, &driverImage);
  if (!log.expect(status == EFI_SUCCESS, "LoadImage of \\zelm.efi", status)) {
    return FALSE;
  }
  status = bs->StartImage(driverImage, nullptr, nullptr);
  return log.expect(status == EFI_SUCCESS, "StartImage of the driver returns EFI_SUCCESS", status);
}

VOID CheckStartupProtocols(EFI_BOOT_SERVICES *bs, CheckLog &log) {
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *support;
  EFI_STATUS status = Locate(bs, &gZelmSettingProviderSupportProtocolGuid, &support);
  log.expect(status == EFI_SUCCESS && support != nullptr, "provider support protocol installed",
             status);

  ZELM_SETTING_PERMISSION_PROTOCOL *permission;
  status = Locate(bs, &gZelmSettingPermissionProtocolGuid, &permission);
  log.expect(status == EFI_SUCCESS && permission != nullptr,
             "setting permission protocol installed", status);

  ZELM_APPLY_PACKET_PROTOCOL *apply;
  status = Locate(bs, &gZelmSettingsApplyProtocolGuid, &apply);
  log.expect(status == EFI_SUCCESS && apply != nullptr &&
                 apply->Signature == ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE &&
                 apply->Version == ZELM_APPLY_PACKET_PROTOCOL_VERSION,
             "settings apply protocol installed (\"YPPA\", version 1)", status);

  ZELM_SETTING_ACCESS_PROTOCOL *access;
  status = Locate(bs, &gZelmSettingAccessProtocolGuid, &access);
  log.expect(status == EFI_NOT_FOUND, "settings access protocol absent before access start",
             status);

  VOID *hookRegistry;
  status = Locate(bs, &gPlatformHookRegistryProtocolGuid, &hookRegistry);
  Print("zelm-harness: info: hook registry list head %a (%r)\n",
        EFI_ERROR(status) ? "missing" : "present", status);
}

VOID CheckRegistration(EFI_BOOT_SERVICES *bs, CheckLog &log) {
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *support;
  if (EFI_ERROR(Locate(bs, &gZelmSettingProviderSupportProtocolGuid, &support))) {
    log.expect(FALSE, "RegisterProvider (no provider support protocol)", EFI_NOT_FOUND);
    return;
  }
  EFI_STATUS status = support->RegisterProvider(support, HarnessTestProvider());
  log.expect(status == EFI_SUCCESS, "RegisterProvider \"" HARNESS_TEST_SETTING_ID "\"", status);

  ZELM_SETTING_PROVIDER duplicate = HarnessProviderWithId(HARNESS_TEST_SETTING_ID);
  status = support->RegisterProvider(support, &duplicate);
  log.expect(status == EFI_INVALID_PARAMETER, "RegisterProvider of a duplicate id is refused",
             status);

  ZELM_SETTING_PROVIDER digit = HarnessProviderWithId("1Harness.Test.Enable");
  status = support->RegisterProvider(support, &digit);
  log.expect(status == EFI_INVALID_PARAMETER,
             "RegisterProvider of an id starting with a digit is refused", status);
}

VOID CheckAccess(EFI_BOOT_SERVICES *bs, CheckLog &log) {
  EFI_STATUS status = SignalEventGroup(bs, &gZelmSettingAccessStartEventGroupGuid);
  log.expect(status == EFI_SUCCESS, "access-start group signalled", status);

  ZELM_SETTING_ACCESS_PROTOCOL *access;
  status = Locate(bs, &gZelmSettingAccessProtocolGuid, &access);
  if (!log.expect(status == EFI_SUCCESS && access != nullptr,
                  "settings access protocol installed after access start", status)) {
    return;
  }

  UINT8 value = 0;
  UINTN size = sizeof(value);
  status = access->Get(access, HARNESS_TEST_SETTING_ID, nullptr, ZELM_SETTING_TYPE_ENABLE, &size,
                       &value, nullptr);
  log.expect(status == EFI_SUCCESS && size == 1 && value == HARNESS_TEST_SETTING_VALUE,
             "Get \"" HARNESS_TEST_SETTING_ID "\" reads 1 byte of value 1", status);
  if (status == EFI_SUCCESS) {
    Print("zelm-harness: info: Get returned size %u value %u\n", static_cast<UINT64>(size),
          static_cast<UINT64>(value));
  }

  size = 0;
  status = access->Get(access, HARNESS_TEST_SETTING_ID, nullptr, ZELM_SETTING_TYPE_ENABLE, &size,
                       nullptr, nullptr);
  log.expect(status == EFI_BUFFER_TOO_SMALL && size == 1, "Get with no buffer asks for 1 byte",
             status);

  size = sizeof(value);
  status = access->Get(access, "Harness.Test.Unknown", nullptr, ZELM_SETTING_TYPE_ENABLE, &size,
                       &value, nullptr);
  log.expect(status == EFI_NOT_FOUND, "Get of an unregistered id is EFI_NOT_FOUND", status);
}

} // namespace

extern "C" EFI_STATUS EFIAPI ZelmHarnessMain(EFI_HANDLE ImageHandle,
                                             EFI_SYSTEM_TABLE *SystemTable) {
  ConsoleInit(SystemTable);
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  // The boot manager arms a watchdog for every boot option; the runner's
  // own timeout bounds this run instead.
  bs->SetWatchdogTimer(0, 0, 0, nullptr);
  Print("\nzelm-harness: start\n");

  CheckLog log;
  BOOLEAN withRegionTable = !MarkerFileExists(ImageHandle, bs, noRegionHobMarker);
  RunKind run = FindRunKind(ImageHandle, bs);
  if (run != RunKind::Single) {
    Print("zelm-harness: info: end-to-end boot %u\n",
          static_cast<UINT64>(run == RunKind::FirstBoot ? 1 : 2));
  }
  EFI_STATUS status = AddPlatformHobs(SystemTable, withRegionTable);
  if (log.expect(status == EFI_SUCCESS, "platform HOBs in place", status) &&
      StartDriver(ImageHandle, bs, log)) {
    if (run == RunKind::FirstBoot) {
      RunFirstBoot(SystemTable, log);
    } else if (run == RunKind::SecondBoot) {
      RunSecondBoot(SystemTable, log);
      PrintPublishedVariables(SystemTable, log);
    } else {
      CheckStartupProtocols(bs, log);
      CheckPermissionStoreStart(SystemTable, log);
      CheckRegistration(bs, log);
      CheckAccess(bs, log);
      CheckAccessDecisions(bs, log);
    }
  }

  if (log.failures() == 0) {
    Print("zelm-harness: PASS\n");
  } else {
    Print("zelm-harness: FAIL %u\n", static_cast<UINT64>(log.failures()));
  }
  ExitQemu(SystemTable, log.failures() == 0);
}
