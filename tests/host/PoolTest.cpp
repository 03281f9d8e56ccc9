// Pool accounting and fault injection of the firmware double.
#include "HostTestSupport.h"

namespace hosttest {
namespace {

class PoolTest : public BootTest {
protected:
  VOID *Allocate(UINTN size, EFI_STATUS expected = EFI_SUCCESS) {
    VOID *buffer = nullptr;
    EXPECT_EQ(bs()->AllocatePool(EfiBootServicesData, size, &buffer), expected);
    return buffer;
  }
};

// What both pool kinds promise: UEFI's parameters, the counters, the
// injected faults and the live blocks of a leak report.
class PoolKindTest : public PoolTest, public ::testing::WithParamInterface<host::PoolKind> {
protected:
  void SetUp() override {
    platform.poolKind = GetParam();
    Reboot();
  }
};

INSTANTIATE_TEST_SUITE_P(Kinds, PoolKindTest,
                         ::testing::Values(host::PoolKind::kChecking, host::PoolKind::kFirmware));

TEST_P(PoolKindTest, AllocationParametersFollowUefi) {
  struct Case {
    EFI_MEMORY_TYPE type;
    UINTN size;
    bool nullOut;
    EFI_STATUS expected;
  };
  const Case cases[] = {
      {EfiBootServicesData, 16, false, EFI_SUCCESS},
      {EfiRuntimeServicesData, 16, false, EFI_SUCCESS},
      {EfiBootServicesData, 0, false, EFI_OUT_OF_RESOURCES},
      {EfiBootServicesData, UINTN(1) << 40, false, EFI_OUT_OF_RESOURCES},
      {EfiConventionalMemory, 16, false, EFI_INVALID_PARAMETER},
      {EfiPersistentMemory, 16, false, EFI_INVALID_PARAMETER},
      {EfiMaxMemoryType, 16, false, EFI_INVALID_PARAMETER},
      {EfiBootServicesData, 16, true, EFI_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    VOID *buffer = nullptr;
    EXPECT_EQ(bs()->AllocatePool(c.type, c.size, c.nullOut ? nullptr : &buffer), c.expected)
        << "type " << c.type << " size " << c.size;
    if (buffer != nullptr) {
      EXPECT_EQ(bs()->FreePool(buffer), EFI_SUCCESS);
    }
  }
  EXPECT_EQ(firmware->BootPool().Stats().liveCount, 0u);
}

TEST_P(PoolKindTest, StatsTrackLiveAndPeak) {
  VOID *a = Allocate(100);
  VOID *b = Allocate(50);
  const host::PoolStats &stats = firmware->BootPool().Stats();
  EXPECT_EQ(stats.liveCount, 2u);
  EXPECT_EQ(stats.liveBytes, 150u);
  ASSERT_EQ(bs()->FreePool(a), EFI_SUCCESS);
  VOID *c = Allocate(10);
  EXPECT_EQ(stats.liveBytes, 60u);
  EXPECT_EQ(stats.peakBytes, 150u);
  EXPECT_EQ(stats.totalAllocations, 3u);
  bs()->FreePool(b);
  bs()->FreePool(c);
}

TEST_F(PoolTest, FreeOfUnknownPointerIsCounted) {
  int local = 0;
  VOID *a = Allocate(8);
  EXPECT_EQ(bs()->FreePool(&local), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs()->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(bs()->FreePool(a), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware->BootPool().Stats().invalidFrees, 2u);
}

TEST_P(PoolKindTest, FailNthFailsExactlyThatOne) {
  firmware->BootPool().FailNth(3);
  VOID *a = Allocate(1);
  VOID *b = Allocate(1);
  Allocate(1, EFI_OUT_OF_RESOURCES);
  VOID *d = Allocate(1);
  EXPECT_EQ(firmware->BootPool().Stats().failedAllocations, 1u);
  for (VOID *p : {a, b, d}) {
    bs()->FreePool(p);
  }
}

TEST_P(PoolKindTest, FailAllAfterFailsEverythingUntilCleared) {
  firmware->BootPool().FailAllAfter(1);
  VOID *a = Allocate(1);
  Allocate(1, EFI_OUT_OF_RESOURCES);
  Allocate(1, EFI_OUT_OF_RESOURCES);
  firmware->BootPool().ClearFaults();
  VOID *b = Allocate(1);
  bs()->FreePool(a);
  bs()->FreePool(b);
}

TEST_P(PoolKindTest, LimitCapsLiveBytes) {
  firmware->BootPool().SetLimit(100);
  VOID *a = Allocate(60);
  Allocate(41, EFI_OUT_OF_RESOURCES);
  VOID *b = Allocate(40);
  bs()->FreePool(a);
  bs()->FreePool(b);
}

TEST_F(PoolTest, FreshPoolIsNotZeroed) {
  auto *bytes = static_cast<UINT8 *>(Allocate(4));
  EXPECT_EQ(bytes[0], 0xAF);
  bs()->FreePool(bytes);
}

TEST_P(PoolKindTest, MarkSeesOnlyLaterLeaks) {
  VOID *early = Allocate(5);
  size_t mark = firmware->BootPool().Mark();
  VOID *freed = Allocate(6);
  VOID *leaked = Allocate(7);
  bs()->FreePool(freed);
  std::vector<host::PoolBlock> live = firmware->BootPool().LiveSince(mark);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].address, leaked);
  EXPECT_EQ(live[0].size, 7u);
  bs()->FreePool(early);
}

TEST_F(PoolTest, DestructionFreesAndReportsLeaks) {
  Allocate(32);
  Allocate(8);
  int local = 0;
  bs()->FreePool(&local);
  EFI_EVENT event = nullptr;
  bs()->CreateEvent(0, 0, nullptr, nullptr, &event);
  Reboot();
  const host::BootReport &report = platform.LastBoot();
  EXPECT_EQ(report.boot, 1u);
  EXPECT_EQ(report.leakedBlocks.size(), 2u);
  EXPECT_EQ(report.leakedBytes, 40u);
  EXPECT_EQ(report.invalidFrees, 1u);
  EXPECT_EQ(report.openEvents, 1u);
  EXPECT_EQ(firmware->BootPool().Stats().totalAllocations, 0u);
}

TEST_P(PoolKindTest, EndOfBootReportsAndFreesEveryLiveBlock) {
  VOID *kept = Allocate(24);
  VOID *freedFirst = Allocate(16);
  Allocate(32);
  VOID *freedLast = Allocate(8);
  ASSERT_EQ(bs()->FreePool(freedFirst), EFI_SUCCESS);
  ASSERT_EQ(bs()->FreePool(freedLast), EFI_SUCCESS);
  EXPECT_TRUE(firmware->BootPool().Owns(kept));
  EXPECT_FALSE(firmware->BootPool().Owns(freedLast));
  Reboot();
  const host::BootReport &report = platform.LastBoot();
  ASSERT_EQ(report.leakedBlocks.size(), 2u);
  EXPECT_EQ(report.leakedBlocks[0].address, kept);
  EXPECT_EQ(report.leakedBlocks[0].size, 24u);
  EXPECT_EQ(report.leakedBlocks[1].size, 32u);
  EXPECT_EQ(report.leakedBytes, 56u);
  EXPECT_EQ(report.invalidFrees, 0u);
}

} // namespace
} // namespace hosttest
