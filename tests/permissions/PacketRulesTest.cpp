// The delegation and version rules of permissions packets, kept and
// discarded.
#include <cstring>
#include <regex>

#include "permissions/CurrentPermissions.h"
#include "permissions/PermissionImage.h"
#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::Element;
using packettest::PacketTest;
using packettest::PacketXml;
using packettest::Snapshot;
using permissionstest::EntriesOf;
using permissionstest::Entry;

constexpr UINT8 kOwner = 0x80;
constexpr UINT8 kLocal = 0x01;

// The "Result" texts of a ResultsPacket, in order.
std::vector<std::string> ResultsOf(const std::string &text) {
  std::vector<std::string> out;
  std::regex result("<Result>([^<]*)</Result>");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), result);
       it != std::sregex_iterator(); ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

const std::vector<Entry> kDefaults = {{"Zelm.OwnerKey.Enum", 0x09, 0x80},
                                      {"Zelm.ZtdKey.Enum", 0x01, 0x00},
                                      {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
                                      {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00}};

std::vector<Entry> Plus(std::vector<Entry> entries, const std::vector<Entry> &more) {
  entries.insert(entries.end(), more.begin(), more.end());
  return entries;
}

struct Row {
  const char *name;
  std::vector<Entry> extra; // saved after the default entries
  UINT8 signer;
  std::string xml;
  std::vector<Entry> entries;
  std::vector<std::string> results;
  UINT8 defaultPMask = 0x01;
  UINT8 defaultDMask = 0x80;
  UINT32 version = 5;
  UINT32 lowest = 2;
};

class PacketRulesTest : public PacketTest {
protected:
  // Stores Extra in "_SPP" with Version 6 and LowestSupportedVersion 2.
  void Prepare(const std::vector<Entry> &extra) {
    PermissionStore *store = CurrentPermissionStore();
    for (const Entry &e : extra) {
      ASSERT_EQ(AddPermissionEntry(store, e.id.c_str(), e.pMask, e.dMask), EFI_SUCCESS);
    }
    store->Version = 6;
    store->LowestSupportedVersion = 2;
    store->Dirty = TRUE;
    ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  }
};

TEST_F(PacketRulesTest, KeptPacketsFollowTheDelegationAndVersionRules) {
  const std::string t = " Append=\"True\"";
  const std::string f = " Append=\"False\"";
  const Row rows[] = {
      {"replace with nothing listed drops what the caller owns",
       {{"Device.A", 1, 0x90}, {"Device.B", 1, 0x10}, {"Device.C", 1, 0x00}},
       kOwner,
       PacketXml(5, 2, f, {}),
       {{"Zelm.ZtdKey.Enum", 0x01, 0x00},
        {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
        {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00},
        {"Device.B", 1, 0x10},
        {"Device.C", 1, 0x00}},
       {}},
      {"replace keeps a listed entry and clears its mark",
       {{"Device.A", 1, 0x90}},
       kOwner,
       PacketXml(5, 2, f, {{"Device.A", 3}, {"Zelm.OwnerKey.Enum", 9}}),
       {{"Zelm.OwnerKey.Enum", 0x09, 0x80},
        {"Zelm.ZtdKey.Enum", 0x01, 0x00},
        {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
        {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00},
        {"Device.A", 3, 0x90}},
       {"0x0", "0x0"}},
      {"the highest delegating bit owns the entry",
       {{"Device.A", 1, 0x30}, {"Device.B", 1, 0x50}},
       0x20,
       PacketXml(5, 2, f, {}),
       Plus(kDefaults, {{"Device.B", 1, 0x50}}),
       {}},
      {"append in lower case is replace",
       {{"Device.A", 1, 0x80}},
       kOwner,
       PacketXml(5, 2, " Append=\"true\"", {{"Zelm.OwnerKey.Enum", 9}}),
       {{"Zelm.OwnerKey.Enum", 0x09, 0x80},
        {"Zelm.ZtdKey.Enum", 0x01, 0x00},
        {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
        {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00}},
       {"0x0"}},
      {"new entries take the caller's byte without the mark, DMask 2 keeps",
       {{"Device.A", 1, 0x84 & 0x80}},
       0x85,
       PacketXml(5, 2, t, {{"Device.New", 7}, {"Device.A", 2, 2}, {"Device.Given", 1, 0x40}}),
       Plus(kDefaults, {{"Device.A", 2, 0x80}, {"Device.New", 7, 0x81}, {"Device.Given", 1, 0x40}}),
       {"0x0", "0x0", "0x0"}},
      {"a caller outside the entry's DMask is denied",
       {{"Device.A", 1, 0x80}},
       kLocal,
       PacketXml(5, 2, t, {{"Device.A", 0}, {"Zelm.ZtdKey.Enum", 0}, {"Zelm.OwnerKey.Enum", 1}}),
       Plus(kDefaults, {{"Device.A", 1, 0x80}}),
       {"0x800000000000000F", "0x800000000000000F", "0x800000000000000F"}},
      {"a caller outside DefaultDMask adds nothing",
       {},
       kLocal,
       PacketXml(5, 2, t, {{"Device.New", 1}, {"7Digit", 1}}),
       kDefaults,
       {"0x800000000000000F", "0x800000000000000F"}},
      {"digit-led ids are accepted and never stored",
       {},
       kOwner,
       PacketXml(5, 2, t, {{"0Zero", 1}, {"9Nine", 1, 0x80}}),
       kDefaults,
       {"0x0", "0x0"}},
      {"a duplicate changes the entry the first one added",
       {},
       kOwner,
       PacketXml(5, 2, t, {{"Device.Dup", 1}, {"Device.Dup", 249, 0x10}}),
       Plus(kDefaults, {{"Device.Dup", 249, 0x10}}),
       {"0x0", "0x0"}},
      {"defaults change for a caller in DefaultDMask",
       {},
       kOwner,
       PacketXml(5, 2, " Append=\"True\" Default=\"3\" Delegated=\"192\"", {}),
       kDefaults,
       {},
       3,
       0xC0},
      {"Default alone keeps Delegated",
       {},
       kOwner,
       PacketXml(5, 2, " Append=\"True\" Default=\"0\"", {}),
       kDefaults,
       {},
       0,
       0x80},
      {"Delegated without Default is not read",
       {},
       kOwner,
       PacketXml(5, 2, " Append=\"True\" Delegated=\"132\"", {}),
       kDefaults,
       {}},
      {"new defaults from a caller outside DefaultDMask leave no trace",
       {},
       kLocal,
       PacketXml(5, 2, " Append=\"True\" Default=\"7\" Delegated=\"1\"", {}),
       kDefaults,
       {}},
      {"new DefaultDMask rules the entries that follow",
       {},
       kOwner,
       PacketXml(5, 2, " Append=\"True\" Default=\"1\" Delegated=\"1\"", {{"Device.New", 1}}),
       kDefaults,
       {"0x800000000000000F"},
       1,
       1},
      {"an unknown identity changes nothing",
       {{"Device.A", 1, 0x80}},
       0x02,
       PacketXml(5, 2, " Append=\"False\" Default=\"2\"", {{"Device.A", 2}, {"Device.B", 2}}),
       Plus(kDefaults, {{"Device.A", 1, 0x80}}),
       {"0x800000000000000F", "0x800000000000000F"}},
      {"only the first Permissions counts",
       {},
       kOwner,
       "<?xml version=\"1.0\"?><PermissionsPacket><Version>5</Version>"
       "<LowestSupportedVersion>2</LowestSupportedVersion>"
       "<Permissions Append=\"True\"><P><Id>Device.First</Id><PMask>1</PMask></P>"
       "</Permissions>"
       "<Permissions Append=\"False\"><P><Id>Device.Second</Id><PMask>1</PMask></P>"
       "</Permissions></PermissionsPacket>",
       Plus(kDefaults, {{"Device.First", 1, 0x80}}),
       {"0x0"}},
      {"Version below the stored one but not below the lowest lowers it",
       {},
       kOwner,
       PacketXml(2, 0, t, {}),
       kDefaults,
       {},
       1,
       0x80,
       2,
       2},
      {"a higher lowest version is kept",
       {},
       kOwner,
       PacketXml(9, 9, t, {}),
       kDefaults,
       {},
       1,
       0x80,
       9,
       9},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    // Each row starts from a platform that never saw a packet.
    platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
    platform.EraseVariable(kPermissionCurrentVariableName, gZelmPermissionVariableGuid);
    platform.authentication.Unenrol(0xFF);
    BootWith(row.signer);
    Prepare(row.extra);
    auto packet = Deliver(row.xml, row.signer);
    host::PermissionsOutcome outcome = Run(*packet);
    EXPECT_EQ(outcome.apply, EFI_SUCCESS);
    EXPECT_EQ(outcome.report, EFI_SUCCESS);
    EXPECT_EQ(outcome.complete, EFI_SUCCESS);
    EXPECT_EQ(packet->Record()->State, 4u);
    EXPECT_EQ(ResultsOf(packet->ResultText()), row.results);
    // Kept: memory, "_SPP" after a reload, and the published document agree.
    for (int pass = 0; pass < 2; pass++) {
      PermissionStore *store = CurrentPermissionStore();
      ASSERT_NE(store, nullptr);
      EXPECT_EQ(EntriesOf(store), row.entries);
      EXPECT_EQ(store->DefaultPMask, row.defaultPMask);
      EXPECT_EQ(store->DefaultDMask, row.defaultDMask);
      EXPECT_EQ(store->Version, row.version);
      EXPECT_EQ(store->LowestSupportedVersion, row.lowest);
      EXPECT_FALSE(store->Dirty);
      ASSERT_EQ(ReloadPermissionStore(), EFI_SUCCESS);
    }
    const std::vector<UINT8> published = PublishedPermissions();
    const std::string document(published.begin(), published.end());
    EXPECT_NE(document.find("Default=\"" + std::to_string(row.defaultPMask) + "\""),
              std::string::npos);
  }
}

TEST_F(PacketRulesTest, DiscardRestoresExactlyWhatSppHolds) {
  Prepare({{"Device.A", 1, 0x80}});
  const Snapshot before = Now();
  auto packet =
      Deliver(PacketXml(7, 7, " Append=\"False\" Default=\"0\"", {{"Device.B", 2}}), kOwner);
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  // Until completed, decisions already follow the pending store.
  EXPECT_EQ(CurrentPermissionStore()->DefaultPMask, 0);
  EXPECT_NE(Now(), before);
  EXPECT_EQ(Report(*packet), EFI_SUCCESS);
  const size_t writes = platform.SetVariableLog().size();
  EXPECT_EQ(Complete(*packet, 1), EFI_SUCCESS);
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(packet->Record()->PermissionsChanged, 0);
  EXPECT_EQ(packet->Record()->State, 4u);
  // Thrown away, the packet is no success: the result written before says
  // so now, without the per-element results. Nothing else is written.
  EXPECT_EQ(packet->Record()->Status, EFI_ABORTED);
  ASSERT_EQ(platform.SetVariableLog().size(), writes + 2);
  EXPECT_EQ(platform.SetVariableLog()[writes].name,
            host::MailboxName(host::PacketKind::Permissions));
  EXPECT_EQ(platform.SetVariableLog()[writes + 1].name,
            host::ResultName(host::PacketKind::Permissions));
  const std::vector<UINT8> kppr = packet->ResultVariable();
  ASSERT_EQ(kppr.size(), 22u);
  EFI_STATUS reported = 0;
  std::memcpy(&reported, kppr.data() + 8, sizeof(reported));
  EXPECT_EQ(reported, EFI_ABORTED);
  // A second completion finds nothing pending.
  EXPECT_EQ(Complete(*packet, 2), EFI_SUCCESS);
  EXPECT_EQ(Now(), before);
}

TEST_F(PacketRulesTest, AReplayedOldPacketDoesNotUndoPendingChanges) {
  Prepare({});
  auto first = Deliver(PacketXml(6, 6, " Append=\"True\"", {{"Device.New", 1}}), kOwner);
  ASSERT_EQ(Apply(*first), EFI_SUCCESS);
  const Snapshot pending = Now();
  auto replay = Deliver(PacketXml(1, 0, " Append=\"True\"", {}), kOwner);
  EXPECT_EQ(Apply(*replay), EFI_ACCESS_DENIED);
  EXPECT_EQ(replay->Record()->State, 240u);
  EXPECT_EQ(Now(), pending);
  EXPECT_EQ(Complete(*first, 2), EFI_SUCCESS);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), Plus(kDefaults, {{"Device.New", 1, 0x80}}));
}

TEST_F(PacketRulesTest, KeepingRewritesVariablesOfOtherAttributes) {
  Prepare({});
  // The operating system planted both with attributes the driver never uses.
  std::vector<UINT8> spp = Spp();
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 7, spp);
  platform.PutVariable(kPermissionCurrentVariableName, gZelmPermissionVariableGuid, 3, "planted");
  auto packet = Deliver(PacketXml(6, 2, " Append=\"True\"", {{"Device.New", 1}}), kOwner);
  EXPECT_EQ(Run(*packet).complete, EFI_SUCCESS);
  EXPECT_EQ(platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->attributes, 3u);
  const host::Variable *current =
      platform.FindVariable(kPermissionCurrentVariableName, gZelmPermissionVariableGuid);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->attributes, 7u);
  const std::string document(current->data.begin(), current->data.end());
  EXPECT_NE(document.find("<Id>Device.New</Id>"), std::string::npos);
}

} // namespace
