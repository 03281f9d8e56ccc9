// "_SPP": the exact bytes written, every stored format read back, hostile
// images refused, and failures that leave the store and the variable as
// they were.
#include <zelm/ZelmGuids.h>

#include <cstring>

#include "tests/permissions/PermissionsTestSupport.h"

namespace {

using permissionstest::DefaultEntries;
using permissionstest::EntriesOf;
using permissionstest::Entry;
using permissionstest::ImageHeader;
using permissionstest::SppImage;
using permissionstest::StoreTest;

using PermissionImageTest = StoreTest;

std::vector<UINT8> Hex(std::initializer_list<int> values) {
  std::vector<UINT8> out;
  for (int v : values) {
    out.push_back(static_cast<UINT8>(v));
  }
  return out;
}

void AppendText(std::vector<UINT8> &out, const char *text) {
  out.insert(out.end(), text, text + strlen(text) + 1);
}

// 2026-12-09 10:20:30, time zone unspecified.
const std::vector<UINT8> kClockBytes =
    Hex({0xEA, 0x07, 0x0C, 0x09, 0x0A, 0x14, 0x1E, 0x00, 0, 0, 0, 0, 0xFF, 0x07, 0x00, 0x00});

TEST_F(PermissionImageTest, DefaultStoreIsWrittenAsTheseExactBytes) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  EXPECT_TRUE(store->Dirty);
  ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);

  std::vector<UINT8> golden = Hex({'S', 'B', 'C', 'Z', 4, 0, 0, 0, 0, 0, 0, 0, 0});
  golden.insert(golden.end(), kClockBytes.begin(), kClockBytes.end()); // CreatedOn
  golden.insert(golden.end(), kClockBytes.begin(), kClockBytes.end()); // SavedOn
  for (int b : {0x01, 0x80, 0x04, 0x00, 0x09, 0x80, 0x13}) {
    golden.push_back(static_cast<UINT8>(b));
  }
  AppendText(golden, "Zelm.OwnerKey.Enum");
  golden.insert(golden.end(), {0x01, 0x00, 0x11});
  AppendText(golden, "Zelm.ZtdKey.Enum");
  golden.insert(golden.end(), {0x00, 0x00, 0x18});
  AppendText(golden, "Zelm.ZtdUnenroll.Enable");
  golden.insert(golden.end(), {0x00, 0x00, 0x19});
  AppendText(golden, "Zelm.Ztd.Recovery.Enable");
  ASSERT_EQ(golden.size(), 146u);

  EXPECT_EQ(Spp(), golden);
  EXPECT_EQ(platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->attributes, 3u);
  EXPECT_FALSE(store->Dirty);
  EXPECT_EQ(memcmp(&store->SavedOn, kClockBytes.data(), sizeof(EFI_TIME)), 0);
}

TEST_F(PermissionImageTest, StoreWithManyEntriesIsWrittenInListOrder) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  std::vector<Entry> entries = DefaultEntries();
  for (int i = 0; i < 60; i++) {
    Entry e{"Vendor.Setting" + std::to_string(i) + ".Enable", static_cast<UINT8>(i),
            static_cast<UINT8>(0xFF - i)};
    ASSERT_EQ(SetPermissionEntry(store, e.id.c_str(), e.pMask, e.dMask), EFI_SUCCESS);
    entries.push_back(e);
  }
  store->Version = 0x01020304;
  store->LowestSupportedVersion = 0x01020300;
  store->DefaultPMask = 0x20;
  store->DefaultDMask = 0x90;
  ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);

  ImageHeader header;
  header.version = 0x01020304;
  header.lowest = 0x01020300;
  memcpy(&header.createdOn, kClockBytes.data(), sizeof(EFI_TIME));
  memcpy(&header.savedOn, kClockBytes.data(), sizeof(EFI_TIME));
  header.defaultPMask = 0x20;
  header.defaultDMask = 0x90;
  EXPECT_EQ(Spp(), SppImage(header, entries));
  EXPECT_EQ(PermissionImageSize(store), Spp().size());
}

struct LoadRow {
  const char *name;
  std::vector<UINT8> image;
  UINT32 attributes;
  EFI_STATUS status;
  std::vector<Entry> entries; // when loaded
  UINT8 defaultDMask;         // when loaded
  bool rewritten;             // written back as format 4
};

ImageHeader Format(UINT8 format, UINT8 defaultDMask = 0x80) {
  ImageHeader h;
  h.format = format;
  h.defaultDMask = defaultDMask;
  return h;
}

