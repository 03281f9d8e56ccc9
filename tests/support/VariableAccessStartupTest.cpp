// Start-up of the platform variable path and its shut-down after a failed
// initialisation.
#include <platform/PlatformRegionTable.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/RegionTable.h"
#include "support/VariableAccess.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using platformtest::PlatformTest;

class VariableAccessStartupTest : public PlatformTest {
protected:
  // Makes the driver's initialisation fail: a settings-apply protocol is
  // already on the image handle.
  EFI_STATUS StartFailingDriver(EFI_MEMORY_TYPE codeType = EfiBootServicesCode) {
    image = firmware->LoadImage(codeType);
    EXPECT_EQ(firmware->InstallProtocol(gZelmSettingsApplyProtocolGuid, &blocker, &image),
              EFI_SUCCESS);
    return firmware->StartImage(image, ZelmDriverEntry);
  }
  int blocker = 0;
};

TEST_F(VariableAccessStartupTest, RegionTableComesFromTheHobElseThePcd) {
  struct Case {
    const char *name;
    bool hob;
    bool pcd;
    bool pcdProtocol;
  } cases[] = {
      {"HOB only", true, false, true},         {"PCD only", false, true, true},
      {"HOB wins over PCD", true, true, true}, {"PCD without the protocol", false, true, false},
      {"neither", false, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    const UINT8 *hobTable = memory.Hold(host::BuildRegionTable({}));
    const UINT8 *pcdTable = memory.Hold(host::BuildRegionTable({}));
    if (c.hob) {
      host::PublishRegionTableHob(platform, hobTable);
    }
    platform.SetPcd(gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN,
                    c.pcd ? host::PlatformMemory::Address(pcdTable) : 0);
    if (c.pcdProtocol) {
      firmware->InstallPcd();
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    const VOID *expected = c.hob ? hobTable : (c.pcd && c.pcdProtocol ? pcdTable : nullptr);
    EXPECT_EQ(GetPlatformRegionTable(), expected);
  }
}

TEST_F(VariableAccessStartupTest, AnAddressOutsideTheMemoryMapStartsTheDriverWithoutATable) {
  // A well-formed table that the memory map does not describe: only the
  // map may tell that an address can be read. Whole pages of its own, so
  // that no held block's page-aligned cover reaches it.
  std::vector<UINT8> image = host::BuildRegionTable({});
  std::unique_ptr<UINT8, decltype(&std::free)> unmapped(
      static_cast<UINT8 *>(std::aligned_alloc(4096, 4096)), &std::free);
  ASSERT_NE(unmapped, nullptr);
  std::memcpy(unmapped.get(), image.data(), image.size());
  const UINT64 unmappedTable = host::PlatformMemory::Address(unmapped.get());
  struct Case {
    const char *name;
    bool viaHob;
    UINT64 address;
  } cases[] = {
      {"PCD of OVMF's unknown token", false, 0xAFAFAFAFAFAFAFAFull},
      {"PCD of the first non-canonical address", false, 0x0000800000000000ull},
      {"PCD of a canonical address in no descriptor", false, 0x00007FFFFFFF0000ull},
      {"PCD of a table outside the map", false, unmappedTable},
      {"HOB of OVMF's unknown token", true, 0xAFAFAFAFAFAFAFAFull},
      {"HOB of a table outside the map", true, unmappedTable},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    // A readable table under the PCD as well: a rejected HOB must not
    // fall through to it.
    const UINT8 *pcdTable = memory.Hold(host::BuildRegionTable({}));
    if (c.viaHob) {
      std::vector<UINT8> data(sizeof(c.address));
      std::memcpy(data.data(), &c.address, sizeof(c.address));
      platform.AddGuidHob(gPlatformRegionTableHobGuid, data);
      host::PublishRegionTablePcd(platform, pcdTable);
    } else {
      platform.SetPcd(gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN, c.address);
    }
    firmware->InstallPcd();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    EXPECT_EQ(GetPlatformRegionTable(), nullptr);
    UINT32 count = 0;
    EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_NOT_FOUND);
    const UINT8 *region = nullptr;
    UINT64 size = 0;
    GetDefaultStoreRegion(&region, &size);
    EXPECT_EQ(region, nullptr);
    EXPECT_EQ(GetVariableRegionPointer(), nullptr);
  }
}

// The header alone being in the map proves nothing about what follows:
// the table's stated length and each region the driver reads must be
// inside the map too, or they are not read.
TEST_F(VariableAccessStartupTest, TableAndRegionsOutsideTheMemoryMapAreNotRead) {
  // Readable memory that the map does not describe, pages of its own.
  std::unique_ptr<UINT8, decltype(&std::free)> unmapped(
      static_cast<UINT8 *>(std::aligned_alloc(4096, 4096)), &std::free);
  ASSERT_NE(unmapped, nullptr);
  std::memset(unmapped.get(), 0, 4096);
  unmapped.get()[0x30] = 0x20;
  const UINT64 outside = host::PlatformMemory::Address(unmapped.get());

  // A stated length far past the table's block.
  platform.ClearHobs();
  Reboot();
  host::RegionTableLayout longTable;
  longTable.entries = {{gPlatformVariableRegionGuid, {}, 0x10, 0x40, 0}};
  longTable.length = 0x1000000;
  longTable.imageSize = 32 + 56;
  host::PublishRegionTableHob(platform, memory.Hold(host::BuildRegionTable(longTable)));
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(GetPlatformRegionTable(), nullptr);
  EXPECT_EQ(GetVariableRegionPointer(), nullptr);

  // A table inside the map whose regions are not.
  platform.ClearHobs();
  Reboot();
  host::RegionTableLayout layout;
  layout.entries = {{gPlatformDefaultStoreRegionGuid, {}, outside, 0x100, 0},
                    {gPlatformVariableRegionGuid, {}, outside + 0x200, 0x40, 0}};
  const UINT8 *table = memory.Hold(host::BuildRegionTable(layout));
  host::PublishRegionTableHob(platform, table);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(GetPlatformRegionTable(), table);
  const UINT8 *region = reinterpret_cast<const UINT8 *>(1);
  UINT64 size = 1;
  GetDefaultStoreRegion(&region, &size);
  EXPECT_EQ(region, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(GetVariableRegionPointer(), nullptr);
}

TEST_F(VariableAccessStartupTest, ExitBootServicesSwitchesTheRegionTableOffOutsideSmm) {
  for (bool inSmm : {false, true}) {
    SCOPED_TRACE(inSmm);
    platform.ClearHobs();
    Reboot();
    PublishRegions({});
    firmware->InstallSmmBase2(inSmm);
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    UINT32 count = 0;
    EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_SUCCESS);
    EXPECT_EQ(count, 1u);
    firmware->ExitBootServices();
    EXPECT_EQ(CountPlatformRegionEntries(&count), inSmm ? EFI_SUCCESS : EFI_UNSUPPORTED);
    EXPECT_EQ(PlatformBootServicesEnded(), inSmm ? FALSE : TRUE);
  }
}

TEST_F(VariableAccessStartupTest, RegionsAreTakenFromTheTable) {
  struct Case {
    const char *name;
    size_t variableRegionSize;
    bool pointerExpected;
  } cases[] = {
      {"variable region of 64 bytes", 64, true},
      {"variable region of exactly 0x32 bytes", 0x32, true},
      // Too short for the value at 0x30: reading it would leave the region.
      {"variable region of 0x31 bytes", 0x31, false},
      {"no variable region", 0, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    std::vector<UINT8> stores = SetupStore(0, {1, 2, 3});
    PublishRegions(stores, c.variableRegionSize, 0x123);
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    const UINT8 *region = nullptr;
    UINT64 size = 0;
    GetDefaultStoreRegion(&region, &size);
    EXPECT_EQ(region, storeRegion);
    EXPECT_EQ(size, stores.size());
    EXPECT_EQ(GetVariableRegionPointer(), c.pointerExpected ? variableRegion + 0x123 : nullptr);
    // Without the variable region the layer still works in DXE mode and
    // still learns that boot services ended.
    platform.PutVariable(u"Probe", gPlatformSettingVariableGuid, 7, std::vector<UINT8>{9});
    UINT8 value = 0;
    UINTN valueSize = 1;
    EXPECT_EQ(
        PlatformGetVariable(u"Probe", &gPlatformSettingVariableGuid, nullptr, &valueSize, &value),
        EFI_SUCCESS);
    EXPECT_EQ(value, 9);
    firmware->ExitBootServices();
    EXPECT_TRUE(PlatformBootServicesEnded());
  }
}

// A loaded-image protocol installed with no interface says nothing of the
// image's memory type: the image counts as a boot-services one.
TEST_F(VariableAccessStartupTest, LoadedImageWithoutInterfaceIsNoRuntimeImage) {
  PublishRegions(SetupStore(0, {1}));
  firmware->InstallPointerConversion();
  image = firmware->LoadImage(EfiRuntimeServicesCode);
  // Another protocol keeps the handle while its loaded image is replaced.
  static const EFI_GUID kKeeper = {0x5a1e0001, 0x0c0d, 0x4e1f, {1, 2, 3, 4, 5, 6, 7, 8}};
  static UINT8 keeper;
  ASSERT_EQ(firmware->InstallProtocol(kKeeper, &keeper, &image), EFI_SUCCESS);
  ASSERT_EQ(
      firmware->UninstallProtocol(image, gEfiLoadedImageProtocolGuid, firmware->LoadedImage(image)),
      EFI_SUCCESS);
  ASSERT_EQ(firmware->InstallProtocol(gEfiLoadedImageProtocolGuid, nullptr, &image), EFI_SUCCESS);
  ASSERT_EQ(firmware->StartImage(image, ZelmDriverEntry), EFI_SUCCESS);
  EXPECT_TRUE(firmware->PointerConversions().registered.empty());
}

TEST_F(VariableAccessStartupTest, PointersOfARuntimeImageGoToPointerConversion) {
  enum When { Never, BeforeStart, AfterStart };
  struct Case {
    const char *name;
    EFI_MEMORY_TYPE codeType;
    When service;
    size_t registered;
  } cases[] = {
      {"runtime image, service present", EfiRuntimeServicesCode, BeforeStart, 4},
      {"runtime image, service installed later", EfiRuntimeServicesCode, AfterStart, 4},
      {"runtime image, no service", EfiRuntimeServicesCode, Never, 0},
      {"boot-services image", EfiBootServicesCode, BeforeStart, 0},
      {"boot-services image, service later", EfiBootServicesCode, AfterStart, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    PublishRegions(SetupStore(0, {1}));
    if (c.service == BeforeStart) {
      firmware->InstallPointerConversion();
    }
    ASSERT_EQ(StartDriver(c.codeType), EFI_SUCCESS);
    size_t eventsAfterStart = firmware->OpenEventCount();
    if (c.service == AfterStart) {
      firmware->InstallPointerConversion();
      // The notification has done its work and closed itself.
      EXPECT_EQ(firmware->OpenEventCount(), eventsAfterStart - 1);
    }
    const host::PointerConversionLog &log = firmware->PointerConversions();
    EXPECT_EQ(log.registered.size(), c.registered);
    EXPECT_TRUE(log.unregistered.empty());
    if (c.registered == 4) {
      // The service pointer first, then the layer's three pointers; each
      // slot holds what it should.
      EXPECT_EQ(*log.registered[0], firmware->FindProtocol(gPlatformPointerConversionProtocolGuid));
      std::vector<VOID *> values;
      for (size_t i = 1; i < 4; i++) {
        values.push_back(*log.registered[i]);
      }
      EXPECT_EQ(values,
                (std::vector<VOID *>{firmware->RuntimeServices(), const_cast<UINT8 *>(storeRegion),
                                     const_cast<UINT8 *>(variableRegion) + 0x20}));
    }
  }
}

TEST_F(VariableAccessStartupTest, FailedInitialisationUndoesThePath) {
  enum Mode { Dxe, DxeRuntime, DxeRuntimeServiceLater, SmmWaiting, SmmReady };
  struct Case {
    const char *name;
    Mode mode;
  } cases[] = {
      {"DXE, boot-services image", Dxe},
      {"DXE, runtime image with the service", DxeRuntime},
      {"DXE, runtime image waiting for the service", DxeRuntimeServiceLater},
      {"SMM waiting for the variable service", SmmWaiting},
      {"SMM with the variable service", SmmReady},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    PublishRegions(SetupStore(0, {1}));
    platformtest::CountingSmmVariable smmVariable;
    if (c.mode == SmmWaiting || c.mode == SmmReady) {
      firmware->InstallSmmBase2(true);
    }
    if (c.mode == SmmReady) {
      ASSERT_EQ(firmware->InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &smmVariable.protocol),
                EFI_SUCCESS);
    }
    if (c.mode == DxeRuntime) {
      firmware->InstallPointerConversion();
    }
    size_t eventsBefore = firmware->OpenEventCount();
    size_t notifiesBefore = firmware->NotifyRegistrationCount();
    size_t smmNotifiesBefore = firmware->SmmNotifyRegistrationCount();
    bool runtime = c.mode == DxeRuntime || c.mode == DxeRuntimeServiceLater;
    EXPECT_EQ(StartFailingDriver(runtime ? EfiRuntimeServicesCode : EfiBootServicesCode),
              EFI_INVALID_PARAMETER);
    EXPECT_EQ(firmware->OpenEventCount(), eventsBefore);
    EXPECT_EQ(firmware->NotifyRegistrationCount(), notifiesBefore);
    EXPECT_EQ(firmware->SmmNotifyRegistrationCount(), smmNotifiesBefore);
    const host::PointerConversionLog &log = firmware->PointerConversions();
    EXPECT_TRUE(log.Active().empty());
    EXPECT_EQ(log.unregistered.size(), log.registered.size());
    if (c.mode == DxeRuntime) {
      EXPECT_EQ(log.registered.size(), 4u);
    }
    // A service that appears after the shut-down finds nobody listening.
    firmware->InstallPointerConversion();
    EXPECT_TRUE(log.Active().empty());
  }
}

} // namespace
