// A failed initialisation: the entry returns the error and nothing that
// points into the image stays behind.
#include <platform/PlatformGuids.h>

#include "driver/DriverState.h"
#include "driver/HookRegistry.h"
#include "host/Authentication.h"
#include "permissions/PermissionImage.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

class ShutdownTest : public DriverTest {
protected:
  // Protocols the driver installed on its image handle.
  std::vector<EFI_GUID> DriverProtocols() {
    std::vector<EFI_GUID> found;
    for (const host::ProtocolRecord &record : firmware->Protocols()) {
      if (record.handle == image && !host::GuidEqual(record.guid, gEfiLoadedImageProtocolGuid) &&
          record.interface != &blocker) {
        found.push_back(record.guid);
      }
    }
    return found;
  }
  int blocker = 0;
};

TEST_F(ShutdownTest, FailedInstallationReturnsItsErrorAndUndoesStartup) {
  image = firmware->LoadImage();
  // A settings-apply protocol already on the image handle makes the
  // all-or-nothing installation fail.
  ASSERT_EQ(firmware->InstallProtocol(gZelmSettingsApplyProtocolGuid, &blocker, &image),
            EFI_SUCCESS);
  size_t eventsBefore = firmware->OpenEventCount();
  size_t notifiesBefore = firmware->NotifyRegistrationCount();
  size_t poolMark = firmware->BootPool().Mark();

  EXPECT_EQ(firmware->StartImage(image, ZelmDriverEntry), EFI_INVALID_PARAMETER);
  // Only the published hook-registry list head and the boot-order lock's
  // hook point stay allocated: both belong to the platform's registry.
  std::vector<host::PoolBlock> live = firmware->BootPool().LiveSince(poolMark);
  ASSERT_EQ(live.size(), 2u);
  auto *head = static_cast<LIST_ENTRY *>(firmware->FindProtocol(gPlatformHookRegistryProtocolGuid));
  EXPECT_EQ(live[0].address, head);
  EXPECT_EQ(live[1].address, reinterpret_cast<UINT8 *>(head->ForwardLink) - 8);
  EXPECT_EQ(firmware->RunHookPoint(gPlatformBootOrderLockHookGuid), 0u);
  EXPECT_TRUE(DriverProtocols().empty());
  EXPECT_EQ(firmware->OpenEventCount(), eventsBefore);
  EXPECT_EQ(firmware->NotifyRegistrationCount(), notifiesBefore);
  // The hook registry's list head belongs to the platform and may be shared.
  EXPECT_NE(firmware->FindProtocol(gPlatformHookRegistryProtocolGuid), nullptr);
}

TEST_F(ShutdownTest, HookCallbackRecordIsUnlinkedAndFreed) {
  LIST_ENTRY *registry = firmware->InstallHookRegistry();
  image = firmware->LoadImage();
  ASSERT_EQ(firmware->InstallProtocol(gZelmSettingsApplyProtocolGuid, &blocker, &image),
            EFI_SUCCESS);
  size_t live = firmware->BootPool().Stats().liveCount;
  EXPECT_EQ(firmware->StartImage(image, ZelmDriverEntry), EFI_INVALID_PARAMETER);
  EXPECT_EQ(mDriver.hookCallback, nullptr);
  // The hook point's header stays, with every list empty again; the
  // action's record is gone.
  ASSERT_NE(registry->ForwardLink, registry);
  auto *header = reinterpret_cast<PLATFORM_HOOK_HEADER *>(
      reinterpret_cast<UINT8 *>(registry->ForwardLink) - 8);
  for (const LIST_ENTRY &list : header->FirstSet) {
    EXPECT_EQ(list.ForwardLink, &list);
  }
  EXPECT_EQ(firmware->BootPool().Stats().liveCount, live + 1);
  EXPECT_EQ(firmware->RunHookPoint(gPlatformBootOrderLockHookGuid), 0u);
}

// Every allocation of the start-up failing in turn, until a start-up in
// which none failed: the driver either starts or fails cleanly, never
// crashes, and a failure leaves no protocol, event or pool block. The
// authentication component is there with the owner enrolled, so the sweep
// runs through loading the owner's permissions, which a failure must never
// replace by the defaults.
TEST_F(ShutdownTest, PoolFailureAtEveryAllocationNeverLeavesHalfAStart) {
  platform.authentication.Enrol(ZELM_IDENTITY_OWNER);
  Reboot();
  firmware->InstallAuthentication();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  // The owner takes every right away from the local identity.
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  CurrentPermissionStore()->DefaultPMask = ZELM_IDENTITY_OWNER;
  CurrentPermissionStore()->Dirty = TRUE;
  ASSERT_EQ(SavePermissionStore(CurrentPermissionStore()), EFI_SUCCESS);
  const std::vector<UINT8> owners =
      platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->data;
  for (size_t n = 1;; n++) {
    SCOPED_TRACE(n);
    Reboot();
    firmware->InstallAuthentication();
    image = firmware->LoadImage();
    size_t eventsBefore = firmware->OpenEventCount();
    size_t poolMark = firmware->BootPool().Mark();
    size_t failed = firmware->BootPool().Stats().failedAllocations;
    firmware->BootPool().FailNth(n);
    EFI_STATUS status = firmware->StartImage(image, ZelmDriverEntry);
    firmware->BootPool().ClearFaults();
    bool injected = firmware->BootPool().Stats().failedAllocations != failed;
    EXPECT_EQ(platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->data, owners);
    if (EFI_ERROR(status)) {
      EXPECT_TRUE(DriverProtocols().empty());
      EXPECT_EQ(firmware->OpenEventCount(), eventsBefore);
      for (const host::PoolBlock &block : firmware->BootPool().LiveSince(poolMark)) {
        EXPECT_EQ(block.address, firmware->FindProtocol(gPlatformHookRegistryProtocolGuid));
      }
    } else {
      EXPECT_NE(Support(), nullptr);
      EXPECT_NE(StartAccess(), nullptr);
      // Either the owner's permissions or none (every question NOT_READY).
      if (CurrentPermissionStore() != nullptr) {
        EXPECT_EQ(CurrentPermissionStore()->DefaultPMask, ZELM_IDENTITY_OWNER);
      }
    }
    if (!injected) {
      EXPECT_EQ(status, EFI_SUCCESS);
      break;
    }
    ASSERT_LT(n, 200u);
  }
}

} // namespace