std::vector<UINT8> WithByte(std::vector<UINT8> image, size_t offset, UINT8 value) {
  image.at(offset) = value;
  return image;
}

std::vector<UINT8> Cut(std::vector<UINT8> image, size_t size) {
  image.resize(size);
  return image;
}

std::vector<LoadRow> LoadRows() {
  const std::vector<Entry> two = {{"Device.A.Enable", 0x03, 0x80}, {"Device.B.Enable", 0x10, 0x20}};
  const std::vector<UINT8> v4 = SppImage(Format(4), two);
  const std::vector<Entry> v2Loaded = {{"Device.A.Enable", 0x03, 0x80},
                                       {"Device.B.Enable", 0x10, 0x80}};
  std::vector<UINT8> v1 = SppImage(Format(1), two);
  std::vector<UINT8> noNul = v4;
  noNul[49 + 3 + 15] = 'x'; // the first id's NUL
  std::vector<UINT8> innerNul = SppImage(Format(4), {{"Abc", 1, 2}});
  innerNul[49 + 3 + 1] = 0; // "A\0c\0"
  std::vector<UINT8> idSizeZero = Hex({'S', 'B', 'C', 'Z', 4});
  idSizeZero.resize(45, 0);
  idSizeZero.insert(idSizeZero.end(), {0x01, 0x80, 0x01, 0x00, 0x01, 0x80, 0x00});
  std::vector<UINT8> trailing = v4;
  trailing.insert(trailing.end(), {1, 2, 3});
  std::vector<UINT8> tooLarge = SppImage(Format(4), two);
  tooLarge.resize(2049, 0);
  std::string id96(96, 'i');
  std::string id97(97, 'j');
  return {
      {"format 4", v4, 3, EFI_SUCCESS, two, 0x80, false},
      {"format 4 with bytes after its entries", trailing, 3, EFI_SUCCESS, two, 0x80, false},
      {"format 3", SppImage(Format(3, 0x40), two), 3, EFI_SUCCESS, two, 0x40, true},
      {"format 3 without delegation", SppImage(Format(3, 0), two), 3, EFI_SUCCESS, two, 0xF0, true},
      {"format 2", SppImage(Format(2), two), 3, EFI_SUCCESS, v2Loaded, 0x80, true},
      {"format 1", v1, 3, EFI_SUCCESS, {}, 0x80, true},
      {"format 1, size off by one", Cut(v1, v1.size() - 1), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"format 1, header only", Cut(SppImage(Format(1), {}), 48), 3, EFI_SUCCESS, {}, 0x80, true},
      {"attributes 7", v4, 7, EFI_NOT_FOUND, {}, 0, false},
      {"2049 bytes", tooLarge, 3, EFI_NOT_FOUND, {}, 0, false},
      {"wrong signature", WithByte(v4, 3, 'Y'), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"version below the lowest supported",
       WithByte(v4, 9, 1),
       3,
       EFI_COMPROMISED_DATA,
       {},
       0,
       false},
      {"format 0", WithByte(v4, 4, 0), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"format 5", WithByte(v4, 4, 5), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"one entry more than it holds", WithByte(v4, 47, 3), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"entry count in the high byte", WithByte(v4, 48, 1), 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"id size past the end",
       WithByte(v4, 49 + 19 + 2, 40),
       3,
       EFI_COMPROMISED_DATA,
       {},
       0,
       false},
      {"id without its NUL", noNul, 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"id size 0", idSizeZero, 3, EFI_COMPROMISED_DATA, {}, 0, false},
      {"NUL inside the id", innerNul, 3, EFI_SUCCESS, {{"A", 1, 2}}, 0x80, false},
      {"ids that begin with a digit or run over 96 characters are skipped",
       SppImage(Format(4), {{"1st", 1, 1}, {id97, 2, 2}, {id96, 3, 3}, {"Ok", 4, 8}}),
       3,
       EFI_SUCCESS,
       {{id96, 3, 3}, {"Ok", 4, 8}},
       0x80,
       false},
      // A stored removal mark would let the next packet of any signer drop
      // the entry: it is cleared as the store is loaded, in every format.
      {"removal marks are cleared in format 4",
       SppImage(Format(4, 0x84), {{"Marked", 1, 0x84}, {"Mark", 2, 0x04}}),
       3,
       EFI_SUCCESS,
       {{"Marked", 1, 0x80}, {"Mark", 2, 0x00}},
       0x80,
       false},
      {"a format-3 delegation that is only the removal mark leaves the defaults to no identity",
       SppImage(Format(3, 0x04), {}),
       3,
       EFI_SUCCESS,
       {},
       0x00,
       true},
      {"removal marks are cleared in format 3",
       SppImage(Format(3, 0x04), {{"Marked", 1, 0x94}}),
       3,
       EFI_SUCCESS,
       {{"Marked", 1, 0x90}},
       0x00,
       true},
      {"duplicate ids stay separate entries",
       SppImage(Format(4), {{"Dup", 1, 1}, {"Dup", 2, 2}}),
       3,
       EFI_SUCCESS,
       {{"Dup", 1, 1}, {"Dup", 2, 2}},
       0x80,
       false},
  };
}

