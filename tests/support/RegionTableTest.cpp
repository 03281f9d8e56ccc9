// Lookups in the region table, including hostile tables: every image is
// held in a block of exactly its size, so a read past it fails under ASan.
#include <gtest/gtest.h>
#include <platform/PlatformGuids.h>

#include "host/PlatformRegions.h"
#include "support/RegionTable.h"

namespace {

using host::RegionEntryLayout;
using host::RegionTableLayout;

constexpr EFI_GUID kTypeA = {0xaaaaaaaa, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kTypeB = {0xbbbbbbbb, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kSub1 = {0x11, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr EFI_GUID kSub2 = {0x22, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr UINT32 kIgnored = 2;

class RegionTableTest : public ::testing::Test {
protected:
  ~RegionTableTest() override { SetPlatformRegionTable(nullptr); }
  void Use(const RegionTableLayout &layout) {
    SetPlatformRegionTable(memory.Hold(host::BuildRegionTable(layout)));
  }
  host::PlatformMemory memory;
};

RegionTableLayout ThreeEntries() {
  RegionTableLayout layout;
  layout.base = 0x100000;
  layout.entries = {{kTypeA, kSub1, 0x1000, 0x200, 0},
                    {kTypeB, kSub1, 0x2000, 0x300, 0},
                    {kTypeA, kSub2, 0x3000, 0x400, 0}};
  return layout;
}

TEST_F(RegionTableTest, EntriesOfATypeAreNumberedInTableOrder) {
  Use(ThreeEntries());
  struct Case {
    EFI_GUID type;
    UINT32 n;
    EFI_STATUS status;
    EFI_GUID subId;
    UINT64 offset;
    UINT64 size;
  } cases[] = {
      {kTypeA, 1, EFI_SUCCESS, kSub1, 0x1000, 0x200},
      {kTypeA, 2, EFI_SUCCESS, kSub2, 0x3000, 0x400},
      {kTypeA, 3, EFI_NOT_FOUND, {}, 0, 0},
      {kTypeB, 1, EFI_SUCCESS, kSub1, 0x2000, 0x300},
      {kTypeA, 0, EFI_INVALID_PARAMETER, {}, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    EFI_GUID subId = kTypeB;
    UINT64 offset = 99, size = 99;
    UINT32 attributes = 99;
    EXPECT_EQ(GetPlatformRegionEntry(&c.type, c.n, &subId, &offset, &size, &attributes), c.status);
    EXPECT_TRUE(host::GuidEqual(subId, c.subId));
    EXPECT_EQ(offset, c.offset);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(attributes, 0u);
  }
  UINT32 count = 0;
  EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_SUCCESS);
  EXPECT_EQ(count, 3u);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub2, &address, &size), EFI_SUCCESS);
  EXPECT_EQ(address, 0x103000u);
  EXPECT_EQ(size, 0x400u);
  EXPECT_EQ(FindPlatformRegion(&kTypeB, &kSub2, &address, &size), EFI_NOT_FOUND);
  EXPECT_EQ(address, 0u);
}

TEST_F(RegionTableTest, IgnoredEntriesAreSkippedByLookupAndCount) {
  RegionTableLayout layout;
  layout.entries = {{kTypeA, kSub1, 0x10, 1, kIgnored}, {kTypeA, kSub1, 0x20, 2, 1}};
  Use(layout);
  UINT32 count = 0;
  EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_SUCCESS);
  EXPECT_EQ(count, 1u);
  UINT64 offset = 0;
  UINT32 attributes = 0;
  EXPECT_EQ(GetPlatformRegionEntry(&kTypeA, 1, nullptr, &offset, nullptr, &attributes),
            EFI_SUCCESS);
  EXPECT_EQ(offset, 0x20u);
  EXPECT_EQ(attributes, 1u);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), EFI_SUCCESS);
  EXPECT_EQ(address, 0x20u);
  EXPECT_EQ(size, 2u);
}

