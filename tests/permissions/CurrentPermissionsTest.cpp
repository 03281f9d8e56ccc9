// "ZelmPermissionCurrent": the exact document, when it is rewritten, and
// that a failure never leaves a partial or stale document behind.
#include <zelm/ZelmGuids.h>

#include "permissions/CurrentPermissions.h"
#include "support/Pool.h"
#include "tests/permissions/PermissionsTestSupport.h"

namespace {

using permissionstest::StoreTest;

class CurrentPermissionsTest : public StoreTest {
protected:
  std::string Published() const {
    std::vector<UINT8> bytes = permissionstest::VariableBytes(platform, u"ZelmPermissionCurrent",
                                                              gZelmPermissionVariableGuid);
    return std::string(bytes.begin(), bytes.end());
  }
  const host::Variable *Variable() const {
    return platform.FindVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid);
  }
  void PutPublished(const std::string &text, UINT32 attributes) {
    platform.PutVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid, attributes, text);
  }
};

const char kHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string Entry(const std::string &id, int pMask, int dMask) {
  std::string out =
      "<PermissionCurrent><Id>" + id + "</Id><PMask>" + std::to_string(pMask) + "</PMask>";
  if (dMask != 0) {
    out += "<DMask>" + std::to_string(dMask) + "</DMask>";
  }
  return out + "</PermissionCurrent>";
}

std::string DefaultDocument() {
  return std::string(kHead) +
         "<CurrentPermissionsPacket Default=\"1\" "
         "Delegated=\"128\"><Date>2026-12-09T10:20:30</Date>"
         "<Permissions>" +
         Entry("Zelm.OwnerKey.Enum", 9, 128) + Entry("Zelm.ZtdKey.Enum", 1, 0) +
         Entry("Zelm.ZtdUnenroll.Enable", 0, 0) + Entry("Zelm.Ztd.Recovery.Enable", 0, 0) +
         "</Permissions><LSV>0</LSV></CurrentPermissionsPacket>" + std::string(1, '\0');
}

TEST_F(CurrentPermissionsTest, DefaultStoreIsPublishedAsThisExactDocument) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  EXPECT_EQ(PublishCurrentPermissions(FALSE), EFI_SUCCESS);
  EXPECT_EQ(Published(), DefaultDocument());
  EXPECT_EQ(Variable()->attributes, 7u);
}

TEST_F(CurrentPermissionsTest, EveryEntryAppearsInListOrderWithItsTextEscaped) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  store->DefaultPMask = 0;
  store->DefaultDMask = 255;
  std::string entries = Entry("Zelm.OwnerKey.Enum", 9, 128) + Entry("Zelm.ZtdKey.Enum", 1, 0) +
                        Entry("Zelm.ZtdUnenroll.Enable", 0, 0) +
                        Entry("Zelm.Ztd.Recovery.Enable", 0, 0);
  for (int i = 0; i < 40; i++) {
    std::string id = "Vendor." + std::to_string(i);
    ASSERT_EQ(AddPermissionEntry(store, id.c_str(), static_cast<UINT8>(i * 6),
                                 static_cast<UINT8>(i % 3 == 0 ? 0 : 255 - i)),
              EFI_SUCCESS);
    entries += Entry(id, i * 6, i % 3 == 0 ? 0 : 255 - i);
  }
  ASSERT_EQ(AddPermissionEntry(store, "A&B<C>\"'", 1, 2), EFI_SUCCESS);
  entries += Entry("A&amp;B&lt;C&gt;&quot;&apos;", 1, 2);
  EXPECT_EQ(PublishCurrentPermissions(TRUE), EFI_SUCCESS);
  EXPECT_EQ(Published(), std::string(kHead) +
                             "<CurrentPermissionsPacket Default=\"0\" Delegated=\"255\">"
                             "<Date>2026-12-09T10:20:30</Date><Permissions>" +
                             entries + "</Permissions><LSV>0</LSV></CurrentPermissionsPacket>" +
                             std::string(1, '\0'));
}

TEST_F(CurrentPermissionsTest, EmptyStoreStillHasPermissionsAndLsv) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  while (FirstPermissionEntry(store) != nullptr) {
    RemovePermissionEntry(store, FirstPermissionEntry(store));
  }
  CHAR8 *text = nullptr;
  UINTN size = 0;
  ASSERT_EQ(BuildCurrentPermissionsXml(&text, &size), EFI_SUCCESS);
  EXPECT_EQ(
      std::string(text, size),
      std::string(kHead) +
          "<CurrentPermissionsPacket Default=\"1\" Delegated=\"128\"><Date>2026-12-09T10:20:30"
          "</Date><Permissions /><LSV>0</LSV></CurrentPermissionsPacket>" +
          std::string(1, '\0'));
  FreePool(text);
}