TEST_F(PermissionImageTest, EveryStoredFormatLoadsOrIsRefused) {
  for (const LoadRow &row : LoadRows()) {
    SCOPED_TRACE(row.name);
    PutSpp(row.image, row.attributes);
    platform.ClearSetVariableLog();
    size_t live = firmware->BootPool().Stats().liveCount;
    BOOLEAN migrated = 2;
    EXPECT_EQ(LoadPermissionStore(&migrated), row.status);
    PermissionStore *store = CurrentPermissionStore();
    if (EFI_ERROR(row.status)) {
      EXPECT_EQ(store, nullptr);
      EXPECT_FALSE(migrated);
      EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
      EXPECT_EQ(WritesOf(u"_SPP"), 0u);
      continue;
    }
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(EntriesOf(store), row.entries);
    EXPECT_EQ(store->DefaultPMask, 0x01);
    EXPECT_EQ(store->DefaultDMask, row.defaultDMask);
    EXPECT_EQ(bool(migrated), row.rewritten);
    EXPECT_EQ(WritesOf(u"_SPP"), row.rewritten ? 1u : 0u);
    if (row.rewritten) {
      EXPECT_FALSE(store->Dirty);
      EXPECT_EQ(Spp()[4], 4);
      DropStore();
      ASSERT_EQ(LoadPermissionStore(&migrated), EFI_SUCCESS); // the rewrite reads back alike
      EXPECT_EQ(EntriesOf(CurrentPermissionStore()), row.entries);
      EXPECT_EQ(CurrentPermissionStore()->DefaultDMask, row.defaultDMask);
      EXPECT_FALSE(migrated);
    } else {
      EXPECT_FALSE(store->Dirty);
      EXPECT_EQ(Spp(), row.image);
    }
    DropStore();
  }
}

TEST_F(PermissionImageTest, EveryTruncationOfAValidImageIsRefused) {
  std::vector<UINT8> v4 = SppImage(Format(4), DefaultEntries());
  for (size_t size = 1; size < v4.size(); size++) {
    SCOPED_TRACE(size);
    PutSpp(Cut(v4, size));
    EXPECT_EQ(LoadPermissionStore(nullptr), EFI_COMPROMISED_DATA);
    EXPECT_EQ(CurrentPermissionStore(), nullptr);
  }
  platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
  EXPECT_EQ(LoadPermissionStore(nullptr), EFI_NOT_FOUND);
}

TEST_F(PermissionImageTest, PoolFailureAtEveryAllocationLoadsNothing) {
  PutSpp(SppImage(Format(3), DefaultEntries()));
  for (size_t n = 1;; n++) {
    SCOPED_TRACE(n);
    PutSpp(SppImage(Format(3), DefaultEntries()));
    size_t live = firmware->BootPool().Stats().liveCount;
    firmware->BootPool().FailNth(n);
    EFI_STATUS status = LoadPermissionStore(nullptr);
    firmware->BootPool().ClearFaults();
    if (!EFI_ERROR(status)) {
      EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
      break;
    }
    EXPECT_TRUE(status == EFI_ABORTED || status == EFI_OUT_OF_RESOURCES) << status;
    EXPECT_EQ(CurrentPermissionStore(), nullptr);
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    ASSERT_LT(n, 40u);
  }
}

TEST_F(PermissionImageTest, PoolFailureAtEveryAllocationCreatesNoPartialDefaults) {
  for (size_t n = 1;; n++) {
    SCOPED_TRACE(n);
    size_t live = firmware->BootPool().Stats().liveCount;
    firmware->BootPool().FailNth(n);
    EFI_STATUS status = CreateDefaultPermissionStore();
    firmware->BootPool().ClearFaults();
    if (!EFI_ERROR(status)) {
      EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
      break;
    }
    EXPECT_EQ(status, EFI_ABORTED);
    EXPECT_EQ(CurrentPermissionStore(), nullptr);
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    ASSERT_LT(n, 20u);
  }
}

