// Every refusal of a permissions packet: State, the returned and recorded
// Status, the result variable, and the stored and in-memory permissions
// exactly as before (or, once the packet had touched the store, exactly
// "_SPP" again).
#include <cstring>
#include <functional>

#include "permissions/PermissionImage.h"
#include "permissions/PermissionsPacket.h"
#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::Element;
using packettest::PacketTest;
using packettest::PacketXml;
using packettest::Snapshot;
using packettest::StoreState;

constexpr UINT8 kOwner = 0x80;
constexpr UINT8 kLocal = 0x01;
constexpr EFI_STATUS kCallerStatus = 0x1234;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string Body(const std::string &version, const std::string &lowest,
                 const std::string &permissions) {
  return kDeclaration + "<PermissionsPacket>" + version + lowest + permissions +
         "</PermissionsPacket>";
}
const std::string kV = "<Version>5</Version>";
const std::string kL = "<LowestSupportedVersion>1</LowestSupportedVersion>";
const std::string kP = "<Permissions Append=\"True\"></Permissions>";

std::string Perms(const std::string &attributes, const std::string &elements) {
  return "<Permissions" + attributes + ">" + elements + "</Permissions>";
}

// How a row's record or platform is spoiled before ApplyPacket.
using Spoil = std::function<void(host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &)>;

struct Row {
  const char *name;
  std::string xml;
  UINT8 signer;
  Spoil spoil;
  UINT32 state;
  EFI_STATUS returned;
  EFI_STATUS recorded;
  bool reloaded; // the store was touched and comes back from "_SPP"
};

class PacketRefusalTest : public PacketTest {};

