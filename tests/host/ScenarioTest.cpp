// A small image driven the way the driver is: start-up notifications, an
// all-or-nothing install on the image handle, a one-shot ready-to-boot
// handler, and a reboot over the same store.
#include <uefi/UefiGuids.h>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

EFI_GUID gSupport = kGuidA;
EFI_GUID gApply = kGuidB;
EFI_GUID gStore = kGuidC;
int gSupportInterface, gApplyInterface;

struct ImageState {
  EFI_SYSTEM_TABLE *st = nullptr;
  EFI_HANDLE image = nullptr;
  EFI_EVENT providerEvent = nullptr;
  int providerRegistrations = 0;
  int readyToBootRuns = 0;
};
ImageState gImage;

// Runs once at its creation (protocol absent) and again when it appears.
VOID EFIAPI OnSupport(EFI_EVENT Event, VOID *) {
  VOID *support = nullptr;
  if (gImage.st->BootServices->LocateProtocol(&gSupport, nullptr, &support) != EFI_SUCCESS) {
    return;
  }
  gImage.providerRegistrations++;
  gImage.st->BootServices->CloseEvent(Event);
}

VOID EFIAPI OnReadyToBoot(EFI_EVENT Event, VOID *) {
  gImage.readyToBootRuns++;
  UINT32 boots = 0;
  UINTN size = sizeof(boots);
  gImage.st->RuntimeServices->GetVariable(const_cast<CHAR16 *>(u"Boots"), &gStore, nullptr, &size,
                                          &boots);
  boots++;
  gImage.st->RuntimeServices->SetVariable(const_cast<CHAR16 *>(u"Boots"), &gStore, 3, sizeof(boots),
                                          &boots);
  gImage.st->BootServices->CloseEvent(Event);
}

EFI_STATUS EFIAPI ImageEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImage = ImageState{};
  gImage.st = SystemTable;
  gImage.image = ImageHandle;
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  VOID *registration = nullptr;
  bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnSupport, nullptr, &gImage.providerEvent);
  bs->RegisterProtocolNotify(&gSupport, gImage.providerEvent, &registration);
  bs->SignalEvent(gImage.providerEvent);
  EFI_STATUS status = bs->InstallMultipleProtocolInterfaces(
      &ImageHandle, &gSupport, &gSupportInterface, &gApply, &gApplyInterface, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_EVENT ready = nullptr;
  return bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnReadyToBoot, ImageHandle,
                           &gEfiEventReadyToBootGuid, &ready);
}

TEST(ScenarioTest, StartSignalRebootAndNoLeak) {
  host::Platform platform;
  for (UINT32 boot = 1; boot <= 2; boot++) {
    host::Firmware firmware(platform);
    EFI_HANDLE image = nullptr;
    ASSERT_EQ(firmware.RunImage(ImageEntry, EfiBootServicesCode, &image), EFI_SUCCESS);
    EXPECT_EQ(gImage.providerRegistrations, 1);
    EXPECT_TRUE(firmware.HasProtocol(image, gApply));
    firmware.ReadyToBoot();
    firmware.ReadyToBoot();
    EXPECT_EQ(gImage.readyToBootRuns, 1);
    EXPECT_EQ(firmware.OpenEventCount(), 0u);
    EXPECT_EQ(firmware.BootPool().Stats().liveCount, 0u);
    const host::Variable *boots = platform.FindVariable(u"Boots", gStore);
    ASSERT_NE(boots, nullptr);
    EXPECT_EQ(boots->data[0], boot);
  }
  EXPECT_TRUE(platform.LastBoot().leakedBlocks.empty());
}

TEST(ScenarioTest, FailedInstallIsReturnedAndLeavesNothing) {
  host::Platform platform;
  host::Firmware firmware(platform);
  EFI_HANDLE image = firmware.LoadImage();
  // The apply protocol is already on the image handle: the whole install fails.
  ASSERT_EQ(firmware.InstallProtocol(gApply, &gApplyInterface, &image), EFI_SUCCESS);
  EXPECT_EQ(firmware.StartImage(image, ImageEntry), EFI_INVALID_PARAMETER);
  EXPECT_FALSE(firmware.HasProtocol(image, gSupport));
  EXPECT_EQ(gImage.providerRegistrations, 0);
  EXPECT_EQ(firmware.OpenEventCount(), 1u); // the provider event is still waiting
}

} // namespace
} // namespace hosttest
