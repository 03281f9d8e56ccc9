// Provider registration: refusals, the registry record bytes, and the
// formation of setting groups.
#include <cstring>
#include <string>
#include <vector>

#include "settings/Registry.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {

using settingstest::FakeGet;
using settingstest::FakeProvider;
using settingstest::FakeSet;
using settingstest::SettingsTest;

class RegistryTest : public SettingsTest {};

TEST_F(RegistryTest, InvalidRegistrationsAreRefused) {
  static const std::string k96(96, 'a');
  static const std::string k97(97, 'b');
  ASSERT_EQ(Register(FakeProvider("Test.First")), EFI_SUCCESS);
  struct Row {
    const char *name;
    ZELM_SETTING_PROVIDER provider;
    EFI_STATUS status;
  };
  ZELM_SETTING_PROVIDER noSet = FakeProvider("Test.NoSet");
  noSet.SetSettingValue = nullptr;
  ZELM_SETTING_PROVIDER noGet = FakeProvider("Test.NoGet");
  noGet.GetSettingValue = nullptr;
  ZELM_SETTING_PROVIDER noGetDefault = FakeProvider("Test.NoGetDefault");
  noGetDefault.GetDefaultValue = nullptr;
  ZELM_SETTING_PROVIDER noSetDefault = FakeProvider("Test.NoSetDefault");
  noSetDefault.SetDefaultValue = nullptr;
  ZELM_SETTING_PROVIDER resetWithoutSetDefault =
      FakeProvider("Test.Reset", 0, ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS);
  resetWithoutSetDefault.SetDefaultValue = nullptr;
  const Row rows[] = {
      {"NULL id", FakeProvider(nullptr), EFI_INVALID_PARAMETER},
      {"leading digit", FakeProvider("1Test.Digit"), EFI_INVALID_PARAMETER},
      {"duplicate", FakeProvider("Test.First"), EFI_INVALID_PARAMETER},
      {"97 characters", FakeProvider(k97.c_str()), EFI_INVALID_PARAMETER},
      {"no SetSettingValue", noSet, EFI_INVALID_PARAMETER},
      {"no GetSettingValue", noGet, EFI_INVALID_PARAMETER},
      {"no GetDefaultValue", noGetDefault, EFI_INVALID_PARAMETER},
      {"reset flag without SetDefaultValue", resetWithoutSetDefault, EFI_INVALID_PARAMETER},
      {"no SetDefaultValue, not reset", noSetDefault, EFI_SUCCESS},
      {"96 characters", FakeProvider(k96.c_str()), EFI_SUCCESS},
      {"case differs", FakeProvider("test.first"), EFI_SUCCESS},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Register(row.provider), row.status);
  }
  ZELM_SETTING_PROVIDER provider = FakeProvider("Test.Other");
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL foreign = *support;
  EXPECT_EQ(support->RegisterProvider(&foreign, &provider), EFI_INVALID_PARAMETER);
  EXPECT_EQ(support->RegisterProvider(nullptr, &provider), EFI_INVALID_PARAMETER);
  EXPECT_EQ(support->RegisterProvider(support, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EntriesCopyTheRecordAndKeepRegistrationOrder) {
  ZELM_SETTING_PROVIDER provider =
      FakeProvider("Test.Copy", ZELM_SETTING_TYPE_STRING, 0x0001000000000001ull);
  ASSERT_EQ(Register(provider), EFI_SUCCESS);
  ASSERT_EQ(Register(FakeProvider("Test.Later")), EFI_SUCCESS);
  provider.Type = ZELM_SETTING_TYPE_BINARY; // the registry holds its own copy

  RegistryEntry *entry = FindProvider("Test.Copy");
  ASSERT_NE(entry, nullptr);
  const auto *bytes = reinterpret_cast<const UINT8 *>(entry);
  EXPECT_EQ(0, memcmp(bytes, "KVSP\0\0\0\0", 8));
  ZELM_SETTING_PROVIDER expected =
      FakeProvider("Test.Copy", ZELM_SETTING_TYPE_STRING, 0x0001000000000001ull);
  EXPECT_EQ(0, memcmp(bytes + 24, &expected, sizeof(expected)));
  EXPECT_TRUE(firmware->BootPool().Owns(entry));

  std::vector<std::string> order;
  for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
    order.push_back(e->Provider.Id);
  }
  // The driver's own providers first, in their start-up order.
  const std::vector<std::string> expectedOrder = {"Device.BootOrderLock.Enable",
                                                  "Device.USBBoot.Enable",
                                                  "Zelm.BootOnboardNetwork.Enable",
                                                  "Device.Password.Password",
                                                  "Zelm.RecoveryUrl.String",
                                                  "Zelm.RecoveryBootstrapUrl.String",
                                                  "Zelm.HttpsCert.Binary",
                                                  "Zelm.RegistrationId.String",
                                                  "Zelm.TenantId.String",
                                                  "MDM.FriendlyName.String",
                                                  "MDM.TenantName.String",
                                                  "Device.CpuAndIoVirtualization.Enable",
                                                  "Zelm3.OnboardXpbt.Enable",
                                                  "Zelm3.AssetTag.String",
                                                  "Test.Copy",
                                                  "Test.Later"};
  EXPECT_EQ(order, expectedOrder);
}

