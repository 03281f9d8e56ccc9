// The default-store walk over in-memory regions, hostile ones included.
// Each region sits in a block of exactly its size.
#include <gtest/gtest.h>
#include <platform/PlatformGuids.h>

#include "host/PlatformRegions.h"
#include "providers/DefaultStores.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using host::DefaultStoreLayout;
using host::DefaultVariableLayout;
using platformtest::Pattern;

DefaultVariableLayout SetupVar(std::vector<UINT8> data) {
  DefaultVariableLayout v;
  v.data = std::move(data);
  return v;
}

DefaultVariableLayout Other(std::u16string name, std::vector<UINT8> data) {
  DefaultVariableLayout v;
  v.name = std::move(name);
  v.data = std::move(data);
  return v;
}

DefaultStoreLayout Store(UINT8 id, std::vector<DefaultVariableLayout> variables) {
  DefaultStoreLayout s;
  s.shortId = id;
  s.variables = std::move(variables);
  return s;
}

struct Result {
  EFI_STATUS status;
  std::vector<UINT8> data;
};

class DefaultStoresTest : public ::testing::Test {
protected:
  // Probes, then reads into a buffer of the probed size.
  Result Find(const std::vector<UINT8> &region, UINT64 id) {
    const UINT8 *at = memory.Hold(region);
    UINTN size = 0;
    EFI_STATUS status = FindDefaultSetupInRegion(at, region.size(), id, &size, nullptr);
    if (status != EFI_BUFFER_TOO_SMALL) {
      return {status, {}};
    }
    std::vector<UINT8> data(size + 4, 0xEE);
    UINTN readSize = data.size();
    status = FindDefaultSetupInRegion(at, region.size(), id, &readSize, data.data());
    EXPECT_EQ(readSize, size);
    EXPECT_EQ(data[size], 0xEE); // nothing written past the block
    data.resize(readSize);
    return {status, data};
  }
  host::PlatformMemory memory;
};

TEST_F(DefaultStoresTest, FindsTheSetupBlockOfTheRequestedStore) {
  std::vector<UINT8> region =
      host::BuildDefaultStores({Store(0, {Other(u"Lang", {1, 2}), SetupVar(Pattern(0x90, 0))}),
                                Store(3, {SetupVar(Pattern(0x81, 3))})});
  struct Case {
    UINT64 id;
    EFI_STATUS status;
    std::vector<UINT8> data;
  } cases[] = {
      {0, EFI_SUCCESS, Pattern(0x90, 0)},
      {3, EFI_SUCCESS, Pattern(0x81, 3)},
      {4, EFI_NOT_FOUND, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.id);
    Result r = Find(region, c.id);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.data, c.data);
  }
}

