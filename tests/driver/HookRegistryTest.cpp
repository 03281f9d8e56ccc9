// The shared hook registry: list head discovery, record bytes, insertion
// by priority and version, and the HOB lookup's data-size rule.
#include <platform/PlatformGuids.h>
#include <uefi/Pi/PiHob.h>

#include <cstring>

#include "driver/DriverState.h"
#include "driver/Hob.h"
#include "driver/HookRegistry.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

constexpr EFI_GUID kHookGuid = {
    0x5eed0001, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x11, 0x22, 0x33, 0x44}};

VOID EFIAPI ActionA() {}

PLATFORM_HOOK_HEADER *HeaderOf(LIST_ENTRY *link) {
  return reinterpret_cast<PLATFORM_HOOK_HEADER *>(reinterpret_cast<UINT8 *>(link) - 8);
}

bool IsEmptyList(const LIST_ENTRY &list) {
  return list.ForwardLink == &list && list.BackLink == &list;
}

size_t HeaderCount(const LIST_ENTRY *head) {
  size_t count = 0;
  for (const LIST_ENTRY *l = head->ForwardLink; l != head; l = l->ForwardLink) {
    count++;
  }
  return count;
}

class HookRegistryTest : public DriverTest {};

TEST_F(HookRegistryTest, DriverPublishesAListHeadWhenNoneExistsWithItsBootOrderLockAction) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  auto *head = Find<LIST_ENTRY>(gPlatformHookRegistryProtocolGuid);
  ASSERT_NE(head, nullptr);
  // The only hook point is the boot-order lock, its action at priority 8.
  ASSERT_EQ(HeaderCount(head), 1u);
  PLATFORM_HOOK_HEADER *header = HeaderOf(head->ForwardLink);
  EXPECT_EQ(0, memcmp(&header->HookGuid, &gPlatformBootOrderLockHookGuid, sizeof(EFI_GUID)));
  for (UINTN i = 0; i < PLATFORM_HOOK_PRIORITY_COUNT; i++) {
    EXPECT_EQ(IsEmptyList(header->FirstSet[i]), i != 2) << i;
  }
  EXPECT_EQ(mDriver.hookCallback->Priority, 8u);
  EXPECT_EQ(&mDriver.hookCallback->FirstLink, header->FirstSet[2].ForwardLink);
  EXPECT_FALSE(firmware->HasProtocol(image, gPlatformHookRegistryProtocolGuid));
  EXPECT_EQ(mDriver.hookRegistry, head);
}

TEST_F(HookRegistryTest, AnExistingListHeadIsUsed) {
  LIST_ENTRY *head = firmware->InstallHookRegistry();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(mDriver.hookRegistry, head);
}

TEST_F(HookRegistryTest, NewHookPointAndActionRecordsHaveTheirExactBytes) {
  LIST_ENTRY *head = firmware->InstallHookRegistry();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  PLATFORM_HOOK_CALLBACK *record = nullptr;
  ASSERT_EQ(RegisterHookAction(&kHookGuid, 8, ActionA, &record), EFI_SUCCESS);

  // After the driver's own boot-order lock hook point.
  ASSERT_EQ(HeaderCount(head), 2u);
  PLATFORM_HOOK_HEADER *header = HeaderOf(head->BackLink);
  const auto *bytes = reinterpret_cast<const UINT8 *>(header);
  EXPECT_EQ(0, memcmp(bytes, "QPCH\0\0\0\0", 8));
  EXPECT_EQ(0, memcmp(bytes + 196, &kHookGuid, 16));
  EXPECT_EQ(header->State, 0u);
  EXPECT_EQ(header->Version, 0);
  for (UINTN i = 0; i < PLATFORM_HOOK_PRIORITY_COUNT; i++) {
    EXPECT_TRUE(IsEmptyList(header->SecondSet[i]));
    if (i != 2) {
      EXPECT_TRUE(IsEmptyList(header->FirstSet[i]));
    }
  }
  // Priority 8 is the third list.
  EXPECT_EQ(header->FirstSet[2].ForwardLink, &record->FirstLink);
  const UINT8 zeros[24] = {};
  EXPECT_EQ(0, memcmp(bytes + 212, zeros, 12));

  const auto *rec = reinterpret_cast<const UINT8 *>(record);
  EXPECT_EQ(0, memcmp(rec, "QPCP\0\0\0\0", 8));
  EXPECT_EQ(0, memcmp(rec + 40, &kHookGuid, 16));
  UINT32 priority = 0;
  memcpy(&priority, rec + 56, 4);
  EXPECT_EQ(priority, 8u);
  PLATFORM_HOOK_ACTION action = nullptr;
  memcpy(&action, rec + 64, 8);
  EXPECT_EQ(action, ActionA);
  EXPECT_EQ(0, memcmp(rec + 72, zeros, 24));
  EXPECT_EQ(firmware->RunHookPoint(kHookGuid), 1u);
}

