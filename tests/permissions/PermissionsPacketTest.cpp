// Permissions packets through the permissions-apply protocol: results,
// the "KPPR" variable, the delegation rules and every refusal.
#include <cstring>

#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::Element;
using packettest::PacketTest;
using packettest::PacketXml;
using packettest::Snapshot;
using permissionstest::DefaultEntries;
using permissionstest::EntriesOf;
using permissionstest::Entry;

constexpr UINT8 kOwner = 0x80;

TEST_F(PacketTest, AppliedPacketKeptGivesGoldenResultsAndKpprVersion2) {
  // Allowed change, denied change (DMask 0 on the zero-touch key), a new
  // entry, a digit-led id, and a listed entry replaced with its DMask kept.
  PermissionStore *store = CurrentPermissionStore();
  ASSERT_EQ(SetPermissionEntry(store, "Device.Old", 0x01, 0x80), EFI_SUCCESS);
  auto packet = Deliver(PacketXml(7, 3, " Append=\"False\"",
                                  {{"Zelm.OwnerKey.Enum", 0x81, 2},
                                   {"Zelm.ZtdKey.Enum", 0x80},
                                   {"Device.New", 0x11},
                                   {"9Digit", 1},
                                   {"Device.Old", 0x03}}),
                        kOwner, {.formatVersion = 2, .sessionId = 0x11223344});
  EXPECT_EQ(Apply(*packet), EFI_SUCCESS);
  ZELM_APPLY_PACKET *record = packet->Record();
  EXPECT_EQ(record->State, 4u);
  EXPECT_EQ(record->Status, EFI_SUCCESS);
  EXPECT_EQ(record->PermissionsChanged, 1);
  EXPECT_EQ(record->AuthToken, 0u);
  EXPECT_EQ(auth->Releases(), 1u);
  EXPECT_EQ(auth->LiveTokens(), 0u);
  const std::string results =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResultsPacket>"
      "<AppliedOn>2026-12-09T10:20:30</AppliedOn><Permissions>"
      "<PermissionResult><Id>Zelm.OwnerKey.Enum</Id><Result>0x0</Result></PermissionResult>"
      "<PermissionResult><Id>Zelm.ZtdKey.Enum</Id><Result>0x800000000000000F</Result>"
      "</PermissionResult>"
      "<PermissionResult><Id>Device.New</Id><Result>0x0</Result></PermissionResult>"
      "<PermissionResult><Id>9Digit</Id><Result>0x0</Result></PermissionResult>"
      "<PermissionResult><Id>Device.Old</Id><Result>0x0</Result></PermissionResult>"
      "</Permissions></ResultsPacket>";
  EXPECT_EQ(packet->ResultText(), results);
  EXPECT_EQ(record->ResultSize, results.size() + 1);
  // Replace mode by the owner: every entry owned by 0x80 and not listed goes.
  std::vector<Entry> expected = {{"Zelm.OwnerKey.Enum", 0x81, 0x80},
                                 {"Zelm.ZtdKey.Enum", 0x01, 0x00},
                                 {"Zelm.ZtdUnenroll.Enable", 0x00, 0x00},
                                 {"Zelm.Ztd.Recovery.Enable", 0x00, 0x00},
                                 {"Device.Old", 0x03, 0x80},
                                 {"Device.New", 0x11, 0x80}};
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), expected);
  EXPECT_TRUE(CurrentPermissionStore()->Dirty);
  EXPECT_EQ(CurrentPermissionStore()->Version, 7u);
  EXPECT_EQ(CurrentPermissionStore()->LowestSupportedVersion, 3u);

  EXPECT_EQ(Report(*packet), EFI_SUCCESS);
  std::vector<UINT8> kppr = {'K', 'P', 'P', 'R', 2, 0, 0,    0,    0,    0,
                             0,   0,   0,   0,   0, 0, 0x44, 0x33, 0x22, 0x11};
  UINT16 size = static_cast<UINT16>(results.size() + 1);
  kppr.push_back(static_cast<UINT8>(size));
  kppr.push_back(static_cast<UINT8>(size >> 8));
  for (char c : results) {
    kppr.push_back(static_cast<UINT8>(c));
  }
  kppr.push_back(0);
  EXPECT_EQ(packet->ResultVariable(), kppr);
  EXPECT_EQ(platform
                .FindVariable(host::ResultName(host::PacketKind::Permissions),
                              gZelmPermissionVariableGuid)
                ->attributes,
            7u);
  EXPECT_TRUE(packet->MailboxPresent());

  EXPECT_EQ(Complete(*packet, 2), EFI_SUCCESS);
  EXPECT_FALSE(packet->MailboxPresent());
  EXPECT_EQ(record->PermissionsChanged, 0);
  EXPECT_EQ(record->State, 4u);
  // "_SPP" holds exactly the new store, and survives a reboot.
  Reboot();
  platform.authentication.Enrol(kOwner);
  auth = &firmware->InstallAuthentication();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), expected);
  EXPECT_EQ(CurrentPermissionStore()->Version, 7u);
  const std::vector<UINT8> document = PublishedPermissions();
  const std::string published(document.begin(), document.end());
  EXPECT_NE(published.find("<Id>Device.New</Id><PMask>17</PMask><DMask>128</DMask>"),
            std::string::npos);
}

TEST_F(PacketTest, ResultVariableLayoutVersion1IsTwentyBytes) {
  auto packet = Deliver(PacketXml(1, 0, " Append=\"True\"", {{"Device.A", 1}}), kOwner,
                        {.formatVersion = 1, .sessionId = 0xA1B2C3D4});
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  ASSERT_EQ(Report(*packet), EFI_SUCCESS);
  const std::vector<UINT8> kppr = {'K', 'P', 'P', 'R', 1, 0, 0,    0,    0,    0,
                                   0,   0,   0,   0,   0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
  EXPECT_EQ(packet->ResultVariable(), kppr);
  // A refused packet reports its status in the same header.
  auto refused = Deliver("<?xml version=\"1.0\"?><Other/>", kOwner, {.formatVersion = 1});
  EXPECT_EQ(Apply(*refused), EFI_NO_MAPPING);
  ASSERT_EQ(Report(*refused), EFI_SUCCESS);
  const std::vector<UINT8> header = refused->ResultVariable();
  ASSERT_EQ(header.size(), 20u);
  const std::vector<UINT8> status(header.begin() + 8, header.begin() + 16);
  EXPECT_EQ(status, std::vector<UINT8>({0x11, 0, 0, 0, 0, 0, 0, 0x80}));
}

} // namespace
