// The edges of a commit: what the result variable, "_SPP", memory and the
// published document say after a write fails, after a discard, after an
// unknown operation, and after a reload within the boot.
#include <cstring>
#include <functional>
#include <optional>

#include "permissions/CurrentPermissions.h"
#include "permissions/PermissionCheck.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionsPacket.h"
#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::PacketTest;
using packettest::PacketXml;
using packettest::Snapshot;
using permissionstest::Entry;
using permissionstest::ImageHeader;
using permissionstest::SppImage;

constexpr UINT8 kOwner = 0x80;
constexpr UINT8 kZtd = 0x08;

const std::string kChange = PacketXml(5, 1, " Append=\"True\"", {{"Device.New", 0x80}});

class CommitEdgeTest : public PacketTest {
protected:
  // Every SetVariable of Name that writes data is refused with
  // EFI_DEVICE_ERROR; deletions pass.
  void RefuseWritesOf(std::vector<std::u16string> names) {
    platform.setVariableHook = [names](const host::SetVariableCall &call) {
      for (const std::u16string &name : names) {
        if (call.name == name && !call.data.empty()) {
          return EFI_DEVICE_ERROR;
        }
      }
      return EFI_SUCCESS;
    };
  }
  // The change packet in result layout FormatVersion, with no result
  // variable left from an earlier one.
  std::unique_ptr<host::Delivery> DeliverChangeInLayout(UINT8 formatVersion, UINT32 sessionId) {
    platform.EraseVariable(host::ResultName(host::PacketKind::Permissions),
                           gZelmPermissionVariableGuid);
    return Deliver(kChange, kOwner, {.formatVersion = formatVersion, .sessionId = sessionId});
  }
  std::optional<PermissionEntry> EntryOf(const char *id) {
    PermissionEntry *e = FindPermissionEntry(CurrentPermissionStore(), id);
    return e == nullptr ? std::nullopt : std::optional<PermissionEntry>(*e);
  }
  // The store in memory is exactly what "_SPP" holds.
  void ExpectMemoryIsSpp() {
    Snapshot memory = Now();
    ASSERT_TRUE(memory.hasStore);
    PermissionStore *store = CurrentPermissionStore();
    std::vector<UINT8> image(PermissionImageSize(store));
    WritePermissionImage(store, image.data());
    // SavedOn is the one field a load does not compare.
    std::vector<UINT8> stored = memory.spp;
    ASSERT_EQ(stored.size(), image.size());
    std::memset(stored.data() + 29, 0, sizeof(EFI_TIME));
    std::memset(image.data() + 29, 0, sizeof(EFI_TIME));
    EXPECT_EQ(image, stored);
  }
};

std::vector<UINT8> Kppr(UINT8 layout, EFI_STATUS status, UINT32 session) {
  std::vector<UINT8> out = {'K', 'P', 'P', 'R', layout, 0, 0, 0};
  for (int i = 0; i < 8; i++) {
    out.push_back(static_cast<UINT8>(status >> (8 * i)));
  }
  for (int i = 0; i < 4; i++) {
    out.push_back(static_cast<UINT8>(session >> (8 * i)));
  }
  if (layout == 2) {
    out.insert(out.end(), {0, 0});
  }
  return out;
}

