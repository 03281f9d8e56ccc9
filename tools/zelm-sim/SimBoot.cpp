#include "tools/zelm-sim/SimBoot.h"

#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/ZelmGuids.h>

#include <cstring>
#include <ctime>

#include "driver/Entry.h"
#include "host/Transport.h"
#include "settings/Registry.h"

namespace sim {

const EFI_GUID kSimVariableGuid = {
    0x6a1c5e2d, 0x93b4, 0x4f7e, {0x8d, 0x21, 0x5c, 0x0b, 0x7e, 0x44, 0xa9, 0x13}};

namespace {

// NUL-terminated texts one after the other.
std::vector<std::string> SplitTexts(const std::vector<UINT8> &bytes) {
  std::vector<std::string> out;
  std::string current;
  for (UINT8 b : bytes) {
    if (b == 0) {
      out.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(b));
    }
  }
  return out;
}

} // namespace

std::vector<StandIn> StandInsOf(const host::Platform &platform) {
  std::vector<StandIn> out;
  const host::Variable *variable = platform.FindVariable(kSimStandInName, kSimVariableGuid);
  if (variable == nullptr) {
    return out;
  }
  std::vector<std::string> texts = SplitTexts(variable->data);
  for (size_t i = 0; i + 1 < texts.size(); i += 2) {
    out.push_back({texts[i], texts[i + 1]});
  }
  return out;
}

void PutStandIns(host::Platform &platform, const std::vector<StandIn> &standIns) {
  if (standIns.empty()) {
    platform.EraseVariable(kSimStandInName, kSimVariableGuid);
    return;
  }
  std::vector<UINT8> bytes;
  for (const StandIn &s : standIns) {
    bytes.insert(bytes.end(), s.id.begin(), s.id.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), s.value.begin(), s.value.end());
    bytes.push_back(0);
  }
  platform.PutVariable(kSimStandInName, kSimVariableGuid, 3, bytes);
}

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
    std::vector<std::string> device = {"Zelm Simulated Systems", "Zelm Sim 1", "SIM-0001"};
    if (const host::Variable *v = platform.FindVariable(kSimDeviceName, kSimVariableGuid)) {
      std::vector<std::string> texts = SplitTexts(v->data);
      if (texts.size() == 3) {
        device = texts;
      }
    }
    // An empty string is string number 0, as SMBIOS writes it.
    std::vector<std::string> strings;
    for (size_t k = 0; k < 3; k++) {
      if (!device[k].empty()) {
        strings.push_back(device[k]);
      }
    }
    UINT8 next = 1;
    for (size_t k = 0; k < 3; k++) {
      formatted[k == 2 ? 3 : k] = device[k].empty() ? 0 : next++;
    }
    platform.AddSmbiosRecord(1, formatted, strings);
  }
}

SimBoot::SimBoot(host::Platform &platform, KeyStore &keys)
    : firmware_(std::make_unique<host::Firmware>(platform)),
      auth_(std::make_unique<SimAuthentication>(keys, platform.authentication.Enrolled())) {}

namespace {
// The boot whose stand-ins are registered: one boot runs at a time, and the
// registry hands providers its own copy of the record, so the record's Id
// is what leads back to the stand-in.
SimBoot *gStandInBoot = nullptr;
} // namespace

SimBoot::~SimBoot() {
  firmware_.reset();
  if (gStandInBoot == this) {
    gStandInBoot = nullptr;
  }
}

SimBoot::StandInProvider *SimBoot::FindStandIn(const ZELM_SETTING_PROVIDER *provider) {
  if (gStandInBoot == nullptr || provider == nullptr) {
    return nullptr;
  }
  for (const auto &standIn : gStandInBoot->standIns_) {
    if (standIn->provider.Id == provider->Id) {
      return standIn.get();
    }
  }
  return nullptr;
}

bool SimBoot::Start() {
  firmware_->InstallSmbios();
  firmware_->InstallVariableLock();
  firmware_->InstallProtocol(gZelmAuthenticationProtocolGuid, auth_->Protocol());
  entry_ = firmware_->RunImage(ZelmDriverEntry);
  if (EFI_ERROR(entry_)) {
    return false;
  }
  RegisterStandIns();
  firmware_->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  return true;
}

void SimBoot::Finish() {
  firmware_->ReadyToBoot();
  firmware_->RunHookPoint(gPlatformBootOrderLockHookGuid);
  firmware_->ExitBootServices();
}

void SimBoot::RegisterStandIns() {
  auto *support = static_cast<ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *>(
      firmware_->FindProtocol(gZelmSettingProviderSupportProtocolGuid));
  if (support == nullptr) {
    return;
  }
  gStandInBoot = this;
  for (StandIn &setting : StandInsOf(firmware_->GetPlatform())) {
    auto standIn = std::make_unique<StandInProvider>();
    standIn->boot = this;
    standIn->setting = std::move(setting);
    standIn->provider.Id = standIn->setting.id.c_str();
    standIn->provider.Type = ZELM_SETTING_TYPE_STRING;
    standIn->provider.Flags = 0;
    standIn->provider.SetSettingValue = StandInSet;
    standIn->provider.GetSettingValue = StandInGet;
    standIn->provider.GetDefaultValue = StandInGetDefault;
    standIn->provider.SetDefaultValue = StandInSetDefault;
    // The registry keeps the Id pointer: the text lives as long as this
    // boot.
    if (!EFI_ERROR(support->RegisterProvider(support, &standIn->provider))) {
      standIns_.push_back(std::move(standIn));
    }
  }
}

void SimBoot::SaveStandIns() {
  std::vector<StandIn> settings;
  for (const auto &standIn : standIns_) {
    settings.push_back(standIn->setting);
  }
  PutStandIns(firmware_->GetPlatform(), settings);
}

std::vector<std::string> SimBoot::StandInIds() const {
  std::vector<std::string> ids;
  for (const auto &standIn : standIns_) {
    ids.push_back(standIn->setting.id);
  }
  return ids;
}

EFI_STATUS EFIAPI SimBoot::StandInSet(const ZELM_SETTING_PROVIDER *This, UINTN ValueSize,
                                      const VOID *Value, UINT64 *Flags) {
  StandInProvider *standIn = FindStandIn(This);
  if (standIn == nullptr || Value == nullptr || ValueSize == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const char *text = static_cast<const char *>(Value);
  std::string value(text, strnlen(text, ValueSize));
  if (Flags != nullptr && value == standIn->setting.value) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
  }
  standIn->setting.value = value;
  standIn->boot->SaveStandIns();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimBoot::StandInGet(const ZELM_SETTING_PROVIDER *This, UINTN *ValueSize,
                                      VOID *Value) {
  StandInProvider *standIn = FindStandIn(This);
  if (standIn == nullptr || ValueSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const std::string &value = standIn->setting.value;
  if (*ValueSize < value.size() + 1 || Value == nullptr) {
    *ValueSize = value.size() + 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Value, value.c_str(), value.size() + 1);
  *ValueSize = value.size() + 1;
  return EFI_SUCCESS;
}

// Another driver's default is not published, so a stand-in has none.
EFI_STATUS EFIAPI SimBoot::StandInGetDefault(const ZELM_SETTING_PROVIDER *, UINTN *, VOID *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimBoot::StandInSetDefault(const ZELM_SETTING_PROVIDER *) {
  return EFI_UNSUPPORTED;
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
