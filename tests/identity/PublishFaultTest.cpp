// Pool exhaustion at every allocation of a publication: the variable holds
// the old document or the complete new one, never a blank identifier, and
// every block is returned.
#include <ostream>

#include "identity/DeviceIdentifier.h"
#include "tests/identity/DeviceIdentifierTestSupport.h"

namespace {

using deviceidtest::DeviceIdTest;
using deviceidtest::Document;
using deviceidtest::kOldDocument;
using deviceidtest::Values;

struct SweepCase {
  const char *name;
  std::vector<UINT8> fields;
  std::vector<std::string> strings;
  Values expected;
};
void PrintTo(const SweepCase &c, std::ostream *os) {
  *os << c.name;
}

class PoolFaultSweepTest : public DeviceIdTest, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(PoolFaultSweepTest, EachFailedAllocationLeavesTheOldDocumentAndNoBlock) {
  platform.AddSmbiosRecord(1, GetParam().fields, GetParam().strings);
  firmware->InstallSmbios();
  host::Pool &pool = firmware->BootPool();
  const std::string fresh = Document(GetParam().expected);
  size_t failures = 0;
  bool completed = false;
  for (size_t n = 1; n < 200 && !completed; n++) {
    PutOld();
    size_t live = pool.Stats().liveCount;
    size_t failedBefore = pool.Stats().failedAllocations;
    pool.FailNth(n);
    PublishDeviceIdentifier();
    pool.ClearFaults();
    bool failed = pool.Stats().failedAllocations != failedBefore;
    EXPECT_EQ(pool.Stats().liveCount, live) << "allocation " << n;
    ASSERT_NE(Variable(), nullptr) << "allocation " << n;
    EXPECT_EQ(*Stored(), failed ? kOldDocument : fresh) << "allocation " << n;
    failures += failed;
    completed = !failed;
  }
  EXPECT_TRUE(completed);
  // At least the three strings, the eleven elements added to the template
  // and the document text.
  EXPECT_GE(failures, 15u);
}

INSTANTIATE_TEST_SUITE_P(Documents, PoolFaultSweepTest,
                         ::testing::Values(SweepCase{"ThreeStrings",
                                                     deviceidtest::SystemInfoFields(1, 2, 3),
                                                     {"A", "B", "C"},
                                                     Values{"A", "B", "C"}},
                                           SweepCase{"EmptyStrings",
                                                     deviceidtest::SystemInfoFields(0, 1, 9),
                                                     {"B"},
                                                     Values{"", "B", ""}}),
                         [](const ::testing::TestParamInfo<SweepCase> &info) {
                           return info.param.name;
                         });

} // namespace
