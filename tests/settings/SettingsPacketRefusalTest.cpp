// Every refusal of a settings packet: State, the stored and returned
// Status, whether the result variable and "_SMID" were written, and the
// mailbox and token cleaned up.
#include <algorithm>
#include <functional>

#include "tests/settings/SettingsPacketTestSupport.h"

namespace {

using settingspackettest::kLocal;
using settingspackettest::SettingsPacketTest;
using settingspackettest::SettingsXml;
using settingstest::FakeValues;

constexpr EFI_STATUS kCallerStatus = 0x4321;
const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string Packet(const std::string &inner) {
  return kDeclaration + "<SettingsPacket>" + inner + "</SettingsPacket>";
}
const std::string kVersions =
    "<Version>5</Version><LowestSupportedVersion>4</LowestSupportedVersion>";
const std::string kOneSetting =
    "<Settings><S><Id>Device.A.Enable</Id><Value>Enabled</Value></S></Settings>";

using Spoil = std::function<void(host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &)>;

struct Row {
  const char *name;
  std::string xml;
  Spoil spoil;
  EFI_STATUS returned;
  UINT32 state;
  EFI_STATUS stored;
  bool result;          // the result variable was written (with the stored status)
  bool smid;            // "_SMID" was written
  bool applied = false; // Device.A.Enable changed
};

class SettingsPacketRefusalTest : public SettingsPacketTest {};

TEST_F(SettingsPacketRefusalTest, EachRowOfTheFailureTable) {
  auto none = [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &) {};
  std::string manyResults;
  for (int i = 0; i < 80; i++) {
    manyResults += "<S><Id>Device.Unknown." + std::to_string(i) + "." + std::string(60, 'x') +
                   "</Id><Value>1</Value></S>";
  }
  const Row rows[] = {
      {"state not 1", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.State = 3; },
       EFI_ABORTED, 3, kCallerStatus, false, false},
      {"packet over 0x6000 bytes", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PacketSize = 0x6001;
       },
       EFI_COMPROMISED_DATA, 255, EFI_ABORTED, false, false},
      {"payload size that wraps", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PayloadSize = ~0ull - 2;
       },
       EFI_COMPROMISED_DATA, 255, EFI_ABORTED, false, false},
      {"signature block under four bytes", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PacketSize = r.SignedLength + 3;
       },
       EFI_COMPROMISED_DATA, 255, EFI_ABORTED, false, false},
      {"signature block claiming more than it has", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.PacketSize--; },
       EFI_COMPROMISED_DATA, 255, EFI_ABORTED, false, false},
      {"\"_SMID\" unreadable", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.FailGetVariable(1, EFI_DEVICE_ERROR);
       },
       EFI_ABORTED, 255, EFI_ABORTED, false, false},
      {"\"_SMID\" read refused as unsupported", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.FailGetVariable(1, EFI_UNSUPPORTED);
       },
       EFI_ABORTED, 255, EFI_ABORTED, false, false},
      {"signature refused", Packet(kVersions + kOneSetting),
       [](host::Authentication &a, host::Platform &, ZELM_APPLY_PACKET &) {
         a.authenticateStatus = EFI_SECURITY_VIOLATION;
       },
       EFI_SECURITY_VIOLATION, 254, EFI_SECURITY_VIOLATION, true, false},
      {"time not readable", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.getTimeStatus = EFI_DEVICE_ERROR;
       },
       EFI_ABORTED, 255, EFI_ABORTED, true, false},
      {"no declaration", "<SettingsPacket>" + kVersions + kOneSetting + "</SettingsPacket>", none,
       EFI_NO_MAPPING, 248, EFI_NO_MAPPING, true, false},
      {"parse without a root", "\xEF\xBB\xBFno element", none, EFI_NO_MAPPING, 248, EFI_NO_MAPPING,
       true, false},
      {"other root", kDeclaration + "<Settingspacket>" + kVersions + "</Settingspacket>", none,
       EFI_NO_MAPPING, 248, EFI_NO_MAPPING, true, false},
      {"Version without text",
       Packet("<Version/><LowestSupportedVersion>1</LowestSupportedVersion>"), none, EFI_NO_MAPPING,
       248, EFI_NO_MAPPING, true, false},
      {"Version over 32 bits",
       Packet("<Version>4294967296</Version><LowestSupportedVersion>1</LowestSupportedVersion>"),
       none, EFI_NO_MAPPING, 248, EFI_NO_MAPPING, true, false},
      {"Version below the floor",
       Packet("<Version>1</Version><LowestSupportedVersion>1</LowestSupportedVersion>" +
              kOneSetting),
       none, EFI_ACCESS_DENIED, 240, EFI_ACCESS_DENIED, true, false},
      {"LowestSupportedVersion without text",
       Packet("<Version>5</Version><LowestSupportedVersion/>"), none, EFI_NO_MAPPING, 248,
       EFI_NO_MAPPING, true, false},
      {"LowestSupportedVersion above Version",
       Packet("<Version>5</Version><LowestSupportedVersion>6</LowestSupportedVersion>" +
              kOneSetting),
       none, EFI_NO_MAPPING, 253, EFI_NO_MAPPING, true, false},
      // From here the versions were accepted: the floor is saved whatever
      // follows, as settings may already have changed.
      {"no Settings", Packet(kVersions), none, EFI_NO_MAPPING, 248, EFI_NO_MAPPING, true, true},
      {"setting without Value after an applied one",
       Packet(kVersions + "<Settings><S><Id>Device.A.Enable</Id><Value>Enabled</Value></S>"
                          "<S><Id>Device.B.Enable</Id></S></Settings>"),
       none, EFI_NO_MAPPING, 248, EFI_NO_MAPPING, true, true, true},
      {"setting without Id text",
       Packet(kVersions + "<Settings><S><Id>Device.A.Enable</Id><Value>Enabled</Value></S>"
                          "<S><Id/><Value>1</Value></S></Settings>"),
       none, EFI_DEVICE_ERROR, 255, EFI_DEVICE_ERROR, true, true, true},
      {"results over 8192 bytes", Packet(kVersions + "<Settings>" + manyResults + "</Settings>"),
       none, EFI_ABORTED, 4, EFI_ABORTED, true, true},
      {"\"_SMID\" not writable", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.setVariableHook = [](const host::SetVariableCall &call) {
           return call.name == u"_SMID" ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
         };
       },
       EFI_WRITE_PROTECTED, 4, EFI_WRITE_PROTECTED, true, false, true},
      {"result variable not writable", Packet(kVersions + kOneSetting),
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.setVariableHook = [](const host::SetVariableCall &call) {
           return call.name == host::ResultName(host::PacketKind::Settings) ? EFI_WRITE_PROTECTED
                                                                            : EFI_SUCCESS;
         };
       },
       EFI_WRITE_PROTECTED, 4, EFI_WRITE_PROTECTED, false, true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
    FakeValues()["Device.A.Enable"].bytes = {0};
    BootAgain();
    // A floor of 2 is stored: versions below it are refused.
    auto floor = Deliver(SettingsXml(2, 2, {}));
    ASSERT_EQ(Apply(*floor), EFI_SUCCESS);
    const std::vector<UINT8> smid = Smid();
    platform.EraseVariable(host::ResultName(host::PacketKind::Settings), gZelmSettingsVariableGuid);
    auto packet = Deliver(row.xml);
    ZELM_APPLY_PACKET &record = *packet->Record();
    record.Status = kCallerStatus;
    row.spoil(*auth, platform, record);
    EXPECT_EQ(Apply(*packet), row.returned);
    platform.setVariableHook = nullptr;
    platform.getTimeStatus = EFI_SUCCESS;
    auth->authenticateStatus = EFI_SUCCESS;
    EXPECT_EQ(record.State, row.state);
    EXPECT_EQ(record.Status, row.stored);
    EXPECT_EQ(record.ResultText, nullptr);
    EXPECT_EQ(record.ResultSize, 0u);
    EXPECT_EQ(record.AuthToken, 0u);
    EXPECT_EQ(auth->LiveTokens(), 0u);
    EXPECT_EQ(auth->InvalidReleases(), 0u);
    EXPECT_FALSE(packet->MailboxPresent());
    Kvsr result = ResultOf(*packet);
    EXPECT_EQ(result.written, row.result);
    if (result.written) {
      EXPECT_EQ(result.status, row.stored);
      EXPECT_EQ(result.sizeField, result.text.empty() ? 0 : result.text.size() + 1);
      EXPECT_EQ(result.text.empty(), row.state != 4 || row.stored == EFI_ABORTED);
    }
    const bool smidWritten = Smid() != smid;
    EXPECT_EQ(smidWritten, row.smid);
    if (row.smid) {
      EXPECT_EQ(Smid()[5], 5); // Version 5, lowest 4
      EXPECT_EQ(Smid()[9], 4);
    }
    EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes[0] == 1, row.applied);
  }
}

