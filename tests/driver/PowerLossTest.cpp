// Power cuts at every write of every commit path. From the k-th SetVariable
// of an operation on, nothing reaches the store (the k-th itself landing
// whole or not at all); the next boot delivers any mailbox still present,
// starts up and publishes. Whatever k, that boot finds every store and
// every setting as it was before or as it is after the operation, no result
// that claims success for changes not stored, published documents that
// match the stores, no lower version floor, no right that neither side
// gives, and no leak.
#include <zelm/ZelmGuids.h>

#include <cstring>
#include <functional>

#include "host/HostPlatform.h"
#include "permissions/CurrentPermissions.h"
#include "settings/CurrentSettings.h"
#include "settings/SettingsVariables.h"
#include "tests/driver/MachineTestSupport.h"

namespace {

using machinetest::kLocal;
using machinetest::kOwner;
using machinetest::MachineState;
using machinetest::MachineTest;
using machinetest::PermissionsPacket;
using machinetest::SettingsPacket;

using Step = std::function<void(MachineTest &)>;

const std::string kSettings = SettingsPacket(4, 2,
                                             {{"Device.USBBoot.Enable", "Disabled"},
                                              {"Zelm.BootOnboardNetwork.Enable", "Disabled"},
                                              {"Device.BootOrderLock.Enable", "Enabled"},
                                              {"Zelm3.AssetTag.String", "TAG-0042"},
                                              {"Zelm.RecoveryUrl.String", "https://r.example"}});
const std::string kFirstPermissions = PermissionsPacket(
    2, 1,
    {{"Device.BootOrderLock.Enable", 0x80, 0x80}, {"Zelm.BootOnboardNetwork.Enable", 0x81, 0x80}});
// Replace mode: drops the network entry, takes USB boot and the asset tag.
const std::string kNextPermissions = PermissionsPacket(3, 2,
                                                       {{"Device.BootOrderLock.Enable", 0x81, 0x80},
                                                        {"Device.USBBoot.Enable", 0x80, 0x80},
                                                        {"Zelm3.AssetTag.String", 0x81, 0x80}});

// Its last element's PMask is out of range: refused once the first two
// have changed the store.
const std::string kRefusedPermissions =
    PermissionsPacket(3, 2,
                      {{"Device.BootOrderLock.Enable", 0x81, 0x80},
                       {"Device.USBBoot.Enable", 0x80, 0x80},
                       {"Zelm3.AssetTag.String", 250, 0x80}});

std::vector<UINT8> Format3Spp() {
  std::vector<UINT8> image = {'S', 'B', 'C', 'Z', 3, 6, 0, 0, 0, 1, 0, 0, 0};
  image.resize(45, 0);
  image.insert(image.end(), {0x01, 0x80, 1, 0});
  const std::string id = "Device.USBBoot.Enable";
  image.insert(image.end(), {0x80, 0x80, static_cast<UINT8>(id.size() + 1)});
  image.insert(image.end(), id.begin(), id.end());
  image.push_back(0);
  return image;
}

struct Operation {
  const char *name;
  Step prepare;       // in a boot before, so the machine holds the state to change
  Step run;           // the operation, in a started boot; the cut counts from its start
  bool boot = false;  // the cut counts from the start of the boot itself
  bool ready = false; // the operation is the ready-to-boot publication
};

const Operation kOperations[] = {
    {"settings packet", nullptr, [](MachineTest &t) { (VOID) t.ApplySettings(kSettings, kLocal); }},
    {"permissions packet kept",
     [](MachineTest &t) { (VOID) t.ApplyPermissions(kFirstPermissions, kOwner); },
     [](MachineTest &t) { (VOID) t.ApplyPermissions(kNextPermissions, kOwner); }},
    // Refused after it changed the store in memory, then discarded, as a
    // transport does with a packet that failed (delivered again, it fails
    // again).
    {"permissions packet discarded",
     [](MachineTest &t) { (VOID) t.ApplyPermissions(kFirstPermissions, kOwner); },
     [](MachineTest &t) { (VOID) t.ApplyPermissions(kRefusedPermissions, kOwner); }},
    {"ResetPermissions",
     [](MachineTest &t) { (VOID) t.ApplyPermissions(kFirstPermissions, kOwner); },
     [](MachineTest &t) {
       ZELM_AUTH_TOKEN local = t.Token(kLocal);
       (VOID) t.Permission()->ResetPermissions(t.Permission(), &local);
     }},
    {"settings reset to defaults",
     [](MachineTest &t) { (VOID) t.ApplySettings(kSettings, kLocal); },
     [](MachineTest &t) {
       ZELM_AUTH_TOKEN local = t.Token(kLocal);
       (VOID) t.Access()->ResetToDefaults(t.Access(), &local);
     }},
    {"start-up creating \"_SPP\"",
     [](MachineTest &t) { t.platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid); },
     nullptr, true},
    {"start-up migrating \"_SPP\"",
     [](MachineTest &t) {
       t.platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, Format3Spp());
     },
     nullptr, true},
    {"ready-to-boot publication",
     [](MachineTest &t) {
       // A change after the last publication: the next ready-to-boot
       // writes both documents.
       (VOID) t.ApplySettings(kSettings, kLocal);
     },
     nullptr, false, true},
};

