// SMBIOS structures whose lengths, string numbers and string sets are not
// to be trusted: nothing is read outside the structure table (the table is
// exactly sized, so the sanitizer build catches any read past it), and a
// field that is not there is an empty value.
#include <uefi/SmbiosTable.h>
#include <uefi/UefiGuids.h>

#include <ostream>
#include <string>
#include <vector>

#include "identity/DeviceIdentifier.h"
#include "tests/identity/DeviceIdentifierTestSupport.h"

namespace {

using deviceidtest::DeviceIdTest;
using deviceidtest::Document;
using deviceidtest::kOldDocument;
using deviceidtest::RawStructure;
using deviceidtest::SystemInfoFields;
using deviceidtest::Values;

std::string Bytes(const char *text, size_t size) {
  return std::string(text, size);
}

// The strings of the short structure below: the byte at offset 7, where a
// serial-number field would be, is '0' (48), and string 48 exists.
std::vector<std::string> StringsWith48th() {
  std::vector<std::string> strings{"A0", "B"};
  while (strings.size() < 47) {
    strings.push_back("-");
  }
  strings.push_back("LEAKED");
  return strings;
}

struct HostileCase {
  const char *name;
  std::vector<std::vector<UINT8>> structures; // in GetNext order
  bool terminate;                             // end-of-table structure after them
  std::optional<Values> expected;             // nothing: the old variable stays
};
void PrintTo(const HostileCase &c, std::ostream *os) {
  *os << c.name;
}

class HostileSmbiosTest : public DeviceIdTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileSmbiosTest, StoresExactlyTheFieldsThatAreThere) {
  for (const std::vector<UINT8> &structure : GetParam().structures) {
    platform.AddRawSmbiosRecord(structure);
  }
  platform.terminateSmbiosTable = GetParam().terminate;
  firmware->InstallSmbios();
  PutOld();
  PublishDeviceIdentifier();
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), GetParam().expected ? Document(*GetParam().expected) : kOldDocument);
  EXPECT_EQ(Variable()->attributes, 7u);
}

std::vector<UINT8> ShortSystemInfo() {
  std::string set;
  for (const std::string &text : StringsWith48th()) {
    set += text;
    set.push_back('\0');
  }
  set.push_back('\0');
  return RawStructure(1, 6, 0x200, {1, 2}, set);
}

INSTANTIATE_TEST_SUITE_P(
    Structures, HostileSmbiosTest,
    ::testing::Values(
        HostileCase{"AStructureShorterThanTheSerialNumberFieldHasNoSerialNumber",
                    {ShortSystemInfo()},
                    true,
                    Values{"A0", "B", ""}},
        HostileCase{"ALengthBytePastTheTableEndReadsNoFieldOrStringBeyondIt",
                    {RawStructure(1, 0x40, 0x200, {1, 2, 0}, "")},
                    false,
                    Values{"", "", ""}},
        HostileCase{"AStringNumberPastTheSetIsEmpty",
                    {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 9),
                                  Bytes("Maker\0Model\0\0", 13))},
                    true,
                    Values{"Maker", "Model", ""}},
        HostileCase{"AStringRunningUnterminatedToTheTableEndIsEmpty",
                    {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 3),
                                  Bytes("Maker\0Model\0SERIAL", 18))},
                    false,
                    Values{"Maker", "Model", ""}},
        HostileCase{
            "AStringNumberPastASetCutAtTheTableEndIsEmpty",
            {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 5), Bytes("Maker\0Model\0", 12))},
            false,
            Values{"Maker", "Model", ""}},
        HostileCase{
            "ATableWithoutItsEndStructureStillIdentifiesTheDevice",
            {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 3), Bytes("A\0B\0C\0\0", 8))},
            false,
            Values{"A", "B", "C"}},
        HostileCase{
            "TheLastOfSeveralSystemInformationStructuresSuppliesAllThree",
            {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 3), Bytes("X\0Y\0Z\0\0", 8)),
             RawStructure(2, 8, 0x201, {1, 0, 0, 0}, Bytes("Board\0\0", 7)),
             RawStructure(1, 0x1B, 0x202, SystemInfoFields(1, 2, 0), Bytes("A\0B\0\0", 5)),
             RawStructure(3, 4, 0x203, {}, Bytes("\0\0", 2))},
            true,
            Values{"A", "B", ""}},
        HostileCase{"ASerialNumberStringNumberOf0IsEmpty",
                    {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 0),
                                  Bytes("Maker\0Model\0Serial\0\0", 20))},
                    true,
                    Values{"Maker", "Model", ""}},
        HostileCase{
            "AStructureCutInsideItsHeaderIsNotTakenAsTheLast",
            {RawStructure(1, 0x1B, 0x200, SystemInfoFields(1, 2, 3), Bytes("A\0B\0C\0\0", 8)),
             {1, 0x1B, 0x01}},
            false,
            Values{"A", "B", "C"}},
        HostileCase{"OnlyAStructureCutInsideItsHeaderIdentifiesNothing",
                    {RawStructure(2, 4, 0x200, {}, Bytes("\0\0", 2)), {1, 0x1B}},
                    false,
                    std::nullopt}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return info.param.name; });

