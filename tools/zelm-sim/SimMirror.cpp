#include "tools/zelm-sim/SimMirror.h"

#include <platform/PlatformGuids.h>
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <cstring>
#include <filesystem>

#include "settings/Registry.h"
#include "settings/ValueConversion.h"
#include "support/Pool.h"
#include "tools/zelm-sim/SimApply.h"
#include "tools/zelm-sim/SimBoot.h"
#include "tools/zelm-sim/SimEfivarfs.h"
#include "tools/zelm-sim/SimXml.h"

namespace sim {

namespace {

constexpr UINT32 kPublishedAttributes = 7;
// "_SPP" as the driver stores it: format 4, at most 2048 bytes.
constexpr size_t kStoreHeaderSize = 49;
constexpr size_t kStoreMaxSize = 2048;
// Identity bits the permission store's "Setup" indicator byte follows.
constexpr size_t kIndicatorOffset = 0x80;

// Digits only, at most 10 of them, within 32 bits.
std::optional<UINT32> Decimal(const std::string &text) {
  if (text.empty() || text.size() > 10) {
    return std::nullopt;
  }
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 0xFFFFFFFFull ? std::optional<UINT32>(static_cast<UINT32>(value)) : std::nullopt;
}

std::optional<UINT8> Mask(const std::string &text) {
  std::optional<UINT32> value = text.size() <= 3 ? Decimal(text) : std::nullopt;
  return value && *value <= 255 ? std::optional<UINT8>(static_cast<UINT8>(*value)) : std::nullopt;
}

// Why the driver would not take Id as a setting id, or empty.
std::string IdProblem(const std::string &id) {
  if (id.empty()) {
    return "an empty id";
  }
  if (id[0] >= '0' && id[0] <= '9') {
    return "an id that begins with a digit, which the driver never loads";
  }
  if (id.size() > ZELM_SETTING_ID_MAX_LENGTH) {
    return "an id of " + std::to_string(id.size()) + " characters, over the driver's " +
           std::to_string(ZELM_SETTING_ID_MAX_LENGTH);
  }
  for (unsigned char c : id) {
    if (c < 0x20 || c >= 0x7F) {
      return "an id with a byte outside printable ASCII";
    }
  }
  return {};
}

std::string Quoted(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text.substr(0, 120)) {
    out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return out + (text.size() > 120 ? "...\"" : "\"");
}

// The text of one published document: attributes 7, one NUL at its end
// dropped, parsed whole with the driver's parser, root named Root.
bool ReadDocument(const std::string &dir, const char *name, const EFI_GUID &guid,
                  const char *rootName, bool required, std::optional<XmlElement> *root,
                  std::string *error) {
  const std::string file = dir + "/" + EfivarFileName(name, guid);
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
    if (required) {
      *error = dir + " has no " + name + " (" + EfivarFileName(name, guid) +
               "): not a machine running this firmware, or not its efivarfs";
      return false;
    }
    return true;
  }
  EfiVariable variable;
  if (!ReadEfivar(dir, name, guid, &variable, error)) {
    return false;
  }
  if (variable.attributes != kPublishedAttributes) {
    *error = file + ": attributes " + std::to_string(variable.attributes) +
             ", not 7: not a document the driver published";
    return false;
  }
  std::string text(variable.data.begin(), variable.data.end());
  if (!text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  // The driver writes the whole document; one cut short (the parser keeps
  // what it read) is no document of it.
  const std::string close = std::string("</") + rootName + ">";
  size_t end = text.find_last_not_of(" \t\r\n");
  const bool closed = end != std::string::npos && end + 1 >= close.size() &&
                      text.compare(end + 1 - close.size(), close.size(), close) == 0;
  bool complete = false;
  *root = ReadXml(text, &complete);
  if (!*root || !complete || !closed) {
    *error = file + ": the " + name + " document does not parse";
    return false;
  }
  if ((*root)->name != rootName) {
    *error = file + ": root element " + Quoted((*root)->name) + ", not " + rootName;
    return false;
  }
  return true;
}

bool ReadPermissionsDocument(const std::string &dir, const XmlElement &root,
                             PublishedPermissions *out, std::string *error) {
  const std::string where = dir + ": ZelmPermissionCurrent";
  std::optional<UINT8> pMask = Mask(root.Attribute("Default"));
  std::optional<UINT8> dMask = Mask(root.Attribute("Delegated"));
  if (!pMask || !dMask) {
    *error = where + ": the Default and Delegated masks are not decimal bytes";
    return false;
  }
  const XmlElement *list = root.Child("Permissions");
  if (list == nullptr) {
    *error = where + " has no Permissions element";
    return false;
  }
  out->defaultPMask = *pMask;
  out->defaultDMask = *dMask;
  size_t image = kStoreHeaderSize;
  size_t index = 0;
  for (const XmlElement &element : list->children) {
    if (element.name != "PermissionCurrent") {
      continue;
    }
    index++;
    const std::string id = element.ChildText("Id");
    const std::string name = "entry " + std::to_string(index) + " (" + Quoted(id) + ")";
    std::string problem = element.Child("Id") == nullptr ? "no Id" : IdProblem(id);
    if (!problem.empty()) {
      *error = where + ": " + name + " has " + problem;
      return false;
    }
    std::optional<UINT8> entryPMask = Mask(element.ChildText("PMask"));
    std::optional<UINT8> entryDMask =
        element.Child("DMask") != nullptr ? Mask(element.ChildText("DMask")) : UINT8{0};
    if (!entryPMask || !entryDMask) {
      *error = where + ": " + name + " has a PMask or DMask that is no decimal byte";
      return false;
    }
    if ((*entryDMask & 0x04) != 0) {
      *error = where + ": " + name + " carries the removal mark 0x04, which no stored entry has";
      return false;
    }
    image += 3 + id.size() + 1;
    out->entries.push_back({id, *entryPMask, *entryDMask});
  }
  if (image > kStoreMaxSize) {
    *error = where + ": " + std::to_string(out->entries.size()) + " entries take " +
             std::to_string(image) + " bytes, more than the driver's store holds (2048)";
    return false;
  }
  return true;
}

bool ReadSettingsDocument(const std::string &dir, const XmlElement &root, MachineState *machine,
                          std::string *error) {
  const std::string where = dir + ": ZelmSettingsCurrent";
  const XmlElement *list = root.Child("Settings");
  const XmlElement *lsv = root.Child("LSV");
  if (list == nullptr || lsv == nullptr) {
    *error = where + " lacks its Settings or LSV element";
    return false;
  }
  std::optional<UINT32> floor = Decimal(lsv->value);
  if (!floor) {
    *error = where + ": LSV " + Quoted(lsv->value) + " is no 32-bit decimal number";
    return false;
  }
  machine->settingsFloor = *floor;
  size_t index = 0;
  for (const XmlElement &element : list->children) {
    if (element.name != "SettingCurrent") {
      continue;
    }
    index++;
    const std::string id = element.ChildText("Id");
    std::string problem = element.Child("Id") == nullptr ? "no Id" : IdProblem(id);
    if (!problem.empty()) {
      *error =
          where + ": setting " + std::to_string(index) + " (" + Quoted(id) + ") has " + problem;
      return false;
    }
    machine->settings.emplace_back(id, element.ChildText("Value"));
  }
  return true;
}

void PutLe32(std::vector<UINT8> &bytes, size_t offset, UINT32 value) {
  for (int k = 0; k < 4; k++) {
    bytes[offset + k] = static_cast<UINT8>(value >> (8 * k));
  }
}

// "_SPP" in format 4 for these permissions and versions.
std::vector<UINT8> StoreImage(const PublishedPermissions &permissions, UINT32 floor) {
  std::vector<UINT8> image(kStoreHeaderSize, 0);
  std::memcpy(image.data(), "SBCZ", 4);
  image[4] = 4;
  PutLe32(image, 5, floor);
  PutLe32(image, 9, floor);
  image[45] = static_cast<UINT8>(permissions.defaultPMask);
  image[46] = static_cast<UINT8>(permissions.defaultDMask);
  image[47] = static_cast<UINT8>(permissions.entries.size());
  image[48] = static_cast<UINT8>(permissions.entries.size() >> 8);
  for (const PermissionEntry &entry : permissions.entries) {
    image.push_back(static_cast<UINT8>(entry.pMask));
    image.push_back(static_cast<UINT8>(entry.dMask));
    image.push_back(static_cast<UINT8>(entry.id.size() + 1));
    image.insert(image.end(), entry.id.begin(), entry.id.end());
    image.push_back(0);
  }
  return image;
}

// "_SMID": layout 1, both versions at the floor.
std::vector<UINT8> SettingsDataImage(UINT32 floor) {
  std::vector<UINT8> image(45, 0);
  std::memcpy(image.data(), "SMID", 4);
  image[4] = 1;
  PutLe32(image, 5, floor);
  PutLe32(image, 9, floor);
  return image;
}

std::string DeviceValue(const MachineState &machine, const char *id) {
  for (const auto &[name, value] : machine.device) {
    if (name == id) {
      return value;
    }
  }
  return {};
}

} // namespace

bool ReadMachine(const std::string &dir, MachineState *machine, std::string *error) {
  machine->dir = dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    *error = "cannot read the efivarfs directory " + dir + ": not a directory";
    return false;
  }
  std::optional<XmlElement> permissions, settings, device;
  if (!ReadDocument(dir, "ZelmPermissionCurrent", gZelmPermissionVariableGuid,
                    "CurrentPermissionsPacket", true, &permissions, error) ||
      !ReadDocument(dir, "ZelmSettingsCurrent", gZelmSettingsVariableGuid, "CurrentSettingsPacket",
                    true, &settings, error) ||
      !ReadDocument(dir, "ZelmDeviceIdentifier", gZelmDeviceIdentifierVariableGuid,
                    "UEFIDeviceIdentifierPacket", false, &device, error)) {
    return false;
  }
  if (!ReadPermissionsDocument(dir, *permissions, &machine->permissions, error) ||
      !ReadSettingsDocument(dir, *settings, machine, error)) {
    return false;
  }
  if (device) {
    const XmlElement *list = device->Child("Identifiers");
    for (const XmlElement &e : list != nullptr ? list->children : std::vector<XmlElement>()) {
      if (e.name == "Identifier") {
        machine->device.emplace_back(e.ChildText("Id"), e.ChildText("Value"));
      }
    }
  }
  return true;
}

