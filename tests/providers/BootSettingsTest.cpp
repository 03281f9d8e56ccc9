// The boot-order settings: values read from "Setup" and "BootOrderLock",
// the exact bytes each Set writes, defaults, and the lock action at its
// hook point.
#include <uefi/UefiGuids.h>

#include "host/Authentication.h"
#include "host/Transport.h"
#include "providers/BootOrderLock.h"
#include "providers/BootSettings.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using platformtest::PlatformTest;

enum Which { kLock = 0, kUsb = 1, kNetwork = 2 };

const ZELM_SETTING_PROVIDER *Record(Which which) {
  return &mBootProviders[which];
}

// "Setup" of 0x100 bytes: USB boot disabled (0x5C = 1), network off.
std::vector<UINT8> SetupWith(size_t size = 0x100, UINT8 usbDisabled = 1, UINT8 network = 0) {
  std::vector<UINT8> setup(size, 0x33);
  if (size > 0x5C) {
    setup[0x5C] = usbDisabled;
  }
  if (size > 0x6F) {
    setup[0x64] = 4;
    setup[0x6F] = network;
  }
  return setup;
}

class BootSettingsTest : public PlatformTest {
protected:
  // Defaults: USB boot allowed, network boot on.
  void Start(bool defaults = true) {
    if (defaults) {
      std::vector<UINT8> block(0x100, 0);
      block[0x6F] = 1;
      PublishRegions(SetupStore(0, block));
      host::InstallDefaultStoreProtocol(*firmware, 0);
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  }
  void PutLock(std::vector<UINT8> bytes, UINT32 attributes = 3) {
    platform.PutVariable(u"BootOrderLock", gBootOrderLockVariableGuid, attributes, bytes);
  }
  const host::Variable *Lock() const {
    return platform.FindVariable(u"BootOrderLock", gBootOrderLockVariableGuid);
  }
  EFI_STATUS Get(Which which, UINT8 *value) {
    UINTN size = 1;
    return BootSettingGet(Record(which), &size, value);
  }
};

TEST_F(BootSettingsTest, GetReadsTheStoredValueOrFallsBackToTheDefault) {
  struct Row {
    const char *name;
    Which which;
    std::vector<UINT8> setup; // empty: no "Setup"
    std::vector<UINT8> lock;  // empty: no "BootOrderLock"
    UINT32 lockAttributes;
    EFI_STATUS status;
    UINT8 value;
  };
  const Row rows[] = {
      {"lock absent is off", kLock, SetupWith(), {}, 3, EFI_SUCCESS, 0},
      {"lock on", kLock, SetupWith(), {7}, 3, EFI_SUCCESS, 1},
      {"lock off", kLock, SetupWith(), {0}, 3, EFI_SUCCESS, 0},
      {"lock of two bytes falls back", kLock, SetupWith(), {1, 1}, 3, EFI_SUCCESS, 0},
      {"lock planted with attributes 7 is absent", kLock, SetupWith(), {1}, 7, EFI_SUCCESS, 0},
      {"USB stored disabled", kUsb, SetupWith(0x100, 1), {}, 3, EFI_SUCCESS, 0},
      {"USB any non-zero is disabled", kUsb, SetupWith(0x100, 9), {}, 3, EFI_SUCCESS, 0},
      {"USB stored allowed", kUsb, SetupWith(0x100, 0), {}, 3, EFI_SUCCESS, 1},
      {"network on", kNetwork, SetupWith(0x100, 1, 5), {}, 3, EFI_SUCCESS, 1},
      {"network off", kNetwork, SetupWith(0x100, 1, 0), {}, 3, EFI_SUCCESS, 0},
      {"no Setup: default", kNetwork, {}, {}, 3, EFI_SUCCESS, 1},
      {"Setup too short: default", kNetwork, SetupWith(0x6F), {}, 3, EFI_SUCCESS, 1},
      {"Setup ending at the USB byte: default", kUsb, SetupWith(0x5C), {}, 3, EFI_SUCCESS, 1},
  };
  Start();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"Setup", gPlatformSetupVariableGuid);
    platform.EraseVariable(u"BootOrderLock", gBootOrderLockVariableGuid);
    if (!row.setup.empty()) {
      PutSetup(row.setup);
    }
    if (!row.lock.empty()) {
      PutLock(row.lock, row.lockAttributes);
    }
    UINT8 value = 0xEE;
    EXPECT_EQ(Get(row.which, &value), row.status);
    EXPECT_EQ(value, row.value);
  }
}

