// Boots in which nothing changed write no flash: every store and document
// is compared with what is stored before anything is written. And a
// variable service that leaves attributes unset on EFI_BUFFER_TOO_SMALL
// never makes the driver delete a variable of its own.
#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include <algorithm>

#include "tests/driver/MachineTestSupport.h"

namespace {

using machinetest::kLocal;
using machinetest::kOwner;
using machinetest::MachineTest;
using machinetest::PermissionsPacket;
using machinetest::SettingsPacket;

const std::string kSettings = SettingsPacket(2, 1,
                                             {{"Device.BootOrderLock.Enable", "Enabled"},
                                              {"Device.USBBoot.Enable", "Disabled"},
                                              {"Zelm3.AssetTag.String", "TAG-7"},
                                              {"Zelm.RecoveryUrl.String", "https://r.example"}});
const std::string kPermissions = PermissionsPacket(1, 1, {{"Device.USBBoot.Enable", 0x80, 0x80}});

class SteadyBootTest : public MachineTest {
public:
  // A boot as the platform runs it, to the exit of boot services.
  void FullBoot() {
    StartBoot();
    DeliverPending();
    ReadyToBoot();
    firmware->RunHookPoint(gPlatformBootOrderLockHookGuid);
    firmware->ExitBootServices();
    EndBoot();
  }
};

TEST_F(SteadyBootTest, ABootInWhichNothingChangedWritesNothing) {
  for (bool owner : {true, false}) {
    SCOPED_TRACE(owner ? "owner enrolled" : "no owner");
    if (!owner) {
      platform.authentication.Unenrol(kOwner);
    }
    StartBoot();
    if (owner) {
      ASSERT_EQ(ApplyPermissions(kPermissions, kOwner).complete, EFI_SUCCESS);
    }
    ASSERT_EQ(ApplySettings(kSettings, kLocal), EFI_SUCCESS);
    ReadyToBoot();
    EndBoot();
    platform.PutVariable(u"BootOrder", gEfiGlobalVariableGuid, 7, std::vector<UINT8>{1, 0});
    // One boot publishes what changed, a day later the next finds it all
    // current.
    platform.SetClock(2026, 12, 11, 9, 0, 0);
    FullBoot();
    platform.SetClock(2026, 12, 12, 9, 0, 0);
    platform.ClearSetVariableLog();
    FullBoot();
    for (const host::SetVariableCall &call : platform.SetVariableLog()) {
      ADD_FAILURE() << "steady boot wrote " << std::string(call.name.begin(), call.name.end());
    }
  }
}

TEST_F(SteadyBootTest, AttributesLeftUnsetOnBufferTooSmallDeleteNoVariableOfTheDriver) {
  platform.attributesOnBufferTooSmall = false;
  StartBoot();
  ASSERT_EQ(ApplyPermissions(kPermissions, kOwner).complete, EFI_SUCCESS);
  ASSERT_EQ(ApplySettings(kSettings, kLocal), EFI_SUCCESS);
  ReadyToBoot();
  EndBoot();
  platform.SetClock(2026, 12, 11, 9, 0, 0);
  FullBoot();
  // A second packet rewrites every value it holds.
  StartBoot();
  ASSERT_EQ(ApplySettings(SettingsPacket(3, 1,
                                         {{"Device.BootOrderLock.Enable", "Disabled"},
                                          {"Zelm3.AssetTag.String", "TAG-8"},
                                          {"Zelm.RecoveryUrl.String", "https://s.example"}}),
                          kLocal),
            EFI_SUCCESS);
  EndBoot();
  FullBoot();
  // Deletions the driver makes by design: the packet mailboxes and the
  // settings document a change withdraws.
  const std::vector<std::u16string> deletable = {host::MailboxName(host::PacketKind::Settings),
                                                 host::MailboxName(host::PacketKind::Permissions),
                                                 u"ZelmSettingsCurrent"};
  for (const host::SetVariableCall &call : platform.SetVariableLog()) {
    if (call.data.empty() &&
        std::find(deletable.begin(), deletable.end(), call.name) == deletable.end()) {
      ADD_FAILURE() << "deleted " << std::string(call.name.begin(), call.name.end());
    }
  }
  // The values read back as written: a probe's missing attributes are not
  // taken for a variable of other attributes.
  StartBoot();
  const machinetest::MachineState state = Observe();
  EndBoot();
  const std::string tag(state.values.at("Zelm3.AssetTag.String").begin(),
                        state.values.at("Zelm3.AssetTag.String").end());
  EXPECT_EQ(tag, std::string("TAG-8", 6)); // stored with its NUL
  EXPECT_EQ(state.values.at("Device.BootOrderLock.Enable"), std::vector<UINT8>{0});
  EXPECT_FALSE(Bytes(u"_SPP", gZelmSettingsManagerVariableGuid).empty());
  EXPECT_FALSE(Bytes(u"_SMID", gZelmSettingsManagerVariableGuid).empty());
}

} // namespace
