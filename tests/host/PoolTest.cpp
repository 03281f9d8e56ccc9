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

TEST_F(PoolTest, AllocationParametersFollowUefi) {
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

TEST_F(PoolTest, StatsTrackLiveAndPeak) {
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

TEST_F(PoolTest, FailNthFailsExactlyThatOne) {
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

TEST_F(PoolTest, FailAllAfterFailsEverythingUntilCleared) {
  firmware->BootPool().FailAllAfter(1);
  VOID *a = Allocate(1);
  Allocate(1, EFI_OUT_OF_RESOURCES);
  Allocate(1, EFI_OUT_OF_RESOURCES);
  firmware->BootPool().ClearFaults();
  VOID *b = Allocate(1);
  bs()->FreePool(a);
  bs()->FreePool(b);
}

TEST_F(PoolTest, LimitCapsLiveBytes) {
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

TEST_F(PoolTest, MarkSeesOnlyLaterLeaks) {
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

} // namespace
} // namespace hosttest
