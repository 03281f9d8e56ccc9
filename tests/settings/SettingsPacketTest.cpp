// Settings packets through the settings-apply protocol: the results, the
// "KVSR" variable, the version floor in "_SMID", and the packet's effects.
#include "settings/Registry.h"
#include "tests/settings/SettingsPacketTestSupport.h"

#include <uefi/UefiGuids.h>

#include <functional>

namespace {

using settingspackettest::Setting;
using settingspackettest::SettingsPacketTest;
using settingspackettest::SettingsXml;
using settingstest::FakeValues;

std::vector<UINT8> Le32(UINT32 v) {
  return {static_cast<UINT8>(v), static_cast<UINT8>(v >> 8), static_cast<UINT8>(v >> 16),
          static_cast<UINT8>(v >> 24)};
}

TEST_F(SettingsPacketTest, MixedPacketGivesGoldenResultsKvsrAndSmid) {
  platform.PutVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid, 7, "stale");
  auto packet = Deliver(SettingsXml(5, 3,
                                    {{"Device.A.Enable", "Enabled"},
                                     {"Device.B.Enable", "Enabled"},
                                     {"Device.Unknown", "Enabled"},
                                     {"Zelm.BootExternalMedia.Enable", "Enabled"},
                                     {"Device.Fails.Enable", "Enabled"},
                                     {"Device.Reboot.Enable", "Enabled"},
                                     {"Device.Name", nullptr},
                                     {"Device.Cert", nullptr}}),
                        settingspackettest::kLocal, {.formatVersion = 2, .sessionId = 0x0A0B0C0D});
  EXPECT_EQ(Apply(*packet), EFI_SUCCESS);
  const ZELM_APPLY_PACKET &record = *packet->Record();
  EXPECT_EQ(record.State, 4u);
  EXPECT_EQ(record.Status, EFI_SUCCESS);
  EXPECT_EQ(record.ResetRequired, 1);
  EXPECT_EQ(record.ResultText, nullptr);
  EXPECT_EQ(record.ResultSize, 0u);
  EXPECT_EQ(record.AuthToken, 0u);
  EXPECT_EQ(auth->LiveTokens(), 0u);
  EXPECT_EQ(auth->Releases(), 1u);
  EXPECT_FALSE(packet->MailboxPresent());
  EXPECT_TRUE(SettingsCurrent().empty());
  const std::string results =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResultsPacket>"
      "<AppliedOn>2026-12-09T10:20:30</AppliedOn><Settings>"
      "<SettingResult><Id>Device.A.Enable</Id><Flags>0x0</Flags><Result>0x0</Result>"
      "</SettingResult>"
      "<SettingResult><Id>Device.B.Enable</Id><Flags>0x80000000</Flags><Result>0x0</Result>"
      "</SettingResult>"
      "<SettingResult><Id>Device.Unknown</Id><Flags>0x0</Flags>"
      "<Result>0x800000000000000E</Result></SettingResult>"
      "<SettingResult><Id>Zelm.BootExternalMedia.Enable</Id><Flags>0x0</Flags>"
      "<Result>0x0</Result></SettingResult>"
      "<SettingResult><Id>Device.Fails.Enable</Id><Flags>0x0</Flags>"
      "<Result>0x8000000000000007</Result></SettingResult>"
      "<SettingResult><Id>Device.Reboot.Enable</Id><Flags>0x1</Flags><Result>0x0</Result>"
      "</SettingResult>"
      "<SettingResult><Id>Device.Name</Id><Flags>0x0</Flags><Result>0x0</Result>"
      "</SettingResult>"
      "<SettingResult><Id>Device.Cert</Id><Flags>0x0</Flags>"
      "<Result>0x8000000000000002</Result></SettingResult>"
      "</Settings></ResultsPacket>";
  std::vector<UINT8> kvsr = {'K', 'V', 'S', 'R', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (UINT8 b : Le32(0x0A0B0C0D)) {
    kvsr.push_back(b);
  }
  const size_t size = results.size() + 1;
  kvsr.push_back(static_cast<UINT8>(size));
  kvsr.push_back(static_cast<UINT8>(size >> 8));
  kvsr.insert(kvsr.end(), results.begin(), results.end());
  kvsr.push_back(0);
  EXPECT_EQ(packet->ResultVariable(), kvsr);
  EXPECT_EQ(
      platform
          .FindVariable(host::ResultName(host::PacketKind::Settings), gZelmSettingsVariableGuid)
          ->attributes,
      7u);
  // The values really changed; the empty string was set, the certificate kept.
  EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes, std::vector<UINT8>{1});
  EXPECT_EQ(SetupBlock()[0x5C], 0); // USB boot allowed
  EXPECT_EQ(FakeValues()["Device.Name"].bytes, std::vector<UINT8>{0});
  EXPECT_EQ(FakeValues()["Device.Cert"].bytes, std::vector<UINT8>({1, 2, 3}));
  // "_SMID": signature, layout 1, Version 5, lowest 3, created and saved now.
  std::vector<UINT8> smid = {'S', 'M', 'I', 'D', 1};
  for (UINT32 v : {5u, 3u}) {
    for (UINT8 b : Le32(v)) {
      smid.push_back(b);
    }
  }
  const auto *clock = reinterpret_cast<const UINT8 *>(&platform.clock);
  const std::vector<UINT8> time(clock, clock + sizeof(EFI_TIME));
  smid.insert(smid.end(), time.begin(), time.end());
  smid.insert(smid.end(), time.begin(), time.end());
  EXPECT_EQ(Smid(), smid);
  EXPECT_EQ(platform.FindVariable(u"_SMID", gZelmSettingsManagerVariableGuid)->attributes, 3u);
}