TEST_F(CommitEdgeTest, AFailedKeepRewritesItsResultWithTheFailureAndNoElementResults) {
  const std::u16string result = host::ResultName(host::PacketKind::Permissions);
  struct Row {
    const char *name;
    UINT8 formatVersion;
    bool rewriteFails;
  };
  const Row rows[] = {
      {"layout 2", 2, false},
      {"layout 1", 1, false},
      {"layout 2, its rewrite refused too", 2, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    BootWith();
    const Snapshot before = Now();
    const std::vector<UINT8> published = PublishedPermissions();
    auto packet = Deliver(kChange, kOwner, {.formatVersion = row.formatVersion, .sessionId = 77});
    ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
    ASSERT_EQ(Report(*packet), EFI_SUCCESS);
    ASSERT_GT(packet->ResultVariable().size(), 8u);
    RefuseWritesOf(row.rewriteFails ? std::vector<std::u16string>{u"_SPP", result}
                                    : std::vector<std::u16string>{u"_SPP"});
    EXPECT_EQ(Complete(*packet, 2), EFI_DEVICE_ERROR);
    platform.setVariableHook = nullptr;
    const ZELM_APPLY_PACKET &record = *packet->Record();
    EXPECT_EQ(record.State, 255u);
    EXPECT_EQ(record.Status, EFI_DEVICE_ERROR);
    EXPECT_EQ(record.PermissionsChanged, 0);
    if (row.rewriteFails) {
      EXPECT_TRUE(packet->ResultVariable().empty());
    } else {
      EXPECT_EQ(packet->ResultVariable(), Kppr(row.formatVersion, EFI_DEVICE_ERROR, 77));
    }
    EXPECT_EQ(Now(), before);
    EXPECT_EQ(PublishedPermissions(), published);
    // The packet stays for the next boot's delivery.
    EXPECT_TRUE(packet->MailboxPresent());
  }
}

TEST_F(CommitEdgeTest, AKeptPacketDeliveredAgainLeavesExactlyTheSameStore) {
  auto first = Deliver(kChange, kOwner);
  ASSERT_EQ(Run(*first).complete, EFI_SUCCESS);
  EXPECT_FALSE(first->MailboxPresent());
  const Snapshot once = Now();
  const std::vector<UINT8> published = PublishedPermissions();
  platform.SetClock(2026, 12, 9, 11, 0, 0);
  // As after a power cut before the mailbox was deleted: the same packet,
  // delivered at the next boot.
  BootWith();
  auto again = Deliver(kChange, kOwner);
  host::PermissionsOutcome outcome = Run(*again);
  EXPECT_EQ(outcome.apply, EFI_SUCCESS);
  EXPECT_EQ(outcome.complete, EFI_SUCCESS);
  EXPECT_EQ(Now(), once);
  EXPECT_EQ(PublishedPermissions().size(), published.size());
  EXPECT_FALSE(again->MailboxPresent());
}

TEST_F(CommitEdgeTest, AnUnknownOperationDiscardsThePendingChanges) {
  const Snapshot before = Now();
  auto packet = Deliver(kChange, kOwner, {.formatVersion = 2, .sessionId = 5});
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  ASSERT_EQ(Report(*packet), EFI_SUCCESS);
  ASSERT_TRUE(EntryOf("Device.New").has_value());
  EXPECT_EQ(Complete(*packet, 3), EFI_INVALID_PARAMETER);
  const ZELM_APPLY_PACKET &record = *packet->Record();
  EXPECT_EQ(record.State, 255u);
  EXPECT_EQ(record.Status, EFI_INVALID_PARAMETER);
  EXPECT_EQ(record.PermissionsChanged, 0);
  EXPECT_EQ(Now(), before);
  EXPECT_FALSE(EntryOf("Device.New").has_value());
  EXPECT_EQ(packet->ResultVariable(), Kppr(2, EFI_INVALID_PARAMETER, 5));
  EXPECT_FALSE(packet->MailboxPresent());
}

// An owner's store: only the owner may change Device.Owned; the local
// identity may reset (through Zelm.OwnerKey.Enum).
std::vector<UINT8> OwnerImage(UINT8 ownedDMask = 0x80) {
  ImageHeader header;
  header.version = 4;
  header.lowest = 2;
  return SppImage(header, {{"Zelm.OwnerKey.Enum", 0x09, 0x80}, {"Device.Owned", 0x80, ownedDMask}});
}

TEST_F(CommitEdgeTest, AResetWhoseSaveFailsKeepsTheOwnersStoreInForceAndPublishesNothing) {
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, OwnerImage());
  BootWith();
  ASSERT_TRUE(EntryOf("Device.Owned").has_value());
  const std::vector<UINT8> published = PublishedPermissions();
  const Snapshot before = Now();
  ZELM_AUTH_TOKEN local = Token(ZELM_IDENTITY_LOCAL);
  RefuseWritesOf({u"_SPP"});
  platform.ClearSetVariableLog();
  EXPECT_EQ(permission->ResetPermissions(permission, &local), EFI_DEVICE_ERROR);
  platform.setVariableHook = nullptr;
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(PublishedPermissions(), published);
  for (const host::SetVariableCall &call : platform.SetVariableLog()) {
    EXPECT_NE(call.name, u"ZelmPermissionCurrent");
  }
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(HasPermission("Device.Owned", &local, &allowed), EFI_SUCCESS);
  EXPECT_FALSE(allowed);
}

