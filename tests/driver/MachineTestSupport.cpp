#include "tests/driver/MachineTestSupport.h"

#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include "driver/Entry.h"
#include "driver/Startup.h"
#include "host/TypicalMachine.h"
#include "permissions/PermissionCheck.h"
#include "settings/Registry.h"

namespace machinetest {

std::string SettingsPacket(UINT32 version, UINT32 lowest,
                           const std::vector<std::pair<std::string, std::string>> &settings) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>" +
                    std::to_string(version) + "</Version><LowestSupportedVersion>" +
                    std::to_string(lowest) + "</LowestSupportedVersion><Settings>";
  for (const auto &[id, value] : settings) {
    xml += "<Setting><Id>" + id + "</Id><Value>" + value + "</Value></Setting>";
  }
  return xml + "</Settings></SettingsPacket>";
}

std::string PermissionsPacket(UINT32 version, UINT32 lowest,
                              const std::vector<PermissionEntryText> &entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket><Version>" +
                    std::to_string(version) + "</Version><LowestSupportedVersion>" +
                    std::to_string(lowest) +
                    "</LowestSupportedVersion><Permissions Append=\"False\">";
  for (const PermissionEntryText &e : entries) {
    xml += "<Permission><Id>" + e.id + "</Id><PMask>" + std::to_string(e.pMask) +
           "</PMask><DMask>" + std::to_string(e.dMask) + "</DMask></Permission>";
  }
  return xml + "</Permissions></PermissionsPacket>";
}

MachineTest::MachineTest() {
  platform.SetClock(2026, 12, 10, 9, 30, 0);
  host::AddSetupBlock(platform);
  host::AddSystemInformation(platform, "Zelm Machines", "Model 1", "SN-0001");
  platform.authentication.Enrol(kLocal | kZtd | kOwner);
}

MachineTest::~MachineTest() {
  firmware.reset();
}

void MachineTest::StartBoot() {
  firmware = std::make_unique<host::Firmware>(platform);
  firmware->InstallSmbios();
  firmware->InstallVariableLock();
  auth = &firmware->InstallAuthentication();
  ASSERT_EQ(firmware->RunImage(ZelmDriverEntry), EFI_SUCCESS);
  firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
}

void MachineTest::DeliverPending() {
  for (host::PacketKind kind : {host::PacketKind::Settings, host::PacketKind::Permissions}) {
    const host::Variable *mailbox =
        platform.FindVariable(host::MailboxName(kind), host::PacketGuid(kind));
    if (mailbox == nullptr) {
      continue;
    }
    host::Delivery delivery(platform, kind, mailbox->data);
    if (kind == host::PacketKind::Settings) {
      (VOID) SettingsApply()->ApplyPacket(SettingsApply(), delivery.Record());
    } else {
      (VOID) host::RunPermissionsPacket(PermissionsApply(), delivery);
    }
  }
}

namespace {

// What an idle boot leaves: the platform's hook registry, which the driver
// publishes when no other driver has and which outlives it by design.
const std::multiset<size_t> &SharedBlocks() {
  static const std::multiset<size_t> blocks = [] {
    host::Platform idle;
    std::multiset<size_t> sizes;
    {
      host::Firmware boot(idle);
      (VOID) boot.RunImage(ZelmDriverEntry);
      DriverShutdown();
    }
    for (const host::PoolBlock &block : idle.LastBoot().leakedBlocks) {
      sizes.insert(block.size);
    }
    return sizes;
  }();
  return blocks;
}

} // namespace

void MachineTest::EndBoot() {
  // What the driver holds for the whole boot goes too, so any block left
  // is one that an operation lost.
  DriverShutdown();
  firmware.reset();
  auth = nullptr;
  const host::BootReport &report = platform.LastBoot();
  std::multiset<size_t> left;
  for (const host::PoolBlock &block : report.leakedBlocks) {
    left.insert(block.size);
  }
  EXPECT_EQ(left, SharedBlocks()) << "a block was lost";
  EXPECT_EQ(report.invalidFrees, 0u);
}

std::unique_ptr<host::Delivery> MachineTest::Deliver(host::PacketKind kind, const std::string &xml,
                                                     UINT8 signer) {
  return std::make_unique<host::Delivery>(platform, kind, host::SignPacket(xml, signer));
}

EFI_STATUS MachineTest::ApplySettings(const std::string &xml, UINT8 signer) {
  auto delivery = Deliver(host::PacketKind::Settings, xml, signer);
  return SettingsApply()->ApplyPacket(SettingsApply(), delivery->Record());
}

host::PermissionsOutcome MachineTest::ApplyPermissions(const std::string &xml, UINT8 signer) {
  auto delivery = Deliver(host::PacketKind::Permissions, xml, signer);
  return host::RunPermissionsPacket(PermissionsApply(), *delivery);
}

std::vector<UINT8> MachineTest::Bytes(std::u16string_view name, const EFI_GUID &guid) const {
  const host::Variable *v = platform.FindVariable(name, guid);
  return v == nullptr ? std::vector<UINT8>{} : v->data;
}

MachineState MachineTest::Observe() {
  MachineState state;
  state.spp = Bytes(u"_SPP", gZelmSettingsManagerVariableGuid);
  state.smid = Bytes(u"_SMID", gZelmSettingsManagerVariableGuid);
  std::vector<std::string> ids;
  for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
    std::vector<UINT8> value(0x4001);
    UINTN size = value.size();
    EFI_STATUS status = e->Provider.GetSettingValue(&e->Provider, &size, value.data());
    value.resize(EFI_ERROR(status) ? 0 : size);
    state.values[e->Provider.Id] = value;
    ids.push_back(e->Provider.Id);
  }
  for (SettingGroup *g = FirstGroup(); g != nullptr; g = NextGroup(g)) {
    ids.push_back(g->Id);
  }
  for (UINT8 identity : {kLocal, UINT8(0x02), kZtd, UINT8(0x10), kOwner}) {
    ZELM_AUTH_TOKEN token = Token(identity);
    state.allowed[identity];
    for (const std::string &id : ids) {
      BOOLEAN allowed = FALSE;
      if (!EFI_ERROR(HasPermission(id.c_str(), &token, &allowed)) && allowed) {
        state.allowed[identity].insert(id);
      }
    }
  }
  return state;
}

} // namespace machinetest