TEST_F(DefaultStoresTest, StoreIdComesFromTheExtendedIdWhenItsDistanceFits) {
  struct Case {
    const char *name;
    std::optional<UINT64> extendedId;
    std::optional<UINT16> distance;
    UINT64 lookFor;
    EFI_STATUS status;
  } cases[] = {
      {"64-bit id", 0x1122334455667788ull, std::nullopt, 0x1122334455667788ull, EFI_SUCCESS},
      {"64-bit id hides the short id", 0x1122334455667788ull, std::nullopt, 5, EFI_NOT_FOUND},
      {"distance 0 uses the short id", 0x99, UINT16{0}, 5, EFI_SUCCESS},
      {"distance beyond the store uses the short id", 0x99, UINT16{0xFFFF}, 5, EFI_SUCCESS},
      // The 8 bytes would end past the store.
      {"distance 13 does not fit", 0x99, UINT16{13}, 5, EFI_NOT_FOUND},
      {"distance 1 does not fit", 0x99, UINT16{1}, 5, EFI_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DefaultStoreLayout s = Store(5, {SetupVar({0xAB})});
    s.extendedId = c.extendedId;
    s.distance = c.distance;
    Result r = Find(host::BuildDefaultStore(s), c.lookFor);
    EXPECT_EQ(r.status, c.status);
  }
}

TEST_F(DefaultStoresTest, OnlyTheFirstStoreWithTheIdIsSearched) {
  std::vector<UINT8> region =
      host::BuildDefaultStores({Store(1, {Other(u"Lang", {1})}), Store(1, {SetupVar({7, 7})})});
  EXPECT_EQ(Find(region, 1).status, EFI_NOT_FOUND);
}

TEST_F(DefaultStoresTest, SetupOutsideTheAddedStateIsPassedOver) {
  DefaultVariableLayout deleted = SetupVar({1});
  deleted.state = 0x3C;
  DefaultVariableLayout otherGuid = SetupVar({2});
  otherGuid.guid = gPlatformSettingVariableGuid;
  std::vector<UINT8> region = host::BuildDefaultStores({Store(
      0, {deleted, otherGuid, Other(u"SetupX", {3}), Other(u"Setu", {4}), SetupVar({5, 6})})});
  Result r = Find(region, 0);
  EXPECT_EQ(r.status, EFI_SUCCESS);
  EXPECT_EQ(r.data, (std::vector<UINT8>{5, 6}));
}

TEST_F(DefaultStoresTest, NameWithoutTerminatorIsNotSetup) {
  DefaultVariableLayout unterminated = SetupVar({1});
  unterminated.name = u"Setup";
  unterminated.nameSize = 10; // "Setup" without its terminator, data follows
  std::vector<UINT8> region = host::BuildDefaultStores({Store(0, {unterminated})});
  EXPECT_EQ(Find(region, 0).status, EFI_NOT_FOUND);
}

TEST_F(DefaultStoresTest, SkipsStoresWithTheReservedFieldSet) {
  DefaultStoreLayout skipped = Store(0, {SetupVar({1})});
  skipped.reserved = 1;
  std::vector<UINT8> region = host::BuildDefaultStores({skipped, Store(0, {SetupVar({2})})});
  Result r = Find(region, 0);
  EXPECT_EQ(r.status, EFI_SUCCESS);
  EXPECT_EQ(r.data, (std::vector<UINT8>{2}));
}

// A malformed store ends the walk, before a later store that would match.
TEST_F(DefaultStoresTest, MalformedStoresEndTheWalk) {
  struct Case {
    const char *name;
    void (*spoil)(DefaultStoreLayout &);
  } cases[] = {
      {"signature", [](DefaultStoreLayout &s) { s.signature = 0x53535625; }},
      {"format", [](DefaultStoreLayout &s) { s.format = 0x5B; }},
      {"state", [](DefaultStoreLayout &s) { s.state = 0xFF; }},
      {"negative byte 13", [](DefaultStoreLayout &s) { s.flags = -1; }},
      {"size below the header", [](DefaultStoreLayout &s) { s.size = 15; }},
      {"size 0", [](DefaultStoreLayout &s) { s.size = 0; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DefaultStoreLayout first = Store(9, {SetupVar({1})});
    c.spoil(first);
    std::vector<UINT8> region = host::BuildDefaultStores({first, Store(0, {SetupVar({2})})});
    EXPECT_EQ(Find(region, 0).status, EFI_NOT_FOUND);
  }
}

// Sizes that do not fit: the store against the region, the variable
// against the store; every one gives NOT_FOUND without reading outside.
TEST_F(DefaultStoresTest, RecordsThatDoNotFitAreNotRead) {
  struct Case {
    const char *name;
    std::optional<UINT32> storeSize;
    std::optional<UINT32> nameSize;
    std::optional<UINT32> dataSize;
    size_t cut; // bytes removed from the end of the region
  } cases[] = {
      {"store larger than the region", 0x10000, {}, {}, 0},
      {"store of 4 GiB", 0xFFFFFFFF, {}, {}, 0},
      {"data size of 4 GiB", {}, {}, 0xFFFFFFFF, 0},
      {"name size of 4 GiB", {}, 0xFFFFFFFF, {}, 0},
      {"name plus data over 0x11000", {}, 0x8000, 0x8FF1, 0},
      {"data one byte past the store", {}, {}, 5, 0},
      {"variable header cut", {}, {}, {}, 20},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DefaultVariableLayout setup = SetupVar({1, 2, 3, 4});
    setup.nameSize = c.nameSize;
    setup.dataSize = c.dataSize;
    DefaultStoreLayout s = Store(0, {setup});
    s.size = c.storeSize;
    std::vector<UINT8> region = host::BuildDefaultStore(s);
    if (c.cut != 0) {
      region.resize(region.size() - c.cut);
      region[4] = static_cast<UINT8>(region.size()); // store size = region size
    }
    EXPECT_EQ(Find(region, 0).status, EFI_NOT_FOUND);
  }
}

TEST_F(DefaultStoresTest, StartIdMustMark) {
  DefaultVariableLayout setup = SetupVar({1});
  setup.startId = 0x55AB;
  EXPECT_EQ(Find(host::BuildDefaultStores({Store(0, {setup})}), 0).status, EFI_NOT_FOUND);
}

TEST_F(DefaultStoresTest, ParameterRules) {
  std::vector<UINT8> region = host::BuildDefaultStores({Store(0, {SetupVar({1, 2, 3})})});
  const UINT8 *at = memory.Hold(region);
  EXPECT_EQ(FindDefaultSetupInRegion(at, region.size(), 0, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
  UINTN size = 16;
  EXPECT_EQ(FindDefaultSetupInRegion(at, region.size(), 0, &size, nullptr), EFI_INVALID_PARAMETER);
  size = 2;
  UINT8 small[2] = {};
  EXPECT_EQ(FindDefaultSetupInRegion(at, region.size(), 0, &size, small), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(small[0], 0);
  size = 8;
  EXPECT_EQ(FindDefaultSetupInRegion(nullptr, 0, 0, &size, small), EFI_NOT_FOUND);
  EXPECT_EQ(FindDefaultSetupInRegion(at, 0, 0, &size, small), EFI_NOT_FOUND);
  EXPECT_EQ(FindDefaultSetupInRegion(at, 15, 0, &size, small), EFI_NOT_FOUND);
}

} // namespace