TEST_F(RegistryTest, GroupsFormAsTheirMembersRegister) {
  EXPECT_EQ(FindGroup("Zelm.OnboardCameras.Enable"), nullptr);
  AddEnable("Device.RearCamera.Enable", 1);
  AddEnable("Device.FrontCamera.Enable", 1);
  // The driver's own USB boot provider is the external-media group's member.

  SettingGroup *cameras = FindGroup("Zelm.OnboardCameras.Enable");
  ASSERT_NE(cameras, nullptr);
  EXPECT_EQ(0, memcmp(cameras, "KVSG\0\0\0\0", 8));
  std::vector<std::string> members;
  for (GroupMember *m = FirstMember(cameras); m != nullptr; m = NextMember(cameras, m)) {
    EXPECT_EQ(0, memcmp(m, "KVSM\0\0\0\0", 8));
    members.push_back(m->Id);
  }
  const std::vector<std::string> expected = {"Device.RearCamera.Enable",
                                             "Device.FrontCamera.Enable"};
  EXPECT_EQ(members, expected);
  // Members keep the provider's own identifier pointer.
  EXPECT_EQ(FirstMember(cameras)->Id, FindProvider("Device.RearCamera.Enable")->Provider.Id);

  EXPECT_EQ(NextGroupContaining("Device.USBBoot.Enable", nullptr),
            FindGroup("Zelm.BootExternalMedia.Enable"));
  EXPECT_EQ(
      NextGroupContaining("Device.USBBoot.Enable", FindGroup("Zelm.BootExternalMedia.Enable")),
      nullptr);
  EXPECT_EQ(NextGroupContaining("Device.IRCamera.Enable", nullptr), nullptr);
}

TEST_F(RegistryTest, PoolExhaustionDuringRegistrationLeavesNoPartialRecord) {
  // Allocations: 1 the entry, 2 the group, 3 its member record.
  struct Row {
    size_t failing;
    EFI_STATUS status;
    bool registered;
  };
  // A provider outside its group would escape the group's permission entry,
  // so failing to join it fails the registration.
  const Row rows[] = {{1, EFI_OUT_OF_RESOURCES, false},
                      {2, EFI_OUT_OF_RESOURCES, false},
                      {3, EFI_OUT_OF_RESOURCES, false},
                      {4, EFI_SUCCESS, true}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.failing);
    Reboot();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    support = Support();
    firmware->BootPool().FailNth(row.failing);
    EXPECT_EQ(Register(FakeProvider("Device.IRCamera.Enable")), row.status);
    firmware->BootPool().ClearFaults();
    EXPECT_EQ(FindProvider("Device.IRCamera.Enable") != nullptr, row.registered);
    // A group exists only with a member.
    EXPECT_EQ(FindGroup("Zelm.OnboardCameras.Enable") != nullptr, row.registered);
  }
}

// Pool failing at each allocation of a registration: the provider is either
// registered inside every group that names it, or not at all.
TEST_F(RegistryTest, RegistrationThatCannotJoinItsGroupFailsWhole) {
  ASSERT_EQ(Register(FakeProvider("Device.FrontCamera.Enable")), EFI_SUCCESS);
  for (const char *id : {"Device.IRCamera.Enable", "Device.RearCamera.Enable"}) {
    for (size_t n = 1;; n++) {
      SCOPED_TRACE(std::string(id) + " allocation " + std::to_string(n));
      size_t live = firmware->BootPool().Stats().liveCount;
      size_t failed = firmware->BootPool().Stats().failedAllocations;
      firmware->BootPool().FailNth(n);
      EFI_STATUS status = Register(FakeProvider(id));
      firmware->BootPool().ClearFaults();
      if (firmware->BootPool().Stats().failedAllocations == failed) {
        ASSERT_EQ(status, EFI_SUCCESS);
        break;
      }
      EXPECT_EQ(status, EFI_OUT_OF_RESOURCES);
      EXPECT_EQ(FindProvider(id), nullptr);
      EXPECT_EQ(NextGroupContaining(id, nullptr), nullptr);
      EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    }
    ASSERT_NE(FindProvider(id), nullptr);
    EXPECT_NE(NextGroupContaining(id, nullptr), nullptr);
  }
  SettingGroup *cameras = FindGroup("Zelm.OnboardCameras.Enable");
  ASSERT_NE(cameras, nullptr);
  std::vector<std::string> members;
  for (GroupMember *m = FirstMember(cameras); m != nullptr; m = NextMember(cameras, m)) {
    members.push_back(m->Id);
  }
  EXPECT_EQ(members,
            (std::vector<std::string>{"Device.FrontCamera.Enable", "Device.IRCamera.Enable",
                                      "Device.RearCamera.Enable"}));
}

} // namespace