UINT32 Floor(const std::vector<UINT8> &store) {
  UINT32 lowest = 0;
  if (store.size() >= 13) {
    std::memcpy(&lowest, store.data() + 9, sizeof(lowest));
  }
  return lowest;
}

class PowerLossTest : public MachineTest {
protected:
  // Runs Operation once on Base with a cut at write K (0: none), up to
  // the end of its boot's ready-to-boot. Returns the SetVariable calls the
  // operation made from where the cut counts.
  size_t RunOperation(const Operation &op, const host::Platform::Store &base, size_t k,
                      bool lands) {
    platform.MutableVariables() = base;
    size_t first = platform.SetVariableLog().size();
    if (op.boot && k != 0) {
      platform.CutPowerAt(k, lands);
    }
    StartBoot();
    if (!op.boot) {
      first = platform.SetVariableLog().size();
      if (k != 0) {
        platform.CutPowerAt(k, lands);
      }
    }
    if (op.run) {
      op.run(*this);
    }
    ReadyToBoot();
    const size_t made = platform.SetVariableLog().size() - first;
    EndBoot();
    return made;
  }

  // The boot after: delivery, start-up, publication; its view.
  MachineState Recover() {
    StartBoot();
    DeliverPending();
    ReadyToBoot();
    MachineState state = Observe();
    ExpectPublishedMatchStores();
    EndBoot();
    return state;
  }

  void ExpectPublishedMatchStores() {
    CHAR8 *text = nullptr;
    UINTN size = 0;
    ASSERT_EQ(BuildCurrentPermissionsXml(&text, &size), EFI_SUCCESS);
    EXPECT_EQ(Bytes(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid),
              std::vector<UINT8>(text, text + size));
    firmware->BootServices()->FreePool(text);
    ASSERT_EQ(BuildCurrentSettings(&text, &size), EFI_SUCCESS);
    const std::vector<UINT8> settings(text, text + size);
    firmware->BootServices()->FreePool(text);
    EXPECT_EQ(Bytes(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid), settings);
    EXPECT_EQ(Bytes(u"UEFISettingsCurrent", gZelmSettingsVariableGuid), settings);
  }

  // The result variable of Kind claims success.
  bool ResultClaimsSuccess(host::PacketKind kind) {
    const std::vector<UINT8> result = Bytes(host::ResultName(kind), host::PacketGuid(kind));
    if (result.size() < 16) {
      return false;
    }
    EFI_STATUS status = 0;
    std::memcpy(&status, result.data() + 8, sizeof(status));
    return !EFI_ERROR(status);
  }

