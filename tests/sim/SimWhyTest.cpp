// The permission rule as zelm-sim tells it from the published documents,
// against the driver's rule: groups first (every group with an entry must
// allow), then the setting's own entry, then the default mask.
#include "tools/zelm-sim/SimWhy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sim::ExplainSetting;
using sim::GroupTable;
using sim::PublishedPermissions;

constexpr unsigned kLocal = 0x01;
constexpr unsigned kOwner = 0x80;

// A setting in two groups, as the driver's rule must handle it even though
// today's group table puts no setting in two.
const GroupTable kTwoGroups = {
    {"Group.A", {"Device.Shared.Enable", "Device.OnlyA.Enable"}},
    {"Group.B", {"Device.Shared.Enable"}},
};

// The driver's rule, written out once more for the table below: each group
// of the id that has an entry must allow; any such group decides alone.
bool DriverRule(const PublishedPermissions &p, const GroupTable &groups, const std::string &id,
                unsigned identity) {
  bool decided = false;
  for (const auto &[group, members] : groups) {
    bool member = false;
    for (const std::string &m : members) {
      member = member || m == id;
    }
    const sim::PermissionEntry *entry = member ? p.Find(group) : nullptr;
    if (entry != nullptr) {
      decided = true;
      if ((entry->pMask & identity) == 0) {
        return false;
      }
    }
  }
  if (decided) {
    return true;
  }
  const sim::PermissionEntry *own = p.Find(id);
  return ((own != nullptr ? own->pMask : p.defaultPMask) & identity) != 0;
}