// A protocol whose only structure lies outside the published table, in a
// block of 0x10000 bytes whose serial number ends only in its last byte:
// past the largest structure SMBIOS allows.
std::vector<UINT8> *gOutside = nullptr;

EFI_STATUS EFIAPI OutsideGetNext(CONST EFI_SMBIOS_PROTOCOL *, EFI_SMBIOS_HANDLE *handle,
                                 EFI_SMBIOS_TYPE *, EFI_SMBIOS_TABLE_HEADER **record,
                                 EFI_HANDLE *) {
  if (*handle != SMBIOS_HANDLE_PI_RESERVED) {
    *handle = SMBIOS_HANDLE_PI_RESERVED;
    return EFI_NOT_FOUND;
  }
  *handle = 0x300;
  *record = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(gOutside->data());
  return EFI_SUCCESS;
}

std::vector<UINT8> OutsideStructure() {
  std::vector<UINT8> block =
      RawStructure(1, 0x1B, 0x300, SystemInfoFields(1, 2, 3), Bytes("Maker\0Model\0", 12));
  block.resize(0x10000, 'x');
  block.back() = 0;
  return block;
}

class OutsideTableTest : public DeviceIdTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OutsideTableTest, AStructureIsReadNoFurtherThan0xFFFFBytes) {
  std::vector<UINT8> block = OutsideStructure();
  gOutside = &block;
  EFI_SMBIOS_PROTOCOL outside = {nullptr, nullptr, nullptr, OutsideGetNext, 3, 0};
  ASSERT_EQ(firmware->InstallProtocol(gEfiSmbiosProtocolGuid, &outside), EFI_SUCCESS);
  if (GetParam()) {
    // The double's own table is published too, away from the structure.
    AddSystemInfo("Other", "Table", "Entry");
    firmware->InstallSmbios();
  }
  PublishDeviceIdentifier();
  gOutside = nullptr;
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), Document({"Maker", "Model", ""}));
}

INSTANTIATE_TEST_SUITE_P(EntryPoint, OutsideTableTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "TableElsewhere" : "NoTable";
                         });

TEST_F(DeviceIdTest, WithoutAnEntryPointTheStructuresAreStillRead) {
  AddSystemInfo("A", "B", "C");
  firmware->InstallSmbios();
  EFI_GUID guid = SMBIOS3_TABLE_GUID;
  ASSERT_EQ(firmware->BootServices()->InstallConfigurationTable(&guid, nullptr), EFI_SUCCESS);
  PublishDeviceIdentifier();
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), Document({"A", "B", "C"}));
}

} // namespace