TEST_F(RegionTableTest, FirstOfTwoMatchingEntriesWins) {
  RegionTableLayout layout;
  layout.entries = {
      {kTypeB, kSub1, 0x5, 5, 0}, {kTypeA, kSub1, 0x10, 1, 0}, {kTypeA, kSub1, 0x20, 2, 0}};
  Use(layout);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), EFI_SUCCESS);
  EXPECT_EQ(address, 0x10u);
}

// An 8-bit count wraps at 256 entries; the lookup past it must still work.
TEST_F(RegionTableTest, CountsAndFindsPastTwoHundredFiftyFiveEntries) {
  RegionTableLayout layout;
  layout.stride = 52;
  for (UINT64 i = 0; i < 300; i++) {
    layout.entries.push_back({kTypeB, kSub1, i, 1, 0});
  }
  layout.entries.push_back({kTypeA, kSub2, 0x777, 7, 0});
  Use(layout);
  UINT32 count = 0;
  EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_SUCCESS);
  EXPECT_EQ(count, 301u);
  UINT64 offset = 0;
  EXPECT_EQ(GetPlatformRegionEntry(&kTypeB, 300, nullptr, &offset, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(offset, 299u);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub2, &address, &size), EFI_SUCCESS);
  EXPECT_EQ(address, 0x777u);
}

struct HostileCase {
  const char *name;
  RegionTableLayout layout;
  EFI_STATUS status; // of every lookup
};

std::vector<HostileCase> HostileTables() {
  std::vector<HostileCase> cases;
  RegionTableLayout base;
  base.entries = {{kTypeA, kSub1, 0x10, 1, 0}};

  RegionTableLayout s = base;
  s.signature = 0x4D444652;
  cases.push_back({"wrong signature", s, EFI_NOT_FOUND});
  s = base;
  s.fixChecksum = false;
  s.base = 1; // makes the header sum non-zero
  cases.push_back({"checksum", s, EFI_SECURITY_VIOLATION});
  s = base;
  s.stride = 0;
  cases.push_back({"stride 0", s, EFI_VOLUME_CORRUPTED});
  s = base;
  s.stride = 51;
  cases.push_back({"stride below one entry", s, EFI_VOLUME_CORRUPTED});
  s = base;
  s.length = 27;
  s.imageSize = 28;
  cases.push_back({"length below the header", s, EFI_VOLUME_CORRUPTED});
  return cases;
}

TEST_F(RegionTableTest, HostileTablesAreRefusedByEveryLookup) {
  for (const HostileCase &c : HostileTables()) {
    SCOPED_TRACE(c.name);
    Use(c.layout);
    UINT32 count = 7;
    EXPECT_EQ(CountPlatformRegionEntries(&count), c.status);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetPlatformRegionEntry(&kTypeA, 1, nullptr, nullptr, nullptr, nullptr), c.status);
    // The region search asks no more than whether the region is there: a
    // table that cannot be read holds none.
    UINT64 address = 1, size = 1;
    EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), EFI_NOT_FOUND);
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(GetPlatformRegionAddress(&kTypeA, 1, &address, &size), c.status);
  }
}

// Entries that do not lie wholly inside the stated length are not read.
TEST_F(RegionTableTest, EntriesPastTheLengthAreNotRead) {
  struct Case {
    const char *name;
    UINT32 firstEntryOffset;
    UINT32 length;
    UINT32 expected;
  } cases[] = {
      {"last entry one byte short", 32, 32 + 56 + 51, 1},
      {"only entry starts below the length", 32, 40, 0},
      {"first entry beyond the length", 4096, 64, 0},
      {"entries fit exactly", 28, 28 + 56 + 52, 2},
      {"the header alone", 28, 28, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RegionTableLayout layout;
    layout.firstEntryOffset = c.firstEntryOffset;
    layout.length = c.length;
    layout.entries = {{kTypeA, kSub1, 1, 1, 0}, {kTypeA, kSub2, 2, 2, 0}};
    Use(layout);
    UINT32 count = 0;
    EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_SUCCESS);
    EXPECT_EQ(count, c.expected);
    UINT64 address = 0, size = 0;
    EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub2, &address, &size),
              c.expected == 2 ? EFI_SUCCESS : EFI_NOT_FOUND);
  }
}