TEST(SimWhyTest, ASettingInTwoGroupsNeedsBothToAllow) {
  struct Row {
    const char *name;
    std::vector<sim::PermissionEntry> entries;
    unsigned identity;
    bool allowed;
    const char *rule;
  };
  const Row rows[] = {
      {"the second group refuses although the first allows",
       {{"Group.A", 0x81, 0x80}, {"Group.B", 0x80, 0x80}},
       kLocal,
       false,
       "the entry of its group Group.B (PMask 0x80) refuses; every group of a setting must allow"},
      {"the first group refuses",
       {{"Group.A", 0x80, 0x80}, {"Group.B", 0x01, 0x80}},
       kLocal,
       false,
       "the entry of its group Group.A (PMask 0x80) refuses; every group of a setting must allow"},
      {"both allow; the own entry that would refuse is not consulted",
       {{"Device.Shared.Enable", 0x80, 0x80}, {"Group.A", 0x01, 0x80}, {"Group.B", 0x03, 0x80}},
       kLocal,
       true,
       "the entries of its groups Group.A (PMask 0x01), Group.B (PMask 0x03) allow; its own entry "
       "is not consulted"},
      {"one group with an entry decides alone",
       {{"Group.B", 0x80, 0x80}, {"Device.Shared.Enable", 0x01, 0x00}},
       kOwner,
       true,
       "the entry of its group Group.B (PMask 0x80) allows; its own entry is not consulted"},
      {"no group entry: the own entry",
       {{"Device.Shared.Enable", 0x80, 0x80}},
       kLocal,
       false,
       "its own permission entry (PMask 0x80, DMask 0x80) decides"},
      {"nothing: the defaults", {}, kLocal, true, "no entry: the default PMask 0x01 decides"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    PublishedPermissions p;
    p.defaultPMask = 0x01;
    p.defaultDMask = 0x80;
    p.entries = row.entries;
    sim::Explanation e = ExplainSetting(p, kTwoGroups, "Device.Shared.Enable", row.identity);
    EXPECT_EQ(e.allowed, row.allowed);
    EXPECT_EQ(e.allowed, DriverRule(p, kTwoGroups, "Device.Shared.Enable", row.identity));
    EXPECT_EQ(e.rule, row.rule);
  }
}

TEST(SimWhyTest, TheExplanationAgreesWithTheRuleOverEveryMaskCombination) {
  const unsigned masks[] = {0x00, 0x01, 0x80, 0x81};
  const char *ids[] = {"Device.Shared.Enable", "Device.OnlyA.Enable", "Device.Alone.Enable"};
  for (unsigned a : masks) {
    for (unsigned b : masks) {
      for (unsigned own : masks) {
        for (int present = 0; present < 8; present++) {
          PublishedPermissions p;
          p.defaultPMask = 0x01;
          if (present & 1) {
            p.entries.push_back({"Group.A", a, 0x80});
          }
          if (present & 2) {
            p.entries.push_back({"Group.B", b, 0x80});
          }
          if (present & 4) {
            for (const char *id : ids) {
              p.entries.push_back({id, own, 0x80});
            }
          }
          for (const char *id : ids) {
            for (unsigned identity : {kLocal, kOwner}) {
              EXPECT_EQ(ExplainSetting(p, kTwoGroups, id, identity).allowed,
                        DriverRule(p, kTwoGroups, id, identity))
                  << id << " a=" << a << " b=" << b << " own=" << own << " present=" << present;
            }
          }
        }
      }
    }
  }
}

TEST(SimWhyTest, TheFirstEntryOfAnIdDecides) {
  PublishedPermissions p;
  p.entries = {{"Device.X", 0x80, 0}, {"Device.X", 0x01, 0}};
  EXPECT_FALSE(ExplainSetting(p, {}, "Device.X", kLocal).allowed);
}

TEST(SimWhyTest, PublishedPermissionsAreReadWithTheProjectsParser) {
  std::optional<PublishedPermissions> p = sim::ReadPermissions(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><CurrentPermissionsPacket Default=\"1\" "
      "Delegated=\"128\"><Date>2026-01-01T00:00:00</Date><Permissions><PermissionCurrent><Id>"
      "Zelm.OwnerKey.Enum</Id><PMask>9</PMask><DMask>128</DMask></PermissionCurrent>"
      "<PermissionCurrent><Id>A&amp;B</Id><PMask>0</PMask></PermissionCurrent></Permissions>"
      "<LSV>0</LSV></CurrentPermissionsPacket>");
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->defaultPMask, 1u);
  EXPECT_EQ(p->defaultDMask, 128u);
  ASSERT_EQ(p->entries.size(), 2u);
  EXPECT_EQ(p->entries[0].id, "Zelm.OwnerKey.Enum");
  EXPECT_EQ(p->entries[0].pMask, 9u);
  EXPECT_EQ(p->entries[0].dMask, 128u);
  EXPECT_EQ(p->entries[1].id, "A&B");
  EXPECT_EQ(p->entries[1].dMask, 0u);
  // What the driver never writes is no permission document.
  for (const char *text :
       {"", "hello",
        "<CurrentSettingsPacket Default=\"1\" Delegated=\"128\"><Permissions/>"
        "</CurrentSettingsPacket>",
        "<CurrentPermissionsPacket Default=\"1\"><Permissions/></CurrentPermissionsPacket>",
        "<CurrentPermissionsPacket Default=\"256\" Delegated=\"1\"><Permissions/>"
        "</CurrentPermissionsPacket>",
        "<CurrentPermissionsPacket Default=\"1\" Delegated=\"1\"><Permissions><PermissionCurrent>"
        "<Id>X</Id><PMask>0x10</PMask></PermissionCurrent></Permissions>"
        "</CurrentPermissionsPacket>"}) {
    EXPECT_FALSE(sim::ReadPermissions(text).has_value()) << text;
  }
}

TEST(SimWhyTest, DeepDocumentsAreReadWithoutRecursionAndCutAtTheDepthLimit) {
  std::string deep;
  for (int i = 0; i < 100000; i++) {
    deep += "<a>";
  }
  std::optional<sim::XmlElement> root = sim::ReadXml(deep);
  ASSERT_TRUE(root.has_value());
  size_t depth = 0;
  for (const sim::XmlElement *e = &*root; e != nullptr;
       e = e->children.empty() ? nullptr : &e->children[0]) {
    depth++;
  }
  EXPECT_EQ(depth, sim::kMaxXmlDepth);
}

} // namespace