TEST_F(SettingsPacketTest, PermissionsDecideEachSettingUnderTheSigner) {
  ASSERT_EQ(SetPermissionEntry(CurrentPermissionStore(), "Device.A.Enable", 0x80, 0x80),
            EFI_SUCCESS);
  auto packet =
      Deliver(SettingsXml(1, 0, {{"Device.A.Enable", "Enabled"}, {"Device.B.Enable", "Disabled"}}));
  EXPECT_EQ(Apply(*packet), EFI_SUCCESS);
  const std::string text = ResultOf(*packet).text;
  EXPECT_NE(text.find("<Id>Device.A.Enable</Id><Flags>0x0</Flags>"
                      "<Result>0x800000000000000F</Result>"),
            std::string::npos);
  EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes, std::vector<UINT8>{0});
  EXPECT_EQ(FakeValues()["Device.B.Enable"].bytes, std::vector<UINT8>{0});
}

TEST_F(SettingsPacketTest, AppliedPacketIsInForcePublishedAndRefusedOnReplayAfterReboot) {
  auto first = Deliver(SettingsXml(3, 3, {{"Device.A.Enable", "Enabled"}}));
  ASSERT_EQ(Apply(*first), EFI_SUCCESS);
  auto second = Deliver(SettingsXml(5, 5, {{"Device.B.Enable", "Disabled"}}));
  ASSERT_EQ(Apply(*second), EFI_SUCCESS);
  first.reset();
  second.reset();
  BootAgain();
  firmware->SignalEventGroup(gEfiEventReadyToBootGuid);
  const std::vector<UINT8> published = SettingsCurrent();
  const std::string document(published.begin(), published.end());
  EXPECT_NE(document.find("<SettingCurrent><Id>Device.A.Enable</Id><Value>Enabled</Value>"),
            std::string::npos);
  EXPECT_NE(document.find("<LSV>5</LSV>"), std::string::npos);
  auto replay = Deliver(SettingsXml(3, 3, {{"Device.A.Enable", "Disabled"}}));
  EXPECT_EQ(Apply(*replay), EFI_ACCESS_DENIED);
  EXPECT_EQ(replay->Record()->State, 240u);
  EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes, std::vector<UINT8>{1});
  Kvsr result = ResultOf(*replay);
  EXPECT_TRUE(result.written);
  EXPECT_EQ(result.status, EFI_ACCESS_DENIED);
  EXPECT_EQ(result.sizeField, 0u);
  EXPECT_TRUE(result.text.empty());
}

TEST_F(SettingsPacketTest, SameVersionsApplyWithoutRewritingSmid) {
  auto first = Deliver(SettingsXml(4, 2, {}));
  ASSERT_EQ(Apply(*first), EFI_SUCCESS);
  const size_t writes = platform.SetVariableLog().size();
  auto again = Deliver(SettingsXml(4, 2, {{"Device.A.Enable", "Enabled"}}));
  ASSERT_EQ(Apply(*again), EFI_SUCCESS);
  for (size_t i = writes; i < platform.SetVariableLog().size(); i++) {
    EXPECT_NE(platform.SetVariableLog()[i].name, u"_SMID");
  }
  // A lower lowest version leaves the stored one.
  auto lower = Deliver(SettingsXml(6, 1, {}));
  ASSERT_EQ(Apply(*lower), EFI_SUCCESS);
  std::vector<UINT8> smid = Smid();
  ASSERT_EQ(smid.size(), 45u);
  EXPECT_EQ(std::vector<UINT8>(smid.begin() + 5, smid.begin() + 13),
            std::vector<UINT8>({6, 0, 0, 0, 2, 0, 0, 0}));
}

TEST_F(SettingsPacketTest, GroupMembersDecideOnThePublishedSettingsFromTheirOwnFlags) {
  FakeValues()["Device.FrontCamera.Enable"].bytes = {1};
  FakeValues()["Device.RearCamera.Enable"].bytes = {0};
  for (const char *id : {"Device.FrontCamera.Enable", "Device.RearCamera.Enable"}) {
    ASSERT_EQ(Register(settingstest::FakeProvider(id)), EFI_SUCCESS);
  }
  platform.PutVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid, 7, "published");
  ZELM_AUTH_TOKEN token = Token(settingspackettest::kLocal);
  UINT8 enabled = 1;
  UINT64 flags = 0;
  // The front camera is unchanged; the rear one changes after it.
  EXPECT_EQ(access->Set(access, "Zelm.OnboardCameras.Enable", &token, ZELM_SETTING_TYPE_ENABLE, 1,
                        &enabled, &flags),
            EFI_SUCCESS);
  EXPECT_EQ(flags, ZELM_SETTING_FLAG_UNCHANGED);
  EXPECT_EQ(FakeValues()["Device.RearCamera.Enable"].bytes, std::vector<UINT8>{1});
  EXPECT_TRUE(SettingsCurrent().empty());
}