// Not forced, the document is written only when the stored one differs in
// more than its date: a stale document is repaired, a current one costs no
// write.
TEST_F(CurrentPermissionsTest, ExistingDocumentIsKeptOnlyWhenItIsCurrent) {
  std::string otherDate = DefaultDocument();
  const size_t date = otherDate.find("2026-12-09T10:20:30");
  ASSERT_NE(date, std::string::npos);
  otherDate.replace(date, 19, "2025-01-02T03:04:05");
  std::string otherMarkup = DefaultDocument();
  otherMarkup.replace(date, 19, "<x>2025-01-02</x>03");
  struct Row {
    const char *name;
    std::string stored;
    UINT32 attributes;
    BOOLEAN force;
    bool rewritten;
  };
  const Row rows[] = {
      {"stale, attributes 7, not forced", "old", 7, FALSE, true},
      {"stale, attributes 7, forced", "old", 7, TRUE, true},
      {"stale, attributes 3, not forced", "old", 3, FALSE, true},
      {"stale, attributes 3, forced", "old", 3, TRUE, true},
      {"current but for the date, not forced", otherDate, 7, FALSE, false},
      {"current but for the date, forced", otherDate, 7, TRUE, true},
      {"current, attributes 3, not forced", otherDate, 3, FALSE, true},
      {"markup where the date was, not forced", otherMarkup, 7, FALSE, true},
  };
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    PutPublished(row.stored, row.attributes);
    platform.ClearSetVariableLog();
    EXPECT_EQ(PublishCurrentPermissions(row.force), EFI_SUCCESS);
    EXPECT_EQ(Published(), row.rewritten ? DefaultDocument() : row.stored);
    EXPECT_EQ(Variable()->attributes, row.rewritten ? 7u : row.attributes);
    if (!row.rewritten) {
      EXPECT_TRUE(platform.SetVariableLog().empty());
    }
  }
}

TEST_F(CurrentPermissionsTest, FailedForcedPublicationLeavesNoStaleDocument) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PutPublished("stale", 7);
  platform.FailSetVariable(1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(PublishCurrentPermissions(TRUE), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Variable(), nullptr);

  PutPublished("stale", 7);
  platform.getTimeStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(PublishCurrentPermissions(TRUE), EFI_DEVICE_ERROR);
  EXPECT_EQ(Variable(), nullptr);

  PutPublished("kept", 3); // not forced: the previous content stays
  EXPECT_EQ(PublishCurrentPermissions(FALSE), EFI_DEVICE_ERROR);
  EXPECT_EQ(Published(), "kept");
}

TEST_F(CurrentPermissionsTest, PoolFailureAtEveryAllocationPublishesAllOrNothing) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  for (size_t n = 1;; n++) {
    SCOPED_TRACE(n);
    PutPublished("stale", 7);
    size_t live = firmware->BootPool().Stats().liveCount;
    firmware->BootPool().FailNth(n);
    EFI_STATUS status = PublishCurrentPermissions(TRUE);
    firmware->BootPool().ClearFaults();
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    if (!EFI_ERROR(status)) {
      EXPECT_EQ(Published(), DefaultDocument());
      break;
    }
    EXPECT_EQ(Variable(), nullptr) << status;
    ASSERT_LT(n, 100u);
  }
}

TEST_F(CurrentPermissionsTest, NothingIsBuiltWithoutAStore) {
  CHAR8 *text = reinterpret_cast<CHAR8 *>(1);
  UINTN size = 1;
  EXPECT_EQ(BuildCurrentPermissionsXml(&text, &size), EFI_NOT_FOUND);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(BuildCurrentPermissionsXml(nullptr, &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(PublishCurrentPermissions(FALSE), EFI_NOT_FOUND);
  EXPECT_EQ(Variable(), nullptr);
}

TEST_F(CurrentPermissionsTest, EntriesGoOnlyUnderPermissions) {
  EFI_TIME time = {};
  XmlNode *tree = BuildCurrentPermissionsTree(&time);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(AddPermissionCurrent(tree, "Id", 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddPermissionCurrent(nullptr, "Id", 1, 1), EFI_INVALID_PARAMETER);
  XmlNode *permissions = XmlFindChild(tree, "Permissions");
  EXPECT_EQ(AddPermissionCurrent(permissions, nullptr, 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddPermissionCurrent(permissions, "Id", 1, 0), EFI_SUCCESS);
  EXPECT_EQ(permissions->NumChildren, 1u);
  EXPECT_EQ(XmlFreeTree(&tree), EFI_SUCCESS);
}

} // namespace