TEST_F(PacketRefusalTest, EachRefusalLeavesThePermissionsAsTheyWere) {
  const std::string long97(97, 'L');
  const std::string digit96 = "9" + std::string(95, 'D');
  std::string manyResults;
  for (int i = 0; i < 60; i++) {
    manyResults += "<P><Id>" + digit96 + "</Id><PMask>1</PMask></P>";
  }
  std::string bigStore;
  for (int i = 0; i < 21; i++) {
    bigStore +=
        "<P><Id>" + std::string(95, static_cast<char>('a' + i)) + "</Id><PMask>1</PMask></P>";
  }
  auto none = [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &) {};
  const Row rows[] = {
      {"state not 1", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.State = 3; }, 3,
       EFI_ABORTED, kCallerStatus, false},
      {"packet over 0x6000 bytes", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PacketSize = 0x6001;
       },
       255, EFI_COMPROMISED_DATA, EFI_ABORTED, false},
      {"signature not right after the signed data", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.Signature++; }, 255,
       EFI_COMPROMISED_DATA, EFI_ABORTED, false},
      {"payload at the start of the data", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.Payload = reinterpret_cast<const CHAR8 *>(r.PacketData);
       },
       255, EFI_COMPROMISED_DATA, EFI_ABORTED, false},
      {"payload size that wraps", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PayloadSize = ~0ull - 4;
       },
       255, EFI_COMPROMISED_DATA, EFI_ABORTED, false},
      {"payload past the signed data", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.PayloadSize++; }, 255,
       EFI_COMPROMISED_DATA, EFI_ABORTED, false},
      {"signature length field off by one", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.PacketSize--; }, 253,
       EFI_BAD_BUFFER_SIZE, EFI_BAD_BUFFER_SIZE, false},
      {"fewer than four signature bytes", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) {
         r.PacketSize = r.SignedLength + 3;
       },
       253, EFI_BAD_BUFFER_SIZE, EFI_BAD_BUFFER_SIZE, false},
      {"signer not enrolled", Body(kV, kL, kP), 0x10, none, 254, EFI_SECURITY_VIOLATION,
       EFI_SECURITY_VIOLATION, false},
      {"identity not obtainable", Body(kV, kL, kP), kOwner,
       [](host::Authentication &a, host::Platform &, ZELM_APPLY_PACKET &) {
         a.identityStatus = EFI_DEVICE_ERROR;
       },
       255, EFI_ABORTED, EFI_ABORTED, false},
      {"empty payload", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.PayloadSize = 0; },
       248, EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"NUL before the first start tag", kDeclaration + std::string(1, '\0') + Body(kV, kL, kP),
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"parse without a root", "\xEF\xBB\xBFtext only", kOwner, none, 248, EFI_NO_MAPPING,
       EFI_NO_MAPPING, false},
      {"no declaration", Body(kV, kL, kP).substr(kDeclaration.size()), kOwner, none, 248,
       EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"other root", kDeclaration + "<Permissionspacket>" + kV + kL + kP + "</Permissionspacket>",
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"time not readable", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &p, ZELM_APPLY_PACKET &) {
         p.getTimeStatus = EFI_DEVICE_ERROR;
       },
       255, EFI_ABORTED, EFI_ABORTED, false},
      {"no Version", Body("", kL, kP), kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"Version without text", Body("<Version/>", kL, kP), kOwner, none, 248, EFI_NO_MAPPING,
       EFI_NO_MAPPING, false},
      {"Version over 32 bits", Body("<Version>4294967296</Version>", kL, kP), kOwner, none, 248,
       EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"Version below the lowest supported",
       Body("<Version>1</Version>", "<LowestSupportedVersion>1</LowestSupportedVersion>", kP),
       kOwner, none, 240, EFI_ACCESS_DENIED, EFI_ACCESS_DENIED, false},
      {"no LowestSupportedVersion", Body(kV, "", kP), kOwner, none, 248, EFI_NO_MAPPING,
       EFI_NO_MAPPING, false},
      {"LowestSupportedVersion above Version",
       Body(kV, "<LowestSupportedVersion>6</LowestSupportedVersion>", kP), kOwner, none, 253,
       EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"no Permissions", Body(kV, kL, ""), kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING,
       false},
      {"no Append", Body(kV, kL, Perms("", "")), kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING,
       false},
      {"Append while the transport forbids it", Body(kV, kL, kP), kOwner,
       [](host::Authentication &, host::Platform &, ZELM_APPLY_PACKET &r) { r.NoAppend = 1; }, 248,
       EFI_NO_MAPPING, EFI_NO_MAPPING, false},
      {"Default above 249", Body(kV, kL, Perms(" Append=\"True\" Default=\"250\"", "")), kOwner,
       none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"Delegated with the removal mark",
       Body(kV, kL, Perms(" Append=\"True\" Default=\"1\" Delegated=\"132\"", "")), kOwner, none,
       248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"PMask 250", Body(kV, kL, Perms(" Append=\"True\"", "<P><Id>A</Id><PMask>250</PMask></P>")),
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"PMask without text", Body(kV, kL, Perms(" Append=\"True\"", "<P><Id>A</Id><PMask/></P>")),
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"no Id", Body(kV, kL, Perms(" Append=\"True\"", "<P><PMask>1</PMask></P>")), kOwner, none,
       248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"DMask with the removal mark",
       Body(kV, kL,
            Perms(" Append=\"True\"", "<P><Id>A</Id><PMask>1</PMask><DMask>132</DMask></P>")),
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"later element malformed after a good one",
       Body(kV, kL,
            Perms(" Append=\"False\"",
                  "<P><Id>Zelm.OwnerKey.Enum</Id><PMask>128</PMask></P><P><Id>B</Id></P>")),
       kOwner, none, 248, EFI_NO_MAPPING, EFI_NO_MAPPING, true},
      {"new entry without id text",
       Body(kV, kL, Perms(" Append=\"True\"", "<P><Id/><PMask>1</PMask></P>")), kOwner, none, 255,
       EFI_ABORTED, EFI_ABORTED, true},
      {"id without text from a caller who may not add",
       Body(kV, kL, Perms(" Append=\"True\"", "<P><Id/><PMask>1</PMask></P>")), kLocal, none, 255,
       EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, true},
      {"new id of 97 characters",
       Body(kV, kL, Perms(" Append=\"True\"", "<P><Id>" + long97 + "</Id><PMask>1</PMask></P>")),
       kOwner, none, 255, EFI_ABORTED, EFI_ABORTED, true},
      {"store image over 2048 bytes", Body(kV, kL, Perms(" Append=\"True\"", bigStore)), kOwner,
       none, 255, EFI_INVALID_PARAMETER, EFI_INVALID_PARAMETER, true},
      {"results over 8192 bytes", Body(kV, kL, Perms(" Append=\"True\"", manyResults)), kOwner,
       none, 4, EFI_ABORTED, EFI_ABORTED, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    BootWith(kLocal);
    PermissionStore *store = CurrentPermissionStore();
    store->LowestSupportedVersion = 2;
    store->Version = 4;
    // Not yet saved: a refusal that does not touch the store keeps it.
    ASSERT_EQ(SetPermissionEntry(store, "Device.Pending", 0x01, 0x80), EFI_SUCCESS);
    const Snapshot before = Now();
    auto packet = Deliver(row.xml, row.signer);
    ZELM_APPLY_PACKET &record = *packet->Record();
    record.Status = kCallerStatus;
    row.spoil(*auth, platform, record);
    const size_t writes = platform.SetVariableLog().size();

    EXPECT_EQ(Apply(*packet), row.returned);
    EXPECT_EQ(record.State, row.state);
    EXPECT_EQ(record.Status, row.recorded);
    EXPECT_EQ(record.PermissionsChanged, 0);
    EXPECT_EQ(record.ResultText, nullptr);
    EXPECT_EQ(record.ResultSize, 0u);
    EXPECT_EQ(record.AuthToken, 0u);
    EXPECT_EQ(auth->LiveTokens(), 0u);
    EXPECT_EQ(auth->InvalidReleases(), 0u);
    EXPECT_EQ(platform.SetVariableLog().size(), writes) << "ApplyPacket writes nothing";
    if (row.reloaded) {
      Snapshot stored = Now();
      EXPECT_EQ(stored.spp, before.spp);
      EXPECT_TRUE(stored.hasStore);
      // What "_SPP" holds: the default store, without the pending entry.
      EXPECT_EQ(stored.entries, permissionstest::DefaultEntries());
      EXPECT_EQ(stored.lowest, 0u);
    } else {
      EXPECT_EQ(Now(), before);
    }
    auth->identityStatus = EFI_SUCCESS;
    platform.getTimeStatus = EFI_SUCCESS;
    // The transport learns the refusal from the result variable.
    EXPECT_EQ(Report(*packet), EFI_SUCCESS);
    std::vector<UINT8> kppr = packet->ResultVariable();
    ASSERT_EQ(kppr.size(), 22u);
    EFI_STATUS reported = 0;
    std::memcpy(&reported, kppr.data() + 8, sizeof(reported));
    EXPECT_EQ(reported, row.recorded);
    EXPECT_EQ(kppr[20] | kppr[21], 0);
    // Discarding keeps the store; the mailbox goes.
    const Snapshot refused = Now();
    EXPECT_EQ(Complete(*packet, 1), EFI_SUCCESS);
    EXPECT_FALSE(packet->MailboxPresent());
    EXPECT_EQ(Now(), refused);
    EXPECT_EQ(record.State, row.state);
  }
}