TEST_F(RegionTableTest, AddressesThatWrapAreRefused) {
  RegionTableLayout layout;
  layout.base = ~UINT64{0} - 0xF;
  layout.entries = {
      {kTypeA, kSub1, 0x10, 1, 0}, {kTypeA, kSub2, 0x8, 0x10, 0}, {kTypeB, kSub1, 1, 1, 0}};
  Use(layout);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub2, &address, &size), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(FindPlatformRegion(&kTypeB, &kSub1, &address, &size), EFI_SUCCESS);
  EXPECT_EQ(address, ~UINT64{0} - 0xE);
}

// The region of the N-th entry of a type, whatever its sub-id: base plus
// offset, and the entry's size.
TEST_F(RegionTableTest, RegionsOfTheNthEntryOfATypeAreBasePlusOffset) {
  RegionTableLayout layout = ThreeEntries();
  layout.entries.insert(layout.entries.begin(), {kTypeA, kSub2, 0x9000, 0x900, kIgnored});
  Use(layout);
  struct Case {
    EFI_GUID type;
    UINT32 n;
    EFI_STATUS status;
    UINT64 address;
    UINT64 size;
  } cases[] = {
      {kTypeA, 1, EFI_SUCCESS, 0x101000, 0x200}, {kTypeA, 2, EFI_SUCCESS, 0x103000, 0x400},
      {kTypeB, 1, EFI_SUCCESS, 0x102000, 0x300}, {kTypeA, 3, EFI_NOT_FOUND, 0, 0},
      {kTypeB, 2, EFI_NOT_FOUND, 0, 0},          {kTypeA, 0, EFI_INVALID_PARAMETER, 0, 0},
      {kSub1, 1, EFI_NOT_FOUND, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    UINT64 address = 99, size = 99;
    EXPECT_EQ(GetPlatformRegionAddress(&c.type, c.n, &address, &size), c.status);
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(size, c.size);
  }
}

// A NULL argument, entry 0 or the switched-off table: the lookup's status,
// and every out value that was given is cleared, so a caller that ignores
// the status reads no stale region.
TEST_F(RegionTableTest, RefusedLookupsClearWhatTheyWereGiven) {
  Use(ThreeEntries());
  struct Case {
    const char *name;
    BOOLEAN off;
    const EFI_GUID *type;
    UINT32 n;              // GetPlatformRegionAddress, GetPlatformRegionEntry
    const EFI_GUID *subId; // FindPlatformRegion
    BOOLEAN address, size; // given or NULL
    EFI_STATUS byN, bySubId;
  } cases[] = {
      {"all given", FALSE, &kTypeA, 2, &kSub2, TRUE, TRUE, EFI_SUCCESS, EFI_SUCCESS},
      {"no type", FALSE, nullptr, 1, &kSub1, TRUE, TRUE, EFI_INVALID_PARAMETER,
       EFI_INVALID_PARAMETER},
      {"entry 0, no sub-id", FALSE, &kTypeA, 0, nullptr, TRUE, TRUE, EFI_INVALID_PARAMETER,
       EFI_INVALID_PARAMETER},
      {"no address", FALSE, &kTypeA, 1, &kSub1, FALSE, TRUE, EFI_INVALID_PARAMETER,
       EFI_INVALID_PARAMETER},
      {"no size", FALSE, &kTypeA, 1, &kSub1, TRUE, FALSE, EFI_INVALID_PARAMETER,
       EFI_INVALID_PARAMETER},
      {"switched off", TRUE, &kTypeA, 1, &kSub1, TRUE, TRUE, EFI_UNSUPPORTED, EFI_UNSUPPORTED},
      {"switched off, nothing valid", TRUE, nullptr, 0, nullptr, TRUE, TRUE, EFI_UNSUPPORTED,
       EFI_UNSUPPORTED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetPlatformRegionTable(GetPlatformRegionTable()); // clears the flag
    if (c.off) {
      DisablePlatformRegionTable();
    }
    const UINT64 expected = c.byN == EFI_SUCCESS ? 0x103000 : 0;
    const UINT64 expectedSize = c.byN == EFI_SUCCESS ? 0x400 : 0;
    UINT64 address = 99, size = 99;
    EXPECT_EQ(GetPlatformRegionAddress(c.type, c.n, c.address ? &address : nullptr,
                                       c.size ? &size : nullptr),
              c.byN);
    EXPECT_EQ(address, c.address ? expected : 99u);
    EXPECT_EQ(size, c.size ? expectedSize : 99u);
    address = size = 99;
    EXPECT_EQ(FindPlatformRegion(c.type, c.subId, c.address ? &address : nullptr,
                                 c.size ? &size : nullptr),
              c.bySubId);
    EXPECT_EQ(address, c.address ? expected : 99u);
    EXPECT_EQ(size, c.size ? expectedSize : 99u);
    // The entry lookup's out values are all optional.
    EFI_GUID subId = kTypeB;
    UINT64 offset = 99;
    UINT32 attributes = 99;
    size = 99;
    const BOOLEAN refused = c.off || c.type == nullptr || c.n == 0;
    EXPECT_EQ(GetPlatformRegionEntry(c.type, c.n, &subId, &offset, &size, &attributes),
              refused ? c.byN : EFI_SUCCESS);
    EXPECT_TRUE(host::GuidEqual(subId, refused ? EFI_GUID{} : c.n == 2 ? kSub2 : kSub1));
    EXPECT_EQ(offset, refused ? 0u : c.n == 2 ? 0x3000u : 0x1000u);
    EXPECT_EQ(size, refused ? 0u : c.n == 2 ? 0x400u : 0x200u);
    EXPECT_EQ(attributes, 0u);
  }
}

// A region may reach the last byte of the address space; one whose end
// would wrap to 0 is refused.
TEST_F(RegionTableTest, RegionsReachTheTopOfTheAddressSpace) {
  const UINT64 top = ~UINT64{0};
  struct Case {
    UINT64 offset;
    UINT64 size;
    EFI_STATUS status;
    UINT64 address;
  } cases[] = {
      {0xF, 0, EFI_SUCCESS, top},           {0x8, 0x7, EFI_SUCCESS, top - 7},
      {0x8, 0x8, EFI_VOLUME_CORRUPTED, 0},  {0x10, 0, EFI_VOLUME_CORRUPTED, 0},
      {0x0, 0x10, EFI_VOLUME_CORRUPTED, 0}, {0x0, 0xF, EFI_SUCCESS, top - 0xF},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.offset * 0x100 + c.size);
    RegionTableLayout layout;
    layout.base = top - 0xF;
    layout.entries = {{kTypeA, kSub1, c.offset, c.size, 0}};
    Use(layout);
    UINT64 address = 1, size = 1;
    EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), c.status);
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(size, c.status == EFI_SUCCESS ? c.size : 0);
    address = size = 1;
    EXPECT_EQ(GetPlatformRegionAddress(&kTypeA, 1, &address, &size), c.status);
    EXPECT_EQ(address, c.address);
  }
}

TEST_F(RegionTableTest, NoTableAndTheFlagGiveTheirStatuses) {
  SetPlatformRegionTable(nullptr);
  UINT32 count = 0;
  EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_NOT_FOUND);
  Use(ThreeEntries());
  DisablePlatformRegionTable();
  EXPECT_TRUE(PlatformRegionTableDisabled());
  EXPECT_EQ(CountPlatformRegionEntries(&count), EFI_UNSUPPORTED);
  EXPECT_EQ(GetPlatformRegionEntry(&kTypeA, 0, nullptr, nullptr, nullptr, nullptr),
            EFI_UNSUPPORTED);
  UINT64 address = 0, size = 0;
  EXPECT_EQ(FindPlatformRegion(&kTypeA, &kSub1, &address, &size), EFI_UNSUPPORTED);
  EXPECT_EQ(CountPlatformRegionEntries(nullptr), EFI_UNSUPPORTED);
  SetPlatformRegionTable(GetPlatformRegionTable());
  EXPECT_EQ(CountPlatformRegionEntries(nullptr), EFI_INVALID_PARAMETER);
}

} // namespace