// A "_SMID" that cannot be the driver's (wrong signature or size, a floor
// above its own version) holds no floor: the next packet starts afresh
// instead of being refused or aborted.
TEST_F(SettingsPacketTest, UnusableSmidIsReplacedByTheNextPacket) {
  auto first = Deliver(SettingsXml(2, 1, {}));
  ASSERT_EQ(Apply(*first), EFI_SUCCESS);
  const std::vector<UINT8> good = Smid();
  ASSERT_EQ(good.size(), 45u);
  struct Row {
    const char *name;
    std::function<void(std::vector<UINT8> &)> spoil;
  };
  const Row rows[] = {
      {"wrong signature", [](std::vector<UINT8> &b) { b[0] ^= 0x20; }},
      {"one byte short", [](std::vector<UINT8> &b) { b.pop_back(); }},
      {"one byte long", [](std::vector<UINT8> &b) { b.push_back(0); }},
      {"floor above the version",
       [](std::vector<UINT8> &b) {
         b[5] = 2; // version 2
         b[9] = 9; // lowest 9
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<UINT8> bad = good;
    row.spoil(bad);
    platform.PutVariable(u"_SMID", gZelmSettingsManagerVariableGuid, 3, bad);
    auto packet = Deliver(SettingsXml(3, 0, {{"Device.A.Enable", "Enabled"}}));
    EXPECT_EQ(Apply(*packet), EFI_SUCCESS);
    EXPECT_EQ(packet->Record()->State, ZELM_PACKET_STATE_APPLIED);
    std::vector<UINT8> smid = Smid();
    ASSERT_EQ(smid.size(), 45u);
    EXPECT_EQ(
        std::vector<UINT8>(smid.begin(), smid.begin() + 13),
        std::vector<UINT8>({good[0], good[1], good[2], good[3], good[4], 3, 0, 0, 0, 0, 0, 0, 0}));
  }
}

// A signature block too short for its own length field is refused before
// anything reads that field or asks the verifier.
TEST_F(SettingsPacketTest, SignatureBlockShorterThanItsLengthFieldIsNotVerified) {
  for (UINT64 left : {0u, 1u, 3u}) {
    SCOPED_TRACE(left);
    auto packet = Deliver(SettingsXml(1, 0, {{"Device.A.Enable", "Enabled"}}));
    ZELM_APPLY_PACKET *record = packet->Record();
    const UINT64 signatureAt = static_cast<UINT64>(record->Signature - record->PacketData);
    // The bytes past the stated size would read as a length that fits.
    UINT8 *bytes = packet->Bytes().data() + signatureAt;
    bytes[0] = static_cast<UINT8>(left);
    bytes[1] = bytes[2] = bytes[3] = 0;
    record->PacketSize = signatureAt + left;
    const size_t asked = auth->calls.authenticate;
    EXPECT_NE(Apply(*packet), EFI_SUCCESS);
    EXPECT_EQ(auth->calls.authenticate, asked);
    EXPECT_NE(record->State, ZELM_PACKET_STATE_APPLIED);
    EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes, std::vector<UINT8>{0});
  }
}

// The authentication component found first keeps checking the packets:
// the permission manager asks that same instance who signed, so a packet
// checked by another one would be judged under an identity it never issued.
TEST_F(SettingsPacketTest, TheAuthenticationComponentFoundFirstKeepsCheckingPackets) {
  auto first = Deliver(SettingsXml(1, 0, {{"Device.A.Enable", "Enabled"}}));
  ASSERT_EQ(Apply(*first), EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  UINTN size = sizeof(handle);
  EFI_GUID guid = gZelmAuthenticationProtocolGuid;
  ASSERT_EQ(firmware->BootServices()->LocateHandle(ByProtocol, &guid, nullptr, &size, &handle),
            EFI_SUCCESS);
  ASSERT_EQ(firmware->UninstallProtocol(handle, guid, auth->Protocol()), EFI_SUCCESS);
  auto second = Deliver(SettingsXml(2, 0, {{"Device.B.Enable", "Disabled"}}));
  EXPECT_EQ(Apply(*second), EFI_SUCCESS);
  EXPECT_EQ(second->Record()->State, ZELM_PACKET_STATE_APPLIED);
  EXPECT_EQ(FakeValues()["Device.B.Enable"].bytes, std::vector<UINT8>{0});
}

TEST_F(SettingsPacketTest, LookupsRefuseANullId) {
  EXPECT_EQ(FindProvider(nullptr), nullptr);
  EXPECT_EQ(FindGroup(nullptr), nullptr);
  EXPECT_EQ(NextGroupContaining(nullptr, nullptr), nullptr);
}

} // namespace