  void ExpectBeforeOrAfter(const MachineState &now, const MachineState &before,
                           const MachineState &after) {
    EXPECT_TRUE(now.spp == before.spp || now.spp == after.spp) << "\"_SPP\" is neither";
    EXPECT_TRUE(now.smid == before.smid || now.smid == after.smid) << "\"_SMID\" is neither";
    for (const auto &[id, value] : now.values) {
      EXPECT_TRUE(value == before.values.at(id) || value == after.values.at(id)) << id;
    }
    EXPECT_GE(Floor(now.spp), std::min(Floor(before.spp), Floor(after.spp)));
    EXPECT_GE(Floor(now.smid), std::min(Floor(before.smid), Floor(after.smid)));
    for (const auto &[identity, ids] : now.allowed) {
      for (const std::string &id : ids) {
        EXPECT_TRUE(before.allowed.at(identity).count(id) != 0 ||
                    after.allowed.at(identity).count(id) != 0)
            << "identity " << int(identity) << " gained " << id;
      }
    }
    if (ResultClaimsSuccess(host::PacketKind::Settings)) {
      EXPECT_EQ(now.values, after.values) << "settings result claims success";
      EXPECT_EQ(now.smid, after.smid);
    }
    if (ResultClaimsSuccess(host::PacketKind::Permissions)) {
      EXPECT_EQ(now.spp, after.spp) << "permissions result claims success";
    }
    for (host::PacketKind kind : {host::PacketKind::Settings, host::PacketKind::Permissions}) {
      EXPECT_EQ(platform.FindVariable(host::MailboxName(kind), host::PacketGuid(kind)), nullptr);
    }
  }
};

TEST_F(PowerLossTest, EveryCutOfEveryCommitPathLeavesBeforeOrAfter) {
  const host::Platform::Store initial = platform.Variables();
  for (const Operation &op : kOperations) {
    SCOPED_TRACE(op.name);
    // The machine before: prepared, then settled by a boot of its own.
    platform.MutableVariables() = initial;
    StartBoot();
    if (op.prepare && !op.boot) {
      op.prepare(*this);
    }
    if (!op.ready) {
      ReadyToBoot();
    }
    EndBoot();
    if (op.prepare && op.boot) {
      op.prepare(*this);
    }
    for (host::PacketKind kind : {host::PacketKind::Settings, host::PacketKind::Permissions}) {
      platform.EraseVariable(host::ResultName(kind), host::PacketGuid(kind));
    }
    const host::Platform::Store base = platform.Variables();
    const std::vector<UINT8> baseSpp = Bytes(u"_SPP", gZelmSettingsManagerVariableGuid);
    StartBoot();
    MachineState before = Observe();
    before.spp = baseSpp; // as stored, before start-up could migrate it
    EndBoot();

    const size_t writes = RunOperation(op, base, 0, false);
    const MachineState after = Recover();
    ASSERT_GT(writes, 0u);
    size_t cuts = 0;
    for (size_t k = 1; k <= writes; k++) {
      for (bool lands : {false, true}) {
        SCOPED_TRACE("cut at write " + std::to_string(k) + (lands ? ", landed" : ", lost"));
        RunOperation(op, base, k, lands);
        EXPECT_TRUE(platform.PowerWasCut());
        ExpectBeforeOrAfter(Recover(), before, after);
        cuts++;
        if (HasFailure()) {
          return;
        }
      }
    }
    std::printf("%-30s %3zu writes, %3zu cuts\n", op.name, writes, cuts);
  }
}

// What a cut before the mailbox deletion brings: the same packet at the
// next boot. Applied again, it leaves every store exactly as the first
// application did.
TEST_F(PowerLossTest, PacketsDeliveredAgainLeaveExactlyTheSameStores) {
  StartBoot();
  ASSERT_EQ(ApplyPermissions(kFirstPermissions, kOwner).complete, EFI_SUCCESS);
  ASSERT_EQ(ApplySettings(kSettings, kLocal), EFI_SUCCESS);
  const MachineState once = Observe();
  EndBoot();
  platform.SetClock(2026, 12, 11, 9, 0, 0);
  StartBoot();
  ASSERT_EQ(ApplyPermissions(kFirstPermissions, kOwner).complete, EFI_SUCCESS);
  ASSERT_EQ(ApplySettings(kSettings, kLocal), EFI_SUCCESS);
  const MachineState twice = Observe();
  EndBoot();
  EXPECT_EQ(twice.spp, once.spp);
  EXPECT_EQ(twice.smid, once.smid);
  EXPECT_EQ(twice.values, once.values);
  EXPECT_EQ(twice.allowed, once.allowed);
}

} // namespace
