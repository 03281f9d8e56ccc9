// The structure table of the firmware double, which the driver bounds its
// reads by: one exactly sized table under an SMBIOS 3.0 entry point, with
// GetNext pointing into it.
#include <uefi/SmbiosTable.h>
#include <uefi/UefiGuids.h>

#include <cstring>
#include <vector>

#include "identity/SmbiosBounds.h"
#include "tests/identity/DeviceIdentifierTestSupport.h"

namespace {

using deviceidtest::DeviceIdTest;
using deviceidtest::RawStructure;

const EFI_GUID kSmbios3Guid = SMBIOS3_TABLE_GUID;

class SmbiosTableTest : public DeviceIdTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SmbiosTableTest, RecordsLieBackToBackInOneTableUnderAnSmbios3EntryPoint) {
  const bool terminate = GetParam();
  std::vector<UINT8> first = RawStructure(1, 4, 0x10, {}, std::string("A\0\0", 3));
  std::vector<UINT8> second = RawStructure(2, 5, 0x11, {9}, std::string("\0\0", 2));
  platform.AddRawSmbiosRecord(first);
  platform.AddRawSmbiosRecord(second);
  platform.terminateSmbiosTable = terminate;
  firmware->InstallSmbios();

  const auto *entry = static_cast<const SMBIOS_TABLE_3_0_ENTRY_POINT *>(
      firmware->FindConfigurationTable(kSmbios3Guid));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::memcmp(entry->AnchorString, "_SM3_", 5), 0);
  EXPECT_EQ(entry->EntryPointLength, 0x18);
  EXPECT_EQ(entry->MajorVersion, 3);
  EXPECT_EQ(entry->EntryPointRevision, 1);
  UINT8 sum = 0;
  for (size_t i = 0; i < sizeof(*entry); i++) {
    sum = static_cast<UINT8>(sum + reinterpret_cast<const UINT8 *>(entry)[i]);
  }
  EXPECT_EQ(sum, 0);

  std::vector<UINT8> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  if (terminate) {
    expected.insert(expected.end(), {127, 4, 1, 0, 0, 0});
  }
  ASSERT_EQ(entry->TableMaximumSize, expected.size());
  const auto *table = reinterpret_cast<const UINT8 *>(entry->TableAddress);
  EXPECT_EQ(std::vector<UINT8>(table, table + expected.size()), expected);

  auto *smbios = static_cast<EFI_SMBIOS_PROTOCOL *>(firmware->FindProtocol(gEfiSmbiosProtocolGuid));
  ASSERT_NE(smbios, nullptr);
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  std::vector<const UINT8 *> records;
  EFI_SMBIOS_TABLE_HEADER *record = nullptr;
  while (smbios->GetNext(smbios, &handle, nullptr, &record, nullptr) == EFI_SUCCESS) {
    records.push_back(reinterpret_cast<const UINT8 *>(record));
  }
  EXPECT_EQ(records, (std::vector<const UINT8 *>{table, table + first.size()}));

  // The driver's bounds: to the table end inside it, the structure limit
  // outside it.
  SmbiosTableRange range = FindSmbiosTable();
  EXPECT_EQ(range.Start, reinterpret_cast<UINTN>(table));
  EXPECT_EQ(range.End, reinterpret_cast<UINTN>(table) + expected.size());
  EXPECT_EQ(SmbiosReadableSize(range, table + first.size()), expected.size() - first.size());
  EXPECT_EQ(SmbiosReadableSize(range, table + expected.size()), kSmbiosStructureLimit);
}

INSTANTIATE_TEST_SUITE_P(EndStructure, SmbiosTableTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "Terminated" : "LeftOut";
                         });

TEST_F(DeviceIdTest, AnEntryPointWithoutItsAnchorNamesNoTable) {
  firmware->InstallSmbios();
  auto *entry =
      static_cast<SMBIOS_TABLE_3_0_ENTRY_POINT *>(firmware->FindConfigurationTable(kSmbios3Guid));
  ASSERT_NE(entry, nullptr);
  EXPECT_NE(FindSmbiosTable().End, 0u);
  entry->AnchorString[4] = '4';
  SmbiosTableRange range = FindSmbiosTable();
  EXPECT_EQ(range.Start, 0u);
  EXPECT_EQ(range.End, 0u);
}

// The stated table may reach the top of the address space, not wrap past it.
TEST_F(DeviceIdTest, TheStatedTableMayEndAtTheTopOfTheAddressSpace) {
  firmware->InstallSmbios();
  auto *entry =
      static_cast<SMBIOS_TABLE_3_0_ENTRY_POINT *>(firmware->FindConfigurationTable(kSmbios3Guid));
  ASSERT_NE(entry, nullptr);
  const UINT64 top = ~UINT64{0};
  struct Case {
    UINT64 address;
    UINT32 size;
    UINTN end; // 0: no table
  } cases[] = {
      {top - 0x10, 0x10, top},
      {top - 0x10, 0x11, 0},
      {top - 0x10, 0xF, top - 1},
      {0, 0x10, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    entry->TableAddress = c.address;
    entry->TableMaximumSize = c.size;
    SmbiosTableRange range = FindSmbiosTable();
    EXPECT_EQ(range.Start, c.end == 0 ? 0 : c.address);
    EXPECT_EQ(range.End, c.end);
  }
}

} // namespace