TEST_F(SettingsPacketRefusalTest, CallsWithoutAPacketChangeNothing) {
  auto packet = Deliver(SettingsXml(1, 0, {{"Device.A.Enable", "Enabled"}}));
  ZELM_APPLY_PACKET_PROTOCOL other = *apply;
  EXPECT_EQ(apply->ApplyPacket(&other, packet->Record()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(apply->ApplyPacket(apply, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(packet->Record()->State, 1u);
  EXPECT_TRUE(packet->MailboxPresent());
  EXPECT_EQ(apply->ReportResult(apply, packet->Record()), EFI_SUCCESS);
  EXPECT_EQ(apply->CompletePacket(apply, packet->Record(), 2), EFI_SUCCESS);
  EXPECT_TRUE(packet->MailboxPresent());
  EXPECT_TRUE(packet->ResultVariable().empty());
  EXPECT_EQ(auth->calls.authenticate, 0u);
}

TEST_F(SettingsPacketRefusalTest, SmidOfOtherAttributesIsReplacedSoTheFloorRises) {
  std::vector<UINT8> planted(45, 0);
  platform.PutVariable(u"_SMID", gZelmSettingsManagerVariableGuid, 7, planted);
  auto packet = Deliver(SettingsXml(9, 9, {}));
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  const host::Variable *smid = platform.FindVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
  ASSERT_NE(smid, nullptr);
  EXPECT_EQ(smid->attributes, 3u);
  EXPECT_EQ(smid->data[9], 9);
  auto replay = Deliver(SettingsXml(8, 8, {}));
  EXPECT_EQ(Apply(*replay), EFI_ACCESS_DENIED);
}

TEST_F(SettingsPacketRefusalTest, NoAuthenticationProtocolIsASignatureRefusal) {
  Reboot();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmSettingsApplyProtocolGuid);
  auto packet = Deliver(SettingsXml(1, 0, {}));
  EXPECT_EQ(Apply(*packet), EFI_SECURITY_VIOLATION);
  EXPECT_EQ(packet->Record()->State, 254u);
  EXPECT_FALSE(packet->MailboxPresent());
  EXPECT_TRUE(Smid().empty());
  // Found on a later packet once it is installed.
  InstallAuthentication();
  auto later = Deliver(SettingsXml(1, 0, {}));
  EXPECT_EQ(Apply(*later), EFI_SUCCESS);
}

// Results of exactly the largest size are kept; one byte more and the
// packet keeps none. Each character added to an unknown id adds one byte
// to its result, so the sizes are reached by lengthening ids.
TEST_F(SettingsPacketRefusalTest, ResultsOfExactlyTheLargestSizeAreKept) {
  std::vector<size_t> pads(50, 10);
  auto packetOf = [&] {
    std::string settings;
    for (size_t i = 0; i < pads.size(); i++) {
      settings += "<S><Id>Device.Unknown." + std::to_string(i) + "." + std::string(pads[i], 'x') +
                  "</Id><Value>1</Value></S>";
    }
    return Packet(kVersions + "<Settings>" + settings + "</Settings>");
  };
  // The size field of the result variable; Status: ApplyPacket's answer,
  // which is also the status the variable must hold.
  auto resultSize = [&](EFI_STATUS *status) {
    platform.EraseVariable(host::ResultName(host::PacketKind::Settings), gZelmSettingsVariableGuid);
    auto packet = Deliver(packetOf());
    const EFI_STATUS returned = Apply(*packet);
    Kvsr result = ResultOf(*packet);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.status, returned);
    *status = returned;
    return result.sizeField;
  };
  EFI_STATUS status = EFI_SUCCESS;
  const size_t first = resultSize(&status);
  ASSERT_EQ(status, EFI_SUCCESS);
  ASSERT_LT(first, size_t{ZELM_MAX_RESULT_SIZE});
  // Lengthen the ids, none past 96 characters, until the results fill the
  // largest size.
  size_t missing = ZELM_MAX_RESULT_SIZE - first;
  for (size_t i = 0; i < pads.size() && missing != 0; i++) {
    const size_t room = 96 - (std::string("Device.Unknown.") + std::to_string(i) + ".").size();
    const size_t add = std::min(missing, room - pads[i]);
    pads[i] += add;
    missing -= add;
  }
  ASSERT_EQ(missing, 0u);
  EXPECT_EQ(resultSize(&status), size_t{ZELM_MAX_RESULT_SIZE});
  EXPECT_EQ(status, EFI_SUCCESS);
  // One byte more: the results are not kept, the packet says so.
  bool grown = false;
  for (size_t i = 0; i < pads.size() && !grown; i++) {
    const size_t room = 96 - (std::string("Device.Unknown.") + std::to_string(i) + ".").size();
    if (pads[i] < room) {
      pads[i]++;
      grown = true;
    }
  }
  ASSERT_TRUE(grown);
  EXPECT_EQ(resultSize(&status), 0u);
  EXPECT_EQ(status, EFI_ABORTED);
}

} // namespace