// A "Setup" copy that cannot be allocated leaves the stored value unknown:
// the default must not pass for it while boot services run. After exit no
// read allocates, and the default is the answer.
TEST_F(BootSettingsTest, GetWithoutPoolForTheStoredValueGivesNoDefault) {
  Start();
  PutSetup(SetupWith(0x100, 1, 0)); // both differ from their defaults
  for (Which which : {kUsb, kNetwork}) {
    SCOPED_TRACE(which);
    firmware->BootPool().FailNth(1);
    UINT8 value = 0xEE;
    EXPECT_EQ(Get(which, &value), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(value, 0xEE);
    firmware->BootPool().ClearFaults();
    EXPECT_EQ(Get(which, &value), EFI_SUCCESS);
    EXPECT_EQ(value, 0);
    UINTN size = 1;
    ASSERT_EQ(BootSettingGetDefault(Record(which), &size, &value), EFI_SUCCESS); // caches it
    EXPECT_EQ(value, 1);
  }
  firmware->ExitBootServices();
  for (Which which : {kUsb, kNetwork}) {
    UINT8 value = 0xEE;
    EXPECT_EQ(Get(which, &value), EFI_SUCCESS);
    EXPECT_EQ(value, 1);
  }
}

TEST_F(BootSettingsTest, ReadRefusals) {
  Start(/*defaults=*/false);
  PutSetup(SetupWith(0x40));
  UINT8 value = 0;
  UINTN size = 0;
  EXPECT_EQ(BootSettingGet(Record(kUsb), &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 1u);
  size = 1;
  EXPECT_EQ(BootSettingGet(Record(kUsb), &size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BootSettingGet(nullptr, &size, &value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BootSettingGet(Record(kUsb), nullptr, &value), EFI_INVALID_PARAMETER);
  ZELM_SETTING_PROVIDER other = *Record(kUsb);
  other.Id = "Device.USBBoot.EnableX";
  EXPECT_EQ(BootSettingGet(&other, &size, &value), EFI_NOT_FOUND);
  other = *Record(kUsb);
  other.Type = ZELM_SETTING_TYPE_STRING;
  EXPECT_EQ(BootSettingGet(&other, &size, &value), EFI_INVALID_PARAMETER);
  // No default block: the fallback has nothing to give.
  EXPECT_EQ(BootSettingGet(Record(kUsb), &size, &value), EFI_NOT_FOUND);
  EXPECT_EQ(BootSettingGetDefault(Record(kNetwork), &size, &value), EFI_NOT_FOUND);
  EXPECT_EQ(BootSettingGetDefault(Record(kLock), &size, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0);
}

// After exit boot services no boot service may be called: with no default
// block read before, the fallback answers NOT_FOUND at once instead of
// looking for the default-store protocol.
TEST_F(BootSettingsTest, FallbackAfterExitCallsNoBootService) {
  Start();
  firmware->ExitBootServices();
  for (Which which : {kUsb, kNetwork}) {
    SCOPED_TRACE(which);
    UINT8 value = 0xEE;
    EXPECT_EQ(Get(which, &value), EFI_NOT_FOUND);
    UINTN size = 1;
    EXPECT_EQ(BootSettingGetDefault(Record(which), &size, &value), EFI_NOT_FOUND);
  }
  EXPECT_EQ(firmware->BootServiceCallsAfterExit(), 0u);
}

TEST_F(BootSettingsTest, SetWritesExactlyItsBytes) {
  struct Row {
    const char *name;
    Which which;
    std::vector<UINT8> setupBefore; // empty: no "Setup"
    std::vector<UINT8> value;
    EFI_STATUS status;
    UINT64 flags;
    std::vector<UINT8> setupAfter; // empty: "Setup" as before
    std::vector<UINT8> lockAfter;  // empty: no "BootOrderLock"
  };
  std::vector<UINT8> usbAllowed = SetupWith(0x100, 0);
  std::vector<UINT8> networkOn = SetupWith(0x100, 1, 1);
  networkOn[0x64] = 10;
  const Row rows[] = {
      {"lock on", kLock, SetupWith(), {1}, EFI_SUCCESS, 0, {}, {1}},
      {"lock byte 5 stored as 1", kLock, SetupWith(), {5}, EFI_SUCCESS, 0, {}, {1}},
      {"lock off while absent is unchanged",
       kLock,
       SetupWith(),
       {0},
       EFI_SUCCESS,
       ZELM_SETTING_FLAG_UNCHANGED,
       {},
       {}},
      {"USB allowed", kUsb, SetupWith(), {1}, EFI_SUCCESS, 0, usbAllowed, {}},
      {"USB byte 2 disables", kUsb, usbAllowed, {2}, EFI_SUCCESS, 0, SetupWith(), {}},
      {"USB unchanged", kUsb, SetupWith(), {0}, EFI_SUCCESS, ZELM_SETTING_FLAG_UNCHANGED, {}, {}},
      {"network on with its companion", kNetwork, SetupWith(), {1}, EFI_SUCCESS, 0, networkOn, {}},
      {"network off with its companion", kNetwork, networkOn, {0}, EFI_SUCCESS, 0, SetupWith(), {}},
      {"two bytes, first equal: unchanged",
       kUsb,
       SetupWith(),
       {0, 1},
       EFI_SUCCESS,
       ZELM_SETTING_FLAG_UNCHANGED,
       {},
       {}},
      {"two bytes, first differs", kUsb, SetupWith(), {1, 1}, EFI_INVALID_PARAMETER, 0, {}, {}},
      {"no bytes", kUsb, SetupWith(), {}, EFI_INVALID_PARAMETER, 0, {}, {}},
      {"over 0x4000 bytes",
       kUsb,
       SetupWith(),
       std::vector<UINT8>(0x4001, 0),
       EFI_INVALID_PARAMETER,
       0,
       {},
       {}},
      // Get falls back to the default (on); the block actually read is too
      // short, so nothing is unchanged and nothing is written.
      {"Setup too short for the network byte",
       kNetwork,
       SetupWith(0x6F),
       {1},
       EFI_BAD_BUFFER_SIZE,
       0,
       {},
       {}},
      {"no Setup", kUsb, {}, {1}, EFI_NOT_FOUND, 0, {}, {}},
  };
  Start();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"Setup", gPlatformSetupVariableGuid);
    platform.EraseVariable(u"BootOrderLock", gBootOrderLockVariableGuid);
    if (!row.setupBefore.empty()) {
      PutSetup(row.setupBefore);
    }
    platform.ClearSetVariableLog();
    UINT64 flags = 0;
    EXPECT_EQ(BootSettingSet(
                  Record(row.which), row.value.size(),
                  row.value.empty() ? static_cast<const VOID *>(&flags) : row.value.data(), &flags),
              row.status);
    EXPECT_EQ(flags, row.flags);
    EXPECT_EQ(StoredSetup(), row.setupAfter.empty() ? row.setupBefore : row.setupAfter);
    if (row.lockAfter.empty()) {
      EXPECT_EQ(Lock(), nullptr);
    } else {
      ASSERT_NE(Lock(), nullptr);
      EXPECT_EQ(Lock()->data, row.lockAfter);
      EXPECT_EQ(Lock()->attributes, 3u);
    }
    if (row.flags != 0 || EFI_ERROR(row.status)) {
      EXPECT_TRUE(platform.SetVariableLog().empty()) << "wrote for an unchanged or refused value";
    }
  }
}

TEST_F(BootSettingsTest, PlantedLockVariableIsReplacedNotTrusted) {
  Start();
  PutLock({1}, 7);
  UINT8 value = 0xEE;
  ASSERT_EQ(Get(kLock, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0);
  UINT64 flags = 0;
  UINT8 on = 1;
  // Not "unchanged": the planted byte is not the setting.
  EXPECT_EQ(BootSettingSet(Record(kLock), 1, &on, &flags), EFI_SUCCESS);
  EXPECT_EQ(flags, 0u);
  ASSERT_NE(Lock(), nullptr);
  EXPECT_EQ(Lock()->attributes, 3u);
  EXPECT_EQ(Lock()->data, std::vector<UINT8>{1});
  // A deletion the firmware refuses is returned.
  PutLock({0}, 7);
  platform.setVariableHook = [](const host::SetVariableCall &call) {
    return call.data.empty() ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
  };
  EXPECT_EQ(BootSettingSet(Record(kLock), 1, &on, &flags), EFI_WRITE_PROTECTED);
  platform.setVariableHook = nullptr;
  EXPECT_EQ(Lock()->attributes, 7u);
}

TEST_F(BootSettingsTest, SetDefaultWritesTheDefault) {
  Start();
  PutSetup(SetupWith());
  PutLock({1});
  for (Which which : {kLock, kUsb, kNetwork}) {
    EXPECT_EQ(BootSettingSetDefault(Record(which)), EFI_SUCCESS);
  }
  EXPECT_EQ(Lock()->data, std::vector<UINT8>{0});
  std::vector<UINT8> expected = SetupWith(0x100, 0, 1);
  expected[0x64] = 10;
  EXPECT_EQ(StoredSetup(), expected);
  EXPECT_EQ(BootSettingSetDefault(nullptr), EFI_INVALID_PARAMETER);
}

class BootOrderLockTest : public PlatformTest {
protected:
  void SetUp() override {
    platform.authentication.Enrol(ZELM_IDENTITY_LOCAL);
    firmware->InstallAuthentication();
    firmware->InstallVariableLock();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
    // Options 1 and 0x000A, then an odd byte that is no option.
    platform.PutVariable(u"BootOrder", gEfiGlobalVariableGuid, 7,
                         std::vector<UINT8>{0x01, 0x00, 0x0A, 0x00, 0x0B});
    platform.PutVariable(u"BootNext", gEfiGlobalVariableGuid, 7, std::vector<UINT8>{0x0A, 0});
    for (const char16_t *name : {u"Boot0001", u"Boot000A", u"Boot000B"}) {
      platform.PutVariable(name, gEfiGlobalVariableGuid, 7, std::vector<UINT8>{1, 2, 3});
    }
  }
  // Sets the lock with a settings packet signed by the local identity.
  void SetLockByPacket(const char *value) {
    auto *apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmSettingsApplyProtocolGuid);
    std::string xml = std::string("<?xml version=\"1.0\"?><SettingsPacket><Version>1</Version>"
                                  "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
                                  "<Setting><Id>Device.BootOrderLock.Enable</Id><Value>") +
                      value + "</Value></Setting></Settings></SettingsPacket>";
    host::Delivery delivery(platform, host::PacketKind::Settings,
                            host::SignPacket(xml, ZELM_IDENTITY_LOCAL));
    ASSERT_EQ(apply->ApplyPacket(apply, delivery.Record()), EFI_SUCCESS);
  }
  EFI_STATUS Write(const char16_t *name) {
    UINT8 data = 9;
    return firmware->RuntimeServices()->SetVariable(
        const_cast<CHAR16 *>(reinterpret_cast<const CHAR16 *>(name)), &gEfiGlobalVariableGuid, 7, 1,
        &data);
  }
};

TEST_F(BootOrderLockTest, EnabledLockFreezesTheBootOrderAtTheHookPoint) {
  SetLockByPacket("Enabled");
  EXPECT_EQ(firmware->RunHookPoint(gPlatformBootOrderLockHookGuid), 1u);
  EXPECT_EQ(platform.FindVariable(u"BootNext", gEfiGlobalVariableGuid), nullptr);
  for (const char16_t *name : {u"BootOrder", u"BootNext", u"Boot0001", u"Boot000A"}) {
    EXPECT_TRUE(firmware->IsVariableLocked(name, gEfiGlobalVariableGuid));
    EXPECT_EQ(Write(name), EFI_WRITE_PROTECTED);
  }
  // The odd last byte of "BootOrder" names no option.
  EXPECT_FALSE(firmware->IsVariableLocked(u"Boot000B", gEfiGlobalVariableGuid));
  EXPECT_EQ(Write(u"Boot000B"), EFI_SUCCESS);
}

TEST_F(BootOrderLockTest, DisabledLockLocksNothing) {
  SetLockByPacket("Disabled");
  EXPECT_EQ(firmware->RunHookPoint(gPlatformBootOrderLockHookGuid), 1u);
  EXPECT_NE(platform.FindVariable(u"BootNext", gEfiGlobalVariableGuid), nullptr);
  for (const char16_t *name : {u"BootOrder", u"BootNext", u"Boot0001"}) {
    EXPECT_FALSE(firmware->IsVariableLocked(name, gEfiGlobalVariableGuid));
    EXPECT_EQ(Write(name), EFI_SUCCESS);
  }
  EXPECT_EQ(LockBootOrderVariables(), EFI_SUCCESS);
}

TEST_F(BootOrderLockTest, ActionStopsEarlyWithoutTheLockProtocolOrABootOrder) {
  SetLockByPacket("Enabled");
  platform.EraseVariable(u"BootOrder", gEfiGlobalVariableGuid);
  EXPECT_EQ(LockBootOrderVariables(), EFI_NOT_FOUND);
  // "BootNext" was still deleted and locked before "BootOrder" was read.
  EXPECT_EQ(platform.FindVariable(u"BootNext", gEfiGlobalVariableGuid), nullptr);
  EXPECT_TRUE(firmware->IsVariableLocked(u"BootNext", gEfiGlobalVariableGuid));
}

} // namespace
