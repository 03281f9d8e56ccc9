// Service tables, time, PCD, SMBIOS and the platform protocols of the double.
#include <platform/PlatformGuids.h>
#include <platform/PlatformHookRegistry.h>
#include <platform/PlatformPointerConversion.h>
#include <uefi/UefiGuids.h>

#include <cstring>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

class TablesTest : public BootTest {};

TEST_F(TablesTest, HeadersCarrySignaturesAndValidCrcs) {
  EFI_SYSTEM_TABLE *st = firmware->SystemTable();
  EXPECT_EQ(st->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(st->BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(st->RuntimeServices->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EFI_BOOT_SERVICES copy = *st->BootServices;
  UINT32 stored = copy.Hdr.CRC32;
  copy.Hdr.CRC32 = 0;
  UINT32 computed = 0;
  ASSERT_EQ(bs()->CalculateCrc32(&copy, sizeof(copy), &computed), EFI_SUCCESS);
  EXPECT_EQ(computed, stored);
  const char text[] = "123456789";
  ASSERT_EQ(bs()->CalculateCrc32(const_cast<char *>(text), 9, &computed), EFI_SUCCESS);
  EXPECT_EQ(computed, 0xCBF43926u);
}

TEST_F(TablesTest, GetTimeReadsTheClockAndCanFail) {
  platform.SetClock(2024, 3, 5, 7, 8, 9);
  EFI_TIME time{};
  ASSERT_EQ(rt()->GetTime(&time, nullptr), EFI_SUCCESS);
  EXPECT_EQ(time.Year, 2024);
  EXPECT_EQ(time.Second, 9);
  EXPECT_EQ(rt()->GetTime(nullptr, nullptr), EFI_INVALID_PARAMETER);
  platform.getTimeStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(rt()->GetTime(&time, nullptr), EFI_DEVICE_ERROR);
  time.Month = 13;
  EXPECT_EQ(rt()->SetTime(&time), EFI_INVALID_PARAMETER);
}

TEST_F(TablesTest, PcdReadsTokensByWidth) {
  platform.SetPcd(gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN, 0x1122334455667788ull);
  platform.SetPcd(gPlatformTokenSpaceGuid, 7, 1, 1);
  firmware->InstallPcd();
  auto *pcd = static_cast<EFI_PCD_PROTOCOL *>(firmware->FindProtocol(gEfiPcdProtocolGuid));
  ASSERT_NE(pcd, nullptr);
  EXPECT_EQ(pcd->Get64(&gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN),
            0x1122334455667788ull);
  EXPECT_EQ(pcd->Get32(&gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN), 0x55667788u);
  EXPECT_EQ(pcd->Get8(&gPlatformTokenSpaceGuid, PLATFORM_REGION_TABLE_PCD_TOKEN), 0x88u);
  EXPECT_EQ(pcd->GetSize(&gPlatformTokenSpaceGuid, 7), 1u);
  EXPECT_TRUE(pcd->GetBool(&gPlatformTokenSpaceGuid, 7));
  EXPECT_EQ(firmware->PcdMisses(), 0u);
  EXPECT_EQ(pcd->Get64(&gPlatformTokenSpaceGuid, 8), 0u);
  EXPECT_EQ(pcd->Get64(&gEfiGlobalVariableGuid, 7), 0u);
  EXPECT_EQ(firmware->PcdMisses(), 2u);
}

TEST_F(TablesTest, SmbiosGetNextWalksRecordsAndFiltersByType) {
  UINT16 system = platform.AddSmbiosRecord(1, {1, 2, 3, 4}, {"Maker", "Model"});
  platform.AddSmbiosRecord(2, {}, {});
  UINT16 secondSystem = platform.AddSmbiosRecord(1, {}, {});
  firmware->InstallSmbios();
  auto *smbios = static_cast<EFI_SMBIOS_PROTOCOL *>(firmware->FindProtocol(gEfiSmbiosProtocolGuid));
  ASSERT_NE(smbios, nullptr);
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TYPE type = 1;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  ASSERT_EQ(smbios->GetNext(smbios, &handle, &type, &record, nullptr), EFI_SUCCESS);
  EXPECT_EQ(handle, system);
  EXPECT_EQ(record->Length, 8);
  const char *strings = reinterpret_cast<const char *>(record) + record->Length;
  EXPECT_STREQ(strings, "Maker");
  EXPECT_STREQ(strings + 6, "Model");
  EXPECT_EQ(strings[12], 0);
  ASSERT_EQ(smbios->GetNext(smbios, &handle, &type, &record, nullptr), EFI_SUCCESS);
  EXPECT_EQ(handle, secondSystem);
  EXPECT_EQ(smbios->GetNext(smbios, &handle, &type, &record, nullptr), EFI_NOT_FOUND);
  handle = SMBIOS_HANDLE_PI_RESERVED;
  size_t all = 0;
  while (smbios->GetNext(smbios, &handle, nullptr, &record, nullptr) == EFI_SUCCESS) {
    all++;
  }
  EXPECT_EQ(all, 3u);
  EXPECT_EQ(smbios->Add(smbios, nullptr, &handle, record), EFI_UNSUPPORTED);
}

int gHookRuns[3];
VOID EFIAPI HookFirst(VOID) {
  gHookRuns[0]++;
}
VOID EFIAPI HookSecond(VOID) {
  gHookRuns[1]++;
}

TEST_F(TablesTest, HookPointRunsActionsByPriorityList) {
  LIST_ENTRY *head = firmware->InstallHookRegistry();
  ASSERT_EQ(firmware->FindProtocol(gPlatformHookRegistryProtocolGuid), head);
  PLATFORM_HOOK_HEADER header{};
  header.Signature = PLATFORM_HOOK_HEADER_SIGNATURE;
  header.HookGuid = gPlatformBootOrderLockHookGuid;
  PLATFORM_HOOK_CALLBACK callbacks[2]{};
  for (LIST_ENTRY &list : header.FirstSet) {
    list.ForwardLink = list.BackLink = &list;
  }
  auto link = [](LIST_ENTRY *list, LIST_ENTRY *entry) {
    entry->BackLink = list->BackLink;
    entry->ForwardLink = list;
    list->BackLink->ForwardLink = entry;
    list->BackLink = entry;
  };
  callbacks[0].Signature = callbacks[1].Signature = PLATFORM_HOOK_CALLBACK_SIGNATURE;
  callbacks[0].Action = HookFirst;
  callbacks[1].Action = HookSecond;
  link(&header.FirstSet[2], &callbacks[0].FirstLink);
  link(&header.FirstSet[0], &callbacks[1].FirstLink);
  link(head, &header.Link);
  gHookRuns[0] = gHookRuns[1] = 0;
  EXPECT_EQ(firmware->RunHookPoint(gPlatformBootOrderLockHookGuid), 2u);
  EXPECT_EQ(gHookRuns[0], 1);
  EXPECT_EQ(gHookRuns[1], 1);
  EXPECT_EQ(firmware->RunHookPoint(gPlatformTimerCalibrationHobGuid), 0u);
}

TEST_F(TablesTest, PointerConversionLogsCalls) {
  firmware->InstallPointerConversion();
  auto *service = static_cast<PLATFORM_POINTER_CONVERSION_PROTOCOL *>(
      firmware->FindProtocol(gPlatformPointerConversionProtocolGuid));
  ASSERT_NE(service, nullptr);
  VOID *a = nullptr, *b = nullptr;
  EXPECT_EQ(service->RegisterPointer(&a), EFI_SUCCESS);
  EXPECT_EQ(service->RegisterPointer(&b), EFI_SUCCESS);
  EXPECT_EQ(service->UnregisterPointer(&a), EFI_SUCCESS);
  EXPECT_EQ(service->UnregisterPointer(&a), EFI_NOT_FOUND);
  EXPECT_EQ(firmware->PointerConversions().Active(), (std::vector<VOID **>{&b}));
  EXPECT_EQ(firmware->PointerConversions().unregistered.size(), 2u);
}

} // namespace
} // namespace hosttest