TEST_F(PermissionImageTest, SaveWritesOnlyAChangedDirtyStore) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  std::vector<UINT8> first = Spp();
  platform.ClearSetVariableLog();

  EXPECT_EQ(SavePermissionStore(store), EFI_SUCCESS); // clean: nothing to do
  platform.SetClock(2027, 1, 2, 3, 4, 5);
  store->Dirty = TRUE;
  EXPECT_EQ(SavePermissionStore(store), EFI_SUCCESS); // only the time would change
  EXPECT_TRUE(store->Dirty);
  EXPECT_EQ(platform.SetVariableLog().size(), 0u); // "_SPP" and "Setup" untouched
  EXPECT_EQ(Spp(), first);

  ASSERT_EQ(SetPermissionEntry(store, "Zelm.ZtdKey.Enum", 0, 0), EFI_SUCCESS);
  EXPECT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  EXPECT_FALSE(store->Dirty);
  EXPECT_EQ(Spp()[29], 0xEB); // SavedOn: 2027
  EXPECT_EQ(store->SavedOn.Year, 2027);
}

// A stored copy that begins with the image but is longer is not the image:
// it is rewritten, so no stale bytes stay behind it.
TEST_F(PermissionImageTest, StoredCopyWithTrailingBytesIsRewritten) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  const std::vector<UINT8> image = Spp();
  std::vector<UINT8> longer = image;
  longer.push_back(0x5A);
  platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, 3, longer);
  store->Dirty = TRUE;
  EXPECT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  EXPECT_FALSE(store->Dirty);
  EXPECT_EQ(Spp(), image);
}

TEST_F(PermissionImageTest, ImageOver2048BytesIsRefusedAndStaysDirty) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  while (FirstPermissionEntry(store) != nullptr) {
    RemovePermissionEntry(store, FirstPermissionEntry(store));
  }
  // 49 + 19 * 100 + 99 = 2048: entries of 96 characters, the last of 95.
  for (int i = 0; i < 19; i++) {
    std::string id = std::string(94, 'a') + char('A' + i / 10) + char('0' + i % 10);
    ASSERT_EQ(AddPermissionEntry(store, id.c_str(), 1, 1), EFI_SUCCESS);
  }
  ASSERT_EQ(AddPermissionEntry(store, std::string(95, 'z').c_str(), 1, 1), EFI_SUCCESS);
  ASSERT_EQ(PermissionImageSize(store), 2048u);
  EXPECT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  EXPECT_EQ(Spp().size(), 2048u);

  ASSERT_EQ(SetPermissionEntry(store, "Z", 1, 1), EFI_SUCCESS); // 2053 bytes
  store->Dirty = TRUE;
  platform.ClearSetVariableLog();
  EXPECT_EQ(SavePermissionStore(store), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(store->Dirty);
  EXPECT_EQ(platform.SetVariableLog().size(), 0u);
  EXPECT_EQ(Spp().size(), 2048u);
}

TEST_F(PermissionImageTest, RefusedWriteKeepsTheStoreDirtyAndStillSyncsTheIndicator) {
  platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7,
                       permissionstest::SetupBlock(0x100, 0));
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  PermissionStore *store = CurrentPermissionStore();
  store->DefaultPMask = 0x80;
  platform.FailSetVariable(1, EFI_WRITE_PROTECTED);
  EXPECT_EQ(SavePermissionStore(store), EFI_WRITE_PROTECTED);
  EXPECT_TRUE(store->Dirty);
  EXPECT_EQ(store->SavedOn.Year, 0);
  EXPECT_TRUE(Spp().empty());
  EXPECT_EQ(permissionstest::VariableBytes(platform, u"Setup", gPlatformSetupVariableGuid)[0x80],
            2);
}

TEST_F(PermissionImageTest, StoreWithOtherAttributesIsReplaced) {
  PutSpp(SppImage(Format(4), DefaultEntries()), 7);
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  EXPECT_EQ(SavePermissionStore(CurrentPermissionStore()), EFI_SUCCESS);
  EXPECT_EQ(platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->attributes, 3u);
  EXPECT_FALSE(CurrentPermissionStore()->Dirty);
}

