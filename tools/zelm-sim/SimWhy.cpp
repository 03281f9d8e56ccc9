#include "tools/zelm-sim/SimWhy.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value & 0xFF);
  return text;
}

// A decimal mask as the driver writes it (0 to 255), or nothing.
std::optional<unsigned> Mask(const std::string &text) {
  if (text.empty() || text.size() > 3) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= 255 ? std::optional<unsigned>(value) : std::nullopt;
}

} // namespace

const PermissionEntry *PublishedPermissions::Find(const std::string &id) const {
  for (const PermissionEntry &entry : entries) {
    if (entry.id == id) {
      return &entry;
    }
  }
  return nullptr;
}

std::optional<PublishedPermissions> ReadPermissions(const std::string &document) {
  std::optional<XmlElement> root = ReadXml(document);
  if (!root || root->name != "CurrentPermissionsPacket") {
    return std::nullopt;
  }
  std::optional<unsigned> pMask = Mask(root->Attribute("Default"));
  std::optional<unsigned> dMask = Mask(root->Attribute("Delegated"));
  const XmlElement *list = root->Child("Permissions");
  if (!pMask || !dMask || list == nullptr) {
    return std::nullopt;
  }
  PublishedPermissions permissions;
  permissions.defaultPMask = *pMask;
  permissions.defaultDMask = *dMask;
  for (const XmlElement &element : list->children) {
    if (element.name != "PermissionCurrent") {
      continue;
    }
    std::optional<unsigned> entryPMask = Mask(element.ChildText("PMask"));
    std::optional<unsigned> entryDMask =
        element.Child("DMask") != nullptr ? Mask(element.ChildText("DMask")) : 0u;
    if (element.Child("Id") == nullptr || !entryPMask || !entryDMask) {
      return std::nullopt; // a document the driver did not write
    }
    permissions.entries.push_back({element.ChildText("Id"), *entryPMask, *entryDMask});
  }
  return permissions;
}

const std::vector<std::string> *GroupMembers(const GroupTable &groups, const std::string &id) {
  for (const auto &[group, members] : groups) {
    if (group == id) {
      return &members;
    }
  }
  return nullptr;
}

Explanation ExplainSetting(const PublishedPermissions &permissions, const GroupTable &groups,
                           const std::string &id, unsigned identity) {
  std::vector<std::string> allowing;
  for (const auto &[group, members] : groups) {
    bool member = false;
    for (const std::string &m : members) {
      member = member || m == id;
    }
    const PermissionEntry *entry = member ? permissions.Find(group) : nullptr;
    if (entry == nullptr) {
      continue;
    }
    if ((entry->pMask & identity) == 0) {
      return {false, "the entry of its group " + group + " (PMask " + Hex2(entry->pMask) +
                         ") refuses; every group of a setting must allow"};
    }
    allowing.push_back(group + " (PMask " + Hex2(entry->pMask) + ")");
  }
  if (!allowing.empty()) {
    std::string list;
    for (const std::string &g : allowing) {
      list += (list.empty() ? "" : ", ") + g;
    }
    return {true, std::string(allowing.size() == 1 ? "the entry of its group "
                                                   : "the entries of "
                                                     "its groups ") +
                      list + " allow" + (allowing.size() == 1 ? "s" : "") +
                      "; its own entry is not consulted"};
  }
  const PermissionEntry *own = permissions.Find(id);
  if (own != nullptr) {
    return {(own->pMask & identity) != 0, "its own permission entry (PMask " + Hex2(own->pMask) +
                                              ", DMask " + Hex2(own->dMask) + ") decides"};
  }
  return {(permissions.defaultPMask & identity) != 0,
          "no entry: the default PMask " + Hex2(permissions.defaultPMask) + " decides"};
}

} // namespace sim
