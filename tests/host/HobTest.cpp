// HOB list and configuration table of the firmware double.
#include <uefi/Pi/PiHob.h>
#include <uefi/UefiGuids.h>

#include <cstring>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

struct Hob {
  UINT16 type;
  UINT16 length;
  size_t offset;
};

std::vector<Hob> Walk(const UINT8 *list, size_t size) {
  std::vector<Hob> hobs;
  size_t offset = 0;
  while (offset + sizeof(EFI_HOB_GENERIC_HEADER) <= size) {
    EFI_HOB_GENERIC_HEADER header;
    std::memcpy(&header, list + offset, sizeof(header));
    hobs.push_back(Hob{header.HobType, header.HobLength, offset});
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || header.HobLength == 0) {
      break;
    }
    offset += header.HobLength;
  }
  return hobs;
}

TEST(HobTest, NoHobsMeansNoConfigurationEntry) {
  host::Platform platform;
  host::Firmware firmware(platform);
  EXPECT_EQ(firmware.FindConfigurationTable(gEfiHobListGuid), nullptr);
  EXPECT_EQ(firmware.SystemTable()->NumberOfTableEntries, 0u);
}

TEST(HobTest, GuidHobsAreExactOrPaddedAndTerminated) {
  for (bool align : {false, true}) {
    host::Platform platform;
    platform.alignGuidHobs = align;
    platform.AddGuidHob(kGuidA, {1, 2, 3});
    platform.AddGuidHob(kGuidB, std::vector<UINT8>(8, 0x55));
    host::Firmware firmware(platform);
    auto *list = static_cast<const UINT8 *>(firmware.FindConfigurationTable(gEfiHobListGuid));
    ASSERT_EQ(list, firmware.HobList());
    std::vector<Hob> hobs = Walk(list, firmware.HobListSize());
    ASSERT_EQ(hobs.size(), 4u);
    EXPECT_EQ(hobs[0].type, EFI_HOB_TYPE_HANDOFF);
    EXPECT_EQ(hobs[1].type, EFI_HOB_TYPE_GUID_EXTENSION);
    EXPECT_EQ(hobs[1].length, align ? 32u : 27u);
    EXPECT_EQ(hobs[2].length, 32u);
    EXPECT_EQ(hobs[3].type, EFI_HOB_TYPE_END_OF_HOB_LIST);
    EXPECT_EQ(hobs[3].offset + sizeof(EFI_HOB_GENERIC_HEADER), firmware.HobListSize());
    EXPECT_EQ(std::memcmp(list + hobs[1].offset + 8, &kGuidA, sizeof(EFI_GUID)), 0);
    EXPECT_EQ(list[hobs[1].offset + 24], 1);
    EXPECT_EQ(list[hobs[1].offset + 26], 3);
  }
}

TEST(HobTest, RawHobsAreKeptAsGiven) {
  host::Platform platform;
  // A GUID HOB cut short after its header, then one of length zero.
  platform.AddRawHob({0x04, 0x00, 0x10, 0x00, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9});
  platform.AddRawHob({0x04, 0x00, 0x00, 0x00, 0, 0, 0, 0});
  platform.terminateHobList = false;
  host::Firmware firmware(platform);
  std::vector<Hob> hobs = Walk(firmware.HobList(), firmware.HobListSize());
  ASSERT_EQ(hobs.size(), 3u);
  EXPECT_EQ(hobs[1].length, 16u);
  EXPECT_EQ(hobs[2].length, 0u);
  EXPECT_EQ(firmware.HobListSize(), 56u + 16u + 8u);
}

TEST(HobTest, EmptyListCanBePublished) {
  host::Platform platform;
  platform.EnableHobList();
  host::Firmware firmware(platform);
  std::vector<Hob> hobs = Walk(firmware.HobList(), firmware.HobListSize());
  ASSERT_EQ(hobs.size(), 2u);
  EXPECT_EQ(hobs[1].type, EFI_HOB_TYPE_END_OF_HOB_LIST);
}

EFI_STATUS EFIAPI NoopEntry(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  return EFI_SUCCESS;
}

TEST(HobTest, HobsAddedDuringTheBootAppearBeforeTheImageRuns) {
  host::Platform platform;
  host::Firmware firmware(platform);
  EFI_SYSTEM_TABLE *st = firmware.SystemTable();
  EXPECT_EQ(st->NumberOfTableEntries, 0u);
  platform.AddGuidHob(kGuidA, {7});
  ASSERT_EQ(firmware.RunImage(NoopEntry), EFI_SUCCESS);
  ASSERT_EQ(st->NumberOfTableEntries, 1u);
  EXPECT_EQ(st->ConfigurationTable[0].VendorTable, firmware.HobList());
  EXPECT_EQ(Walk(firmware.HobList(), firmware.HobListSize()).size(), 3u);
}

class ConfigurationTableTest : public BootTest {};

TEST_F(ConfigurationTableTest, InstallReplaceAndRemove) {
  EFI_GUID guid = kGuidC;
  int first = 0, second = 0;
  ASSERT_EQ(bs()->InstallConfigurationTable(&guid, &first), EFI_SUCCESS);
  ASSERT_EQ(bs()->InstallConfigurationTable(&guid, &second), EFI_SUCCESS);
  EFI_SYSTEM_TABLE *st = firmware->SystemTable();
  ASSERT_EQ(st->NumberOfTableEntries, 1u);
  EXPECT_EQ(st->ConfigurationTable[0].VendorTable, &second);
  ASSERT_EQ(bs()->InstallConfigurationTable(&guid, nullptr), EFI_SUCCESS);
  EXPECT_EQ(st->NumberOfTableEntries, 0u);
  EXPECT_EQ(bs()->InstallConfigurationTable(&guid, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(bs()->InstallConfigurationTable(nullptr, &first), EFI_INVALID_PARAMETER);
}

} // namespace
} // namespace hosttest