TEST_F(HookRegistryTest, ExistingHeaderDecidesSecondSetAndStaleResult) {
  LIST_ENTRY *head = firmware->InstallHookRegistry();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  struct Row {
    INT32 version;
    UINT64 state;
    UINT32 priority;
    UINTN index;
    bool secondSet;
    EFI_STATUS status;
  };
  const Row rows[] = {
      {0, 0, 16, 0, false, EFI_SUCCESS},       {7, 0, 9, 1, false, EFI_SUCCESS},
      {8, 0, 8, 2, true, EFI_SUCCESS},         {9, 1, 7, 3, true, EFI_WARN_STALE_DATA},
      {8, 5, 6, 4, true, EFI_WARN_STALE_DATA}, {8, 0, 5, 0, true, EFI_SUCCESS},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.priority);
    // A header published by another driver, with two actions already in place.
    PLATFORM_HOOK_HEADER header{};
    header.Signature = PLATFORM_HOOK_HEADER_SIGNATURE;
    for (UINTN i = 0; i < PLATFORM_HOOK_PRIORITY_COUNT; i++) {
      header.FirstSet[i] = {&header.FirstSet[i], &header.FirstSet[i]};
      header.SecondSet[i] = {&header.SecondSet[i], &header.SecondSet[i]};
    }
    header.Version = row.version;
    header.State = row.state;
    header.HookGuid = kHookGuid;
    header.Link = {head, head};
    head->ForwardLink = head->BackLink = &header.Link;

    PLATFORM_HOOK_CALLBACK *record = nullptr;
    EXPECT_EQ(RegisterHookAction(&kHookGuid, row.priority, ActionA, &record), row.status);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(header.FirstSet[row.index].BackLink, &record->FirstLink);
    EXPECT_EQ(header.SecondSet[row.index].BackLink == &record->SecondLink, row.secondSet);
    EXPECT_EQ(head->ForwardLink, &header.Link); // no second header
    UnregisterHookAction(record);
    EXPECT_TRUE(IsEmptyList(header.FirstSet[row.index]));
    EXPECT_TRUE(IsEmptyList(header.SecondSet[row.index]));
    head->ForwardLink = head->BackLink = head;
  }
}

TEST_F(HookRegistryTest, BadArgumentsAndMissingListHead) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  PLATFORM_HOOK_CALLBACK *record = nullptr;
  EXPECT_EQ(RegisterHookAction(&kHookGuid, 8, ActionA, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(RegisterHookAction(nullptr, 8, ActionA, &record), EFI_INVALID_PARAMETER);
  EXPECT_EQ(RegisterHookAction(&kHookGuid, 8, nullptr, &record), EFI_INVALID_PARAMETER);

  // Without a list head (its allocation or installation failed) nothing is
  // walked.
  mDriver.hookRegistry = nullptr;
  EXPECT_EQ(RegisterHookAction(&kHookGuid, 8, ActionA, &record), EFI_NOT_READY);
  EXPECT_EQ(record, nullptr);
}

TEST_F(HookRegistryTest, PoolExhaustionIsReportedWithoutHalfRecords) {
  LIST_ENTRY *head = firmware->InstallHookRegistry();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  PLATFORM_HOOK_CALLBACK *record = nullptr;
  firmware->BootPool().FailNth(1);
  EXPECT_EQ(RegisterHookAction(&kHookGuid, 8, ActionA, &record), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(HeaderCount(head), 1u);
  firmware->BootPool().FailNth(2);
  EXPECT_EQ(RegisterHookAction(&kHookGuid, 8, ActionA, &record), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(firmware->RunHookPoint(kHookGuid), 0u);
}

TEST_F(HookRegistryTest, GuidHobMustCarryTheDataItIsAskedFor) {
  constexpr EFI_GUID kDataHob = {0x5eed0002, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  // Header, name and 4 data bytes: 28 bytes.
  std::vector<UINT8> hob = {EFI_HOB_TYPE_GUID_EXTENSION, 0, 28, 0, 0, 0, 0, 0};
  const auto *name = reinterpret_cast<const UINT8 *>(&kDataHob);
  hob.insert(hob.end(), name, name + sizeof(kDataHob));
  hob.insert(hob.end(), {1, 2, 3, 4});
  platform.AddRawHob(hob);
  Reboot();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(FindGuidHobData(&kDataHob, 8), nullptr);
  const auto *data = static_cast<const UINT8 *>(FindGuidHobData(&kDataHob, 4));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[3], 4);
}

// A bare header is a whole HOB and is stepped over; a list whose handoff
// HOB names an end before the list itself has no readable extent at all.
TEST_F(HookRegistryTest, GuidHobIsFoundPastABareHeaderButNotPastAnEndBeforeTheList) {
  constexpr EFI_GUID kDataHob = {0x5eed0003, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  platform.AddRawHob({0xFE, 0xFF, 8, 0, 0, 0, 0, 0}); // EFI_HOB_TYPE_UNUSED, header only
  platform.AddGuidHob(kDataHob, {9, 8, 7, 6});
  Reboot();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  const auto *data = static_cast<const UINT8 *>(FindGuidHobData(&kDataHob, 4));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[0], 9);
  auto *list = static_cast<UINT8 *>(GetHobList());
  ASSERT_NE(list, nullptr);
  const UINT64 below = reinterpret_cast<UINTN>(list) - 8;
  memcpy(list + 48, &below, sizeof(below)); // EfiEndOfHobList
  EXPECT_EQ(FindGuidHobData(&kDataHob, 4), nullptr);
}

} // namespace