TEST_F(PacketRefusalTest, CallsOutsideAPendingPacketChangeNothing) {
  auto packet = Deliver(Body(kV, kL, kP), kOwner);
  ZELM_APPLY_PACKET &record = *packet->Record();
  record.Status = kCallerStatus;
  const Snapshot before = Now();
  EXPECT_EQ(apply->ApplyPacket(nullptr, &record), EFI_INVALID_PARAMETER);
  ZELM_APPLY_PACKET_PROTOCOL other = *apply;
  EXPECT_EQ(apply->ApplyPacket(&other, &record), EFI_INVALID_PARAMETER);
  EXPECT_EQ(apply->ApplyPacket(apply, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(apply->CompletePacket(&other, &record, 2), EFI_INVALID_PARAMETER);
  EXPECT_EQ(apply->CompletePacket(apply, nullptr, 2), EFI_INVALID_PARAMETER);
  EXPECT_EQ(apply->ReportResult(apply, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(record.State, 1u);
  EXPECT_EQ(record.Status, kCallerStatus);
  EXPECT_EQ(auth->calls.authenticate, 0u);
  EXPECT_EQ(Now(), before);
  // CompletePacket deletes the mailbox before refusing the wrong instance.
  EXPECT_FALSE(packet->MailboxPresent());
  record.State = 0;
  EXPECT_EQ(Report(*packet), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(packet->ResultVariable().empty());
  record.State = 4;
  EXPECT_EQ(Complete(*packet, 3), EFI_INVALID_PARAMETER);
  EXPECT_EQ(record.State, 255u);
  EXPECT_EQ(record.Status, EFI_INVALID_PARAMETER);
}

// The packet steps behind the protocol refuse what is not theirs.
TEST_F(PacketRefusalTest, PacketStepsRefuseNullAndForeignArguments) {
  EXPECT_EQ(ProcessPermissionsPacket(nullptr), EFI_INVALID_PARAMETER);
  XmlNode *permissions = nullptr;
  ASSERT_EQ(XmlAddNode(nullptr, "Permissions", nullptr, &permissions), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(permissions, "Append", "True"), EFI_SUCCESS);
  XmlNode *other = nullptr;
  ASSERT_EQ(XmlAddNode(nullptr, "Settings", nullptr, &other), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(other, "Append", "True"), EFI_SUCCESS);
  BOOLEAN append = 2;
  EXPECT_EQ(ReadAppendFlag(nullptr, &append), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadAppendFlag(other, &append), EFI_INVALID_PARAMETER);
  EXPECT_EQ(append, 2);
  EXPECT_EQ(ReadAppendFlag(permissions, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadAppendFlag(permissions, &append), EFI_SUCCESS);
  EXPECT_TRUE(append);
  EXPECT_EQ(XmlFreeTree(&permissions), EFI_SUCCESS);
  EXPECT_EQ(XmlFreeTree(&other), EFI_SUCCESS);
}

TEST_F(PacketRefusalTest, PacketWithoutAuthenticationOrStoreIsNotReady) {
  // The authentication protocol appears only later in this boot.
  Reboot();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmPermissionsApplyProtocolGuid);
  ASSERT_NE(apply, nullptr);
  auto early = Deliver(Body(kV, kL, kP), kOwner);
  EXPECT_EQ(Apply(*early), EFI_NOT_READY);
  EXPECT_EQ(early->Record()->State, 255u);
  EXPECT_EQ(early->Record()->Status, EFI_NOT_READY);
  early->Record()->State = 7;
  EXPECT_EQ(Apply(*early), EFI_INVALID_PARAMETER);
  EXPECT_EQ(early->Record()->State, 7u);

  // The protocol is there but no store could be made.
  InstallAuthentication();
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
  auto orphan = Deliver(Body(kV, kL, kP), kOwner);
  EXPECT_EQ(Apply(*orphan), EFI_NOT_READY);
  EXPECT_EQ(orphan->Record()->State, 255u);
  EXPECT_EQ(orphan->Record()->Status, EFI_NOT_READY);
  EXPECT_EQ(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(auth->calls.authenticate, 0u);
  // Keeping without a store: not ready, and no store appears from nowhere.
  orphan->Record()->PermissionsChanged = 1;
  EXPECT_EQ(Complete(*orphan, 2), EFI_NOT_READY);
  EXPECT_EQ(orphan->Record()->State, 255u);
  EXPECT_EQ(CurrentPermissionStore(), nullptr);
}

} // namespace