TEST_F(CommitEdgeTest, AStoredRemovalMarkGivesNoSignerTheEntry) {
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, OwnerImage(0x84));
  BootWith(kZtd);
  ASSERT_EQ(EntryOf("Device.Owned")->DMask, 0x80);
  // Replace mode by the zero-touch key, which owns nothing here.
  auto packet = Deliver(PacketXml(5, 2, " Append=\"False\"", {}), kZtd);
  ASSERT_EQ(Run(*packet).complete, EFI_SUCCESS);
  ASSERT_TRUE(EntryOf("Device.Owned").has_value());
  EXPECT_EQ(EntryOf("Device.Owned")->PMask, 0x80);
  ZELM_AUTH_TOKEN local = Token(ZELM_IDENTITY_LOCAL);
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(HasPermission("Device.Owned", &local, &allowed), EFI_SUCCESS);
  EXPECT_FALSE(allowed);
}

// After the owner's key changed, every reload within the boot keeps the
// zero-touch key revoked, and the zero-touch recovery rights stay granted.
TEST_F(CommitEdgeTest, IdentityChangesSurviveEveryReloadUntilTheyAreStored) {
  struct Row {
    const char *name;
    // Runs a packet whose end reloads "_SPP".
    std::function<void()> reload;
  };
  const Row rows[] = {
      {"a refusal after the store was touched",
       [this] {
         auto packet = Deliver(
             PacketXml(5, 1, " Append=\"True\"", {{"Device.A", 1}, {"Device.B", 250}}), kOwner);
         EXPECT_EQ(Run(*packet).apply, EFI_NO_MAPPING);
       }},
      {"a discard",
       [this] {
         auto packet = Deliver(kChange, kOwner);
         ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
         EXPECT_EQ(Complete(*packet, 1), EFI_SUCCESS);
       }},
      {"a failed keep",
       [this] {
         auto packet = Deliver(kChange, kOwner);
         ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
         RefuseWritesOf({u"_SPP"});
         EXPECT_EQ(Complete(*packet, 2), EFI_DEVICE_ERROR);
         platform.setVariableHook = nullptr;
       }},
      {"a failed reset",
       [this] {
         ZELM_AUTH_TOKEN local = Token(ZELM_IDENTITY_LOCAL);
         RefuseWritesOf({u"_SPP"});
         EXPECT_EQ(permission->ResetPermissions(permission, &local), EFI_DEVICE_ERROR);
         platform.setVariableHook = nullptr;
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, OwnerImage());
    BootWith(kZtd);
    ZELM_AUTH_TOKEN ztd = Token(kZtd);
    ASSERT_EQ(permission->IdentityChange(permission, &ztd, ZELM_IDENTITY_OWNER, 1), EFI_SUCCESS);
    const std::vector<Entry> changed = {
        {"Zelm.OwnerKey.Enum", 0x09, 0x80},      {"Device.Owned", 0x80, 0x80},
        {"Zelm.ZtdKey.Enum", 0x00, 0x00},        {"Zelm.Ztd.Recovery.Enable", 0x08, 0x00},
        {"Zelm.ZtdUnenroll.Enable", 0x08, 0x00}, {"Zelm.Recovery.Enable", 0x00, 0x00},
    };
    ASSERT_EQ(permissionstest::EntriesOf(CurrentPermissionStore()), changed);
    const std::vector<UINT8> spp = Spp();
    row.reload();
    ASSERT_NE(CurrentPermissionStore(), nullptr);
    EXPECT_EQ(permissionstest::EntriesOf(CurrentPermissionStore()), changed);
    EXPECT_EQ(Spp(), spp) << "kept in memory only";
  }
}

TEST_F(CommitEdgeTest, IdentityChangesStoredByAWholeStoreWriteAreNotAppliedAgain) {
  ZELM_AUTH_TOKEN local = Token(ZELM_IDENTITY_LOCAL);
  ASSERT_EQ(permission->IdentityChange(permission, &local, ZELM_IDENTITY_OWNER, 1), EFI_SUCCESS);
  ASSERT_EQ(EntryOf("Zelm.ZtdKey.Enum")->PMask, 0x00);
  // The reset writes the defaults over them: the revocation is superseded.
  ASSERT_EQ(permission->ResetPermissions(permission, &local), EFI_SUCCESS);
  ASSERT_EQ(EntryOf("Zelm.ZtdKey.Enum")->PMask, 0x01);
  auto packet = Deliver(kChange, kOwner);
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  ASSERT_EQ(Complete(*packet, 1), EFI_SUCCESS);
  EXPECT_EQ(EntryOf("Zelm.ZtdKey.Enum")->PMask, 0x01);
  ExpectMemoryIsSpp();
}

// Layout 2 carries the text with a 16-bit size: a record claiming more
// than the driver ever makes did not come from ApplyPacket.
TEST_F(CommitEdgeTest, AResultSizeAboveTheLimitIsRefusedOnlyWhereTheTextIsCarried) {
  for (UINT8 formatVersion : {UINT8(2), UINT8(1)}) {
    SCOPED_TRACE(int(formatVersion));
    auto packet = DeliverChangeInLayout(formatVersion, 9);
    ZELM_APPLY_PACKET *record = packet->Record();
    std::vector<CHAR8> text(ZELM_MAX_RESULT_SIZE + 1, 'x');
    record->State = 4;
    record->ResultText = text.data();
    record->ResultSize = text.size();
    const EFI_STATUS reported = Report(*packet);
    record->ResultText = nullptr; // not the driver's to free
    record->ResultSize = 0;
    if (formatVersion == 2) {
      EXPECT_EQ(reported, EFI_INVALID_PARAMETER);
      EXPECT_TRUE(packet->ResultVariable().empty());
    } else {
      EXPECT_EQ(reported, EFI_SUCCESS);
      EXPECT_EQ(packet->ResultVariable(), Kppr(1, EFI_SUCCESS, 9));
    }
  }
}

// A result that cannot get pool for its variable is reported as such and
// leaves no result variable behind, in either layout.
TEST_F(CommitEdgeTest, AResultWithoutPoolIsReportedAndWritesNothing) {
  for (UINT8 formatVersion : {UINT8(2), UINT8(1)}) {
    SCOPED_TRACE(int(formatVersion));
    auto packet = DeliverChangeInLayout(formatVersion, 5);
    ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
    const size_t live = firmware->BootPool().Stats().liveCount;
    firmware->BootPool().FailNth(1);
    EXPECT_EQ(Report(*packet), EFI_OUT_OF_RESOURCES);
    firmware->BootPool().ClearFaults();
    EXPECT_TRUE(packet->ResultVariable().empty());
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    EXPECT_EQ(Complete(*packet, 1), EFI_SUCCESS); // discarded: nothing kept
  }
}

// A reload that cannot apply the remembered changes again (no pool) leaves
// no store rather than one that gives a revoked right back.
TEST_F(CommitEdgeTest, AReloadThatCannotReapplyTheChangesLeavesNoStore) {
  size_t reached = 0;
  for (size_t n = 1; n < 40; n++) {
    SCOPED_TRACE(n);
    BootWith(kZtd);
    ZELM_AUTH_TOKEN ztd = Token(kZtd);
    ASSERT_EQ(permission->IdentityChange(permission, &ztd, ZELM_IDENTITY_OWNER, 1), EFI_SUCCESS);
    host::Pool &pool = firmware->BootPool();
    const size_t failed = pool.Stats().failedAllocations;
    pool.FailNth(n);
    const EFI_STATUS status = ReloadPermissionStore();
    const bool injected = pool.Stats().failedAllocations != failed;
    pool.ClearFaults();
    if (CurrentPermissionStore() == nullptr) {
      EXPECT_TRUE(EFI_ERROR(status));
      reached++;
      continue;
    }
    ASSERT_TRUE(EntryOf("Zelm.Recovery.Enable").has_value());
    EXPECT_EQ(EntryOf("Zelm.Recovery.Enable")->PMask, 0);
    EXPECT_EQ(EntryOf("Zelm.ZtdKey.Enum")->PMask, 0);
    if (!injected) {
      break;
    }
  }
  EXPECT_GE(reached, 3u);
}

} // namespace