TEST_F(PermissionImageTest, SaveUnderPoolFailureReportsAbortedAndWritesNothing) {
  ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
  firmware->BootPool().FailNth(1);
  EXPECT_EQ(SavePermissionStore(CurrentPermissionStore()), EFI_ABORTED);
  firmware->BootPool().ClearFaults();
  EXPECT_TRUE(CurrentPermissionStore()->Dirty);
  EXPECT_TRUE(Spp().empty());
  EXPECT_EQ(SavePermissionStore(nullptr), EFI_INVALID_PARAMETER);
}

struct IndicatorRow {
  const char *name;
  UINT8 defaultPMask;
  size_t setupSize;
  UINT8 before;
  UINT8 after;
  bool written;
};

TEST_F(PermissionImageTest, IndicatorByteFollowsTheLocalIdentityOfTheDefaults) {
  const IndicatorRow rows[] = {
      {"local absent, byte 0", 0x80, 0x100, 0, 2, true},
      {"local absent, byte 4", 0x02, 0x100, 4, 2, true},
      {"local absent, byte already 2", 0x80, 0x100, 2, 2, false},
      {"local present, byte 2", 0x01, 0x100, 2, 4, true},
      {"local present, byte 0", 0x81, 0x100, 0, 0, false},
      {"local present, byte 7", 0x01, 0x100, 7, 7, false},
      {"block of 0x81 bytes", 0x80, 0x81, 0, 2, true},
  };
  for (const IndicatorRow &row : rows) {
    SCOPED_TRACE(row.name);
    platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7,
                         permissionstest::SetupBlock(row.setupSize, row.before));
    ASSERT_EQ(CreateDefaultPermissionStore(), EFI_SUCCESS);
    CurrentPermissionStore()->DefaultPMask = row.defaultPMask;
    platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
    platform.ClearSetVariableLog();
    EXPECT_EQ(SavePermissionStore(CurrentPermissionStore()), EFI_SUCCESS);
    std::vector<UINT8> setup =
        permissionstest::VariableBytes(platform, u"Setup", gPlatformSetupVariableGuid);
    std::vector<UINT8> expected = permissionstest::SetupBlock(row.setupSize, row.after);
    EXPECT_EQ(setup, expected);
    EXPECT_EQ(WritesOf(u"Setup"), row.written ? 1u : 0u);
    DropStore();
  }
}

// Asked directly: success whether or not the byte had to change, and a
// write only when it did.
TEST_F(PermissionImageTest, IndicatorSyncSucceedsWithOrWithoutAWrite) {
  const struct {
    BOOLEAN localAbsent;
    UINT8 before, after;
  } rows[] = {{TRUE, 2, 2}, {FALSE, 0, 0}, {FALSE, 4, 4}, {TRUE, 0, 2}, {FALSE, 2, 4}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.before * 2 + row.localAbsent);
    platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7,
                         permissionstest::SetupBlock(0x100, row.before));
    platform.ClearSetVariableLog();
    EXPECT_EQ(SyncPermissionIndicator(row.localAbsent), EFI_SUCCESS);
    EXPECT_EQ(permissionstest::VariableBytes(platform, u"Setup", gPlatformSetupVariableGuid),
              permissionstest::SetupBlock(0x100, row.after));
    EXPECT_EQ(WritesOf(u"Setup"), row.before == row.after ? 0u : 1u);
  }
}

// A block too short to hold the indicator is reported, whichever way the
// local identity went: nothing says the platform's screens read it.
TEST_F(PermissionImageTest, IndicatorIsNotWrittenPastAShortBlock) {
  for (BOOLEAN localAbsent : {TRUE, FALSE}) {
    for (size_t size : {1u, 0x40u, 0x80u}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " local absent " << int(localAbsent));
      platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7, std::vector<UINT8>(size, 0x11));
      platform.ClearSetVariableLog();
      EXPECT_EQ(SyncPermissionIndicator(localAbsent), EFI_BAD_BUFFER_SIZE);
      EXPECT_EQ(WritesOf(u"Setup"), 0u);
      EXPECT_EQ(permissionstest::VariableBytes(platform, u"Setup", gPlatformSetupVariableGuid),
                std::vector<UINT8>(size, 0x11));
    }
  }
  platform.EraseVariable(u"Setup", gPlatformSetupVariableGuid);
  EXPECT_EQ(SyncPermissionIndicator(TRUE), EFI_NOT_FOUND);
  EXPECT_EQ(SyncPermissionIndicator(FALSE), EFI_NOT_FOUND);
}

} // namespace
