#include "tools/zelm-sim/SimBoot.h"

#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include <ctime>

#include "driver/Entry.h"
#include "host/Transport.h"
#include "settings/Registry.h"

namespace sim {

void PreparePlatform(host::Platform &platform) {
  // The firmware clock follows the host's (UTC).
  std::time_t now = std::time(nullptr);
  std::tm utc = {};
  gmtime_r(&now, &utc);
  platform.SetClock(static_cast<UINT16>(utc.tm_year + 1900), static_cast<UINT8>(utc.tm_mon + 1),
                    static_cast<UINT8>(utc.tm_mday), static_cast<UINT8>(utc.tm_hour),
                    static_cast<UINT8>(utc.tm_min), static_cast<UINT8>(utc.tm_sec));
  if (platform.FindVariable(u"Setup", gPlatformSetupVariableGuid) == nullptr) {
    // USB boot allowed (0x5C = 0), onboard network boot on (0x6F = 1, 0x64 = 10).
    std::vector<UINT8> setup(0x100, 0);
    setup[0x64] = 10;
    setup[0x6F] = 1;
    setup[0x80] = 4;
    platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7, setup);
  }
  if (platform.SmbiosRecords().empty()) {
    // System information: manufacturer, product name, version, serial number.
    std::vector<UINT8> formatted = {1, 2, 0, 3};
    formatted.resize(0x1B - 4, 0);
    platform.AddSmbiosRecord(1, formatted, {"Zelm Simulated Systems", "Zelm Sim 1", "SIM-0001"});
  }
}

SimBoot::SimBoot(host::Platform &platform, KeyStore &keys)
    : firmware_(std::make_unique<host::Firmware>(platform)),
      auth_(std::make_unique<SimAuthentication>(keys, platform.authentication.Enrolled())) {}

SimBoot::~SimBoot() {
  firmware_.reset();
}

bool SimBoot::Start() {
  firmware_->InstallSmbios();
  firmware_->InstallVariableLock();
  firmware_->InstallProtocol(gZelmAuthenticationProtocolGuid, auth_->Protocol());
  entry_ = firmware_->RunImage(ZelmDriverEntry);
  if (EFI_ERROR(entry_)) {
    return false;
  }
  firmware_->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  return true;
}

void SimBoot::Finish() {
  firmware_->ReadyToBoot();
  firmware_->RunHookPoint(gPlatformBootOrderLockHookGuid);
  firmware_->ExitBootServices();
}

ZELM_SETTING_ACCESS_PROTOCOL *SimBoot::Access() {
  return static_cast<ZELM_SETTING_ACCESS_PROTOCOL *>(
      firmware_->FindProtocol(gZelmSettingAccessProtocolGuid));
}

ZELM_SETTING_PERMISSION_PROTOCOL *SimBoot::Permission() {
  return static_cast<ZELM_SETTING_PERMISSION_PROTOCOL *>(
      firmware_->FindProtocol(gZelmSettingPermissionProtocolGuid));
}

ZELM_APPLY_PACKET_PROTOCOL *SimBoot::SettingsApply() {
  return static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(
      firmware_->FindProtocol(gZelmSettingsApplyProtocolGuid));
}

ZELM_APPLY_PACKET_PROTOCOL *SimBoot::PermissionsApply() {
  return static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(
      firmware_->FindProtocol(gZelmPermissionsApplyProtocolGuid));
}

GroupTable SimBoot::Groups() {
  GroupTable table;
  for (SettingGroup *group = FirstGroup(); group != nullptr; group = NextGroup(group)) {
    std::vector<std::string> members;
    for (GroupMember *m = FirstMember(group); m != nullptr; m = NextMember(group, m)) {
      members.emplace_back(m->Id);
    }
    table.emplace_back(group->Id, std::move(members));
  }
  return table;
}

std::optional<bool> SimBoot::MayChange(const std::string &id, UINT8 identity) {
  RegistryEntry *entry = FindProvider(id.c_str());
  ZELM_SETTING_ACCESS_PROTOCOL *access = Access();
  if (entry == nullptr || access == nullptr) {
    return std::nullopt;
  }
  ZELM_AUTH_TOKEN token = auth_->IssueToken(identity);
  // A size query: the flags are filled before the value is read.
  UINT8 value = 0;
  UINTN size = 0;
  UINT64 flags = 0;
  (void)access->Get(access, id.c_str(), &token, entry->Provider.Type, &size, &value, &flags);
  return (flags & ZELM_SETTING_FLAG_WRITABLE) != 0;
}

std::vector<UINT8> VariableByName(const host::Platform &platform, const std::u16string &name,
                                  const EFI_GUID &guid, UINT32 *attributes) {
  const host::Variable *variable = platform.FindVariable(name, guid);
  if (variable == nullptr) {
    return {};
  }
  if (attributes != nullptr) {
    *attributes = variable->attributes;
  }
  return variable->data;
}

const EFI_GUID *KnownGuid(const std::u16string &name) {
  struct Known {
    const char16_t *name;
    const EFI_GUID *guid;
  };
  static const Known kKnown[] = {
      {u"ZelmSettingsCurrent", &gZelmSettingsVariableGuid},
      {u"UEFISettingsCurrent", &gZelmSettingsVariableGuid},
      {u"ZelmPermissionCurrent", &gZelmPermissionVariableGuid},
      {u"ZelmDeviceIdentifier", &gZelmDeviceIdentifierVariableGuid},
      {u"_SPP", &gZelmSettingsManagerVariableGuid},
      {u"_SMID", &gZelmSettingsManagerVariableGuid},
      {u"Setup", &gPlatformSetupVariableGuid},
  };
  for (const Known &known : kKnown) {
    if (name == known.name) {
      return known.guid;
    }
  }
  for (host::PacketKind kind : {host::PacketKind::Settings, host::PacketKind::Permissions}) {
    if (name == host::MailboxName(kind) || name == host::ResultName(kind)) {
      return &host::PacketGuid(kind);
    }
  }
  return nullptr;
}

std::u16string Wide(const std::string &text) {
  return std::u16string(text.begin(), text.end());
}

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

} // namespace sim