bool BuildMirror(const MachineState &machine, const MirrorOptions &options,
                 host::Platform &platform, KeyStore &keys, MirrorReport *report,
                 std::string *error) {
  if (!machine.device.empty()) {
    std::vector<UINT8> strings;
    for (const char *id : {"Manufacturer", "Product Name", "Serial Number"}) {
      std::string value = DeviceValue(machine, id);
      strings.insert(strings.end(), value.begin(), value.end());
      strings.push_back(0);
    }
    platform.PutVariable(kSimDeviceName, kSimVariableGuid, 3, strings);
  }
  PreparePlatform(platform);
  // First a boot under a store that lets every identity change everything,
  // with every key enrolled so that the driver loads that store: the values
  // go in through the driver's own conversion and providers.
  PublishedPermissions open;
  open.defaultPMask = 0xFF;
  open.defaultDMask = 0xFF;
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, StoreImage(open, 0));
  platform.authentication.Enrol(0xFF);
  std::vector<StandIn> standIns;
  {
    SimBoot boot(platform, keys);
    if (!boot.Start()) {
      *error = "the driver did not start on the mirror of " + machine.dir;
      return false;
    }
    ZELM_AUTH_TOKEN token = boot.Authentication().IssueToken(0xFF);
    for (const auto &[id, value] : machine.settings) {
      RegistryEntry *entry = FindProvider(id.c_str());
      if (entry == nullptr) {
        if (FindGroup(id.c_str()) == nullptr) {
          standIns.push_back({id, value});
        }
        continue; // a group's value follows from its members
      }
      CHAR8 *shown = nullptr;
      (void)SettingValueToText(&entry->Provider, FALSE, &shown); // no text: nothing to compare
      PoolPtr<CHAR8> current(shown);
      if (current && value == current.get()) {
        continue;
      }
      if (entry->Provider.Type == ZELM_SETTING_TYPE_PASSWORD) {
        // Only whether a password is set is published, never the password.
        report->notes.push_back(id + ": " + Quoted(value) +
                                " cannot be mirrored (the password itself is not published); "
                                "the mirror has " +
                                Quoted(current ? current.get() : ""));
        continue;
      }
      UINT64 flags = 0;
      EFI_STATUS status = SetSettingFromText(&entry->Provider, value.c_str(), &token, &flags);
      if (EFI_ERROR(status)) {
        *error = machine.dir + ": ZelmSettingsCurrent: the value " + Quoted(value) + " of " + id +
                 " is refused by its provider (" + StatusName(status) + ")";
        return false;
      }
    }
    for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
      const std::string id = e->Provider.Id;
      bool published = false;
      for (const auto &setting : machine.settings) {
        published = published || setting.first == id;
      }
      if (!published) {
        report->unpublished.push_back(id);
        report->notes.push_back(id + ": not published by the machine (no value there, or no such "
                                     "setting); the mirror decides it with the simulator's value");
      }
    }
    boot.Finish();
  }
  for (const StandIn &s : standIns) {
    report->standIns.push_back(s.id);
  }
  PutStandIns(platform, standIns);
  // The machine's own store and floors; its documents are written again by
  // the next boot, from them.
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3,
                       StoreImage(machine.permissions, options.permissionsFloor));
  if (machine.settingsFloor > 0) {
    platform.PutVariable(u"_SMID", gZelmSettingsManagerVariableGuid, 3,
                         SettingsDataImage(machine.settingsFloor));
  } else {
    platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
  }
  for (const char16_t *name : {u"ZelmPermissionCurrent", u"ZelmSettingsCurrent",
                               u"UEFISettingsCurrent", u"ZelmDeviceIdentifier"}) {
    platform.EraseVariable(name, *KnownGuid(name));
  }
  // The "Setup" byte that follows whether the local identity may change
  // settings without an entry, as the driver keeps it when it saves.
  if (const host::Variable *setup = platform.FindVariable(u"Setup", gPlatformSetupVariableGuid)) {
    std::vector<UINT8> bytes = setup->data;
    if (bytes.size() > kIndicatorOffset) {
      const bool localAbsent = (machine.permissions.defaultPMask & ZELM_IDENTITY_LOCAL) == 0;
      if (localAbsent && bytes[kIndicatorOffset] != 2) {
        bytes[kIndicatorOffset] = 2;
      } else if (!localAbsent && bytes[kIndicatorOffset] == 2) {
        bytes[kIndicatorOffset] = 4;
      }
      platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, setup->attributes, bytes);
    }
  }
  platform.authentication.Unenrol(0xFF);
  platform.authentication.Enrol(static_cast<UINT8>(ZELM_IDENTITY_LOCAL | options.enrolled));
  if ((options.enrolled & ZELM_IDENTITY_OWNER) == 0 &&
      (machine.permissions.entries.size() != 4 || machine.permissions.defaultPMask != 1 ||
       machine.permissions.defaultDMask != 0x80)) {
    report->notes.push_back(
        "no owner key enrolled: the driver replaces these permissions by its "
        "defaults at every start (give --owner-enrolled if the machine has one)");
  }
  return true;
}

} // namespace sim
