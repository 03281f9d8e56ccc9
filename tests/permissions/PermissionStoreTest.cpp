// The in-memory store: entries added, found and replaced by exact id.
#include "tests/permissions/PermissionsTestSupport.h"

namespace {

using permissionstest::EntriesOf;
using permissionstest::Entry;
using permissionstest::StoreTest;

using PermissionStoreTest = StoreTest;

TEST_F(PermissionStoreTest, IdsAreStoredUpTo96Characters) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  std::string id96(96, 'a');
  std::string id97(97, 'a');
  EXPECT_EQ(AddPermissionEntry(store, id96.c_str(), 1, 2), EFI_SUCCESS);
  EXPECT_EQ(AddPermissionEntry(store, id97.c_str(), 3, 4), EFI_INVALID_PARAMETER);
  ASSERT_NE(FindPermissionEntry(store, id96.c_str()), nullptr);
  EXPECT_EQ(FindPermissionEntry(store, id96.c_str())->IdSize, 97);
  EXPECT_EQ(FindPermissionEntry(store, id97.c_str()), nullptr);
  EXPECT_EQ(PermissionMaskOf(store, id97.c_str()), store->DefaultPMask);
  EXPECT_EQ(SetPermissionEntry(store, id97.c_str(), 3, 4), EFI_INVALID_PARAMETER);
}

TEST_F(PermissionStoreTest, IdsThatBeginWithADigitAreNeverStored) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  size_t before = EntriesOf(store).size();
  for (const char *id : {"0", "9.Setting", "1Zelm.OwnerKey.Enum"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(SetPermissionEntry(store, id, 0xFF, 0xFF), EFI_SUCCESS);
    EXPECT_EQ(FindPermissionEntry(store, id), nullptr);
    EXPECT_EQ(PermissionMaskOf(store, id), 0x01);
  }
  EXPECT_EQ(EntriesOf(store).size(), before);
}

TEST_F(PermissionStoreTest, LookupIsExactAndSetReplacesBothMasksInPlace) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  store->Dirty = FALSE;
  EXPECT_EQ(FindPermissionEntry(store, "Zelm.OwnerKey"), nullptr);       // prefix
  EXPECT_EQ(FindPermissionEntry(store, "Zelm.OwnerKey.EnumX"), nullptr); // longer
  EXPECT_EQ(FindPermissionEntry(store, "zelm.ownerkey.enum"), nullptr);  // case
  EXPECT_EQ(SetPermissionEntry(store, "Zelm.ZtdKey.Enum", 0x42, 0x24), EFI_SUCCESS);
  EXPECT_EQ(SetPermissionEntry(store, "New.Entry", 0x10, 0x20), EFI_SUCCESS);
  std::vector<Entry> expected = {{"Zelm.OwnerKey.Enum", 0x09, 0x80},
                                 {"Zelm.ZtdKey.Enum", 0x42, 0x24},
                                 {"Zelm.ZtdUnenroll.Enable", 0, 0},
                                 {"Zelm.Ztd.Recovery.Enable", 0, 0},
                                 {"New.Entry", 0x10, 0x20}};
  EXPECT_EQ(EntriesOf(store), expected);
  EXPECT_FALSE(store->Dirty); // entry changes reach "_SPP" with the next save of a dirty store
  EXPECT_EQ(FindPermissionEntry(store, "New.Entry")->Signature, 0x534C504Bu);
}

// Two ids of one hash, one the start of the other: the hash only narrows
// the search, and a lookup of the shorter id never finds the longer one's
// rights (nor the other way round).
TEST_F(PermissionStoreTest, IdsOfOneHashAreToldApartByLength) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  const char *shorter = "Device.Collide";
  const char *longer = "Device.CollideQE0hHb"; // same FNV-1a value, 0x95751BDB
  ASSERT_EQ(AddPermissionEntry(store, longer, 0x42, 0x24), EFI_SUCCESS);
  EXPECT_EQ(FindPermissionEntry(store, shorter), nullptr);
  EXPECT_EQ(PermissionMaskOf(store, shorter), store->DefaultPMask);
  ASSERT_EQ(AddPermissionEntry(store, shorter, 0x11, 0x22), EFI_SUCCESS);
  ASSERT_NE(FindPermissionEntry(store, shorter), nullptr);
  EXPECT_EQ(FindPermissionEntry(store, shorter)->PMask, 0x11);
  EXPECT_EQ(FindPermissionEntry(store, longer)->PMask, 0x42);
  EXPECT_EQ(FindPermissionEntry(store, shorter)->IdHash,
            FindPermissionEntry(store, longer)->IdHash);
}

// Many entries and duplicates: a lookup answers with the first entry of
// that id in list order, before and after removals.
TEST_F(PermissionStoreTest, LookupFindsTheFirstOfDuplicatesAmongManyEntries) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  for (int i = 0; i < 500; i++) {
    std::string id = "Id" + std::to_string(i % 250);
    ASSERT_EQ(AddPermissionEntry(store, id.c_str(), static_cast<UINT8>(i), 0), EFI_SUCCESS);
  }
  for (int i = 0; i < 250; i++) {
    std::string id = "Id" + std::to_string(i);
    PermissionEntry *first = FindPermissionEntry(store, id.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->PMask, i);
    RemovePermissionEntry(store, first);
    ASSERT_NE(FindPermissionEntry(store, id.c_str()), nullptr);
    EXPECT_EQ(FindPermissionEntry(store, id.c_str())->PMask, static_cast<UINT8>(i + 250));
    RemovePermissionEntry(store, FindPermissionEntry(store, id.c_str()));
    EXPECT_EQ(FindPermissionEntry(store, id.c_str()), nullptr);
  }
  EXPECT_EQ(EntriesOf(store).size(), 4u);
  EXPECT_NE(FindPermissionEntry(store, "Zelm.Ztd.Recovery.Enable"), nullptr);
}

TEST_F(PermissionStoreTest, MissingArgumentsAreRefused) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  EXPECT_EQ(AddPermissionEntry(nullptr, "A", 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddPermissionEntry(store, nullptr, 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetPermissionEntry(nullptr, "A", 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindPermissionEntry(nullptr, "A"), nullptr);
  EXPECT_EQ(FindPermissionEntry(store, nullptr), nullptr);
  FreePermissionStore(nullptr);
}

} // namespace
