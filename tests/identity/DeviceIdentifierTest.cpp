// "ZelmDeviceIdentifier": the exact document, how an existing variable is
// replaced, and that nothing is written when there is nothing to identify.
#include <zelm/ZelmGuids.h>

#include <cstring>
#include <ostream>

#include "identity/DeviceIdentifier.h"
#include "support/XmlTreeGuard.h"
#include "tests/identity/DeviceIdentifierTestSupport.h"

namespace {

using deviceidtest::DeviceIdTest;
using deviceidtest::Document;
using deviceidtest::kOldDocument;
using deviceidtest::Values;

class DeviceIdentifierTest : public DeviceIdTest {};

TEST_F(DeviceIdentifierTest, StringsABAndCAreStoredAsThisExactTextWithItsNulAndAttributes7) {
  AddSystemInfo("A", "B", "C");
  firmware->InstallSmbios();
  PublishDeviceIdentifier();
  const char kExpected[] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket><Identifiers>"
      "<Identifier><Id>Manufacturer</Id><Value>A</Value></Identifier><Identifier><Id>Product "
      "Name</Id><Value>B</Value></Identifier><Identifier><Id>Serial Number</Id><Value>C</Value>"
      "</Identifier></Identifiers><ZelmVersion>2</ZelmVersion></UEFIDeviceIdentifierPacket>";
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), std::string(kExpected, sizeof(kExpected)));
  EXPECT_EQ(Variable()->data.size(), std::strlen(kExpected) + 1);
  EXPECT_EQ(Variable()->attributes, 7u);
}

struct DocumentCase {
  const char *name;
  std::vector<UINT8> fields; // string numbers of a System Information structure
  std::vector<std::string> strings;
  std::string expected;
};
void PrintTo(const DocumentCase &c, std::ostream *os) {
  *os << c.name;
}

class DocumentTest : public DeviceIdTest, public ::testing::WithParamInterface<DocumentCase> {};

TEST_P(DocumentTest, StoresExactlyThisText) {
  platform.AddSmbiosRecord(1, GetParam().fields, GetParam().strings);
  firmware->InstallSmbios();
  PublishDeviceIdentifier();
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), GetParam().expected);
  EXPECT_EQ(Variable()->attributes, 7u);
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket>"
                          "<Identifiers><Identifier><Id>Manufacturer</Id>";

INSTANTIATE_TEST_SUITE_P(
    Values, DocumentTest,
    ::testing::Values(
        DocumentCase{"ReservedCharactersAreWrittenAsEntityReferences",
                     deviceidtest::SystemInfoFields(1, 2, 3),
                     {"Tom & Jerry", "<Model> \"X\"", "it's"},
                     kHead +
                         "<Value>Tom &amp; Jerry</Value></Identifier><Identifier><Id>Product "
                         "Name</Id><Value>&lt;Model&gt; &quot;X&quot;</Value></Identifier>"
                         "<Identifier><Id>Serial Number</Id><Value>it&apos;s</Value>"
                         "</Identifier></Identifiers><ZelmVersion>2</ZelmVersion>"
                         "</UEFIDeviceIdentifierPacket>" +
                         std::string(1, '\0')},
        DocumentCase{"AnEmptyStringIsAnEmptyElement",
                     deviceidtest::SystemInfoFields(0, 1, 2),
                     {"Model", "S-1"},
                     kHead +
                         "<Value /></Identifier><Identifier><Id>Product Name</Id><Value>Model"
                         "</Value></Identifier><Identifier><Id>Serial Number</Id><Value>S-1"
                         "</Value></Identifier></Identifiers><ZelmVersion>2</ZelmVersion>"
                         "</UEFIDeviceIdentifierPacket>" +
                         std::string(1, '\0')},
        DocumentCase{"ASerialNumberStringNumberOf0GivesAnEmptySerialNumber",
                     deviceidtest::SystemInfoFields(1, 2, 0),
                     {"Maker", "Model", "Unused"},
                     Document({"Maker", "Model", ""})},
        DocumentCase{"TheStringsAreTakenByTheirNumbersNotTheirOrder",
                     deviceidtest::SystemInfoFields(3, 1, 2),
                     {"Model", "S-1", "Maker"},
                     Document({"Maker", "Model", "S-1"})}),
    [](const ::testing::TestParamInfo<DocumentCase> &info) { return info.param.name; });

TEST_F(DeviceIdentifierTest, AVariableOfOtherAttributesIsDeletedWithAttributes0ThenWritten) {
  PutOld(EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS);
  AddSystemInfo("A", "B", "C");
  firmware->InstallSmbios();
  PublishDeviceIdentifier();
  const std::vector<host::SetVariableCall> &log = platform.SetVariableLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].name, u"ZelmDeviceIdentifier");
  EXPECT_EQ(log[0].attributes, 0u);
  EXPECT_TRUE(log[0].data.empty());
  EXPECT_EQ(log[0].status, EFI_SUCCESS);
  EXPECT_EQ(log[1].attributes, 7u);
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), Document({"A", "B", "C"}));
  EXPECT_EQ(Variable()->attributes, 7u);
}

TEST_F(DeviceIdentifierTest, AVariableOfAttributes7IsRewrittenInOneWrite) {
  PutOld();
  AddSystemInfo("A", "B", "C");
  firmware->InstallSmbios();
  PublishDeviceIdentifier();
  ASSERT_EQ(platform.SetVariableLog().size(), 1u);
  EXPECT_EQ(*Stored(), Document({"A", "B", "C"}));
}

struct RefusalCase {
  const char *name;
  UINT32 oldAttributes;
  size_t refusedCall; // 1 = the first SetVariable of the publication
  size_t calls;       // SetVariable calls made
};
void PrintTo(const RefusalCase &c, std::ostream *os) {
  *os << c.name;
}

class RefusedWriteTest : public DeviceIdTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedWriteTest, LeavesTheOldVariable) {
  PutOld(GetParam().oldAttributes);
  AddSystemInfo("A", "B", "C");
  firmware->InstallSmbios();
  platform.FailSetVariable(GetParam().refusedCall, EFI_DEVICE_ERROR);
  PublishDeviceIdentifier();
  EXPECT_EQ(platform.SetVariableLog().size(), GetParam().calls);
  ASSERT_NE(Variable(), nullptr);
  EXPECT_EQ(*Stored(), kOldDocument);
  EXPECT_EQ(Variable()->attributes, GetParam().oldAttributes);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RefusedWriteTest,
    ::testing::Values(RefusalCase{"TheWriteOverAVariableOfAttributes7", 7, 1, 1},
                      // No write follows a refused delete: it would be refused too.
                      RefusalCase{"TheDeleteOfAVariableOfOtherAttributes", 3, 1, 1}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return info.param.name; });

struct NothingCase {
  const char *name;
  bool installSmbios;
  std::vector<std::vector<UINT8>> structures;
  bool terminate;
};
void PrintTo(const NothingCase &c, std::ostream *os) {
  *os << c.name;
}

class NothingToIdentifyTest : public DeviceIdTest,
                              public ::testing::WithParamInterface<NothingCase> {};

TEST_P(NothingToIdentifyTest, WritesNothingAndLeavesTheOldVariable) {
  for (const std::vector<UINT8> &structure : GetParam().structures) {
    platform.AddRawSmbiosRecord(structure);
  }
  platform.terminateSmbiosTable = GetParam().terminate;
  if (GetParam().installSmbios) {
    firmware->InstallSmbios();
  }
  PutOld();
  PublishDeviceIdentifier();
  EXPECT_TRUE(platform.SetVariableLog().empty());
  EXPECT_EQ(Stored(), kOldDocument);
  platform.EraseVariable(u"ZelmDeviceIdentifier", gZelmDeviceIdentifierVariableGuid);
  PublishDeviceIdentifier();
  EXPECT_EQ(Variable(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Smbios, NothingToIdentifyTest,
    ::testing::Values(
        NothingCase{"NoSmbiosProtocol", false, {}, true},
        NothingCase{"NoStructures", true, {}, true},
        NothingCase{
            "NoSystemInformationStructure",
            true,
            {deviceidtest::RawStructure(2, 8, 0x100, {1, 0, 0, 0}, std::string("Board\0\0", 7)),
             deviceidtest::RawStructure(3, 4, 0x101, {}, std::string("\0\0", 2))},
            true},
        NothingCase{
            "OnlyASystemInformationStructureCutInsideItsHeader",
            true,
            {deviceidtest::RawStructure(2, 4, 0x100, {}, std::string("\0\0", 2)), {1, 0x1B, 0x01}},
            false}),
    [](const ::testing::TestParamInfo<NothingCase> &info) { return info.param.name; });

TEST_F(DeviceIdentifierTest, AddIdentifierRefusesAnythingButAnElementNamedExactlyIdentifiers) {
  XmlTreeGuard tree;
  *tree.out() = BuildDeviceIdentifierTemplate();
  ASSERT_NE(tree.get(), nullptr);
  XmlNode *identifiers = XmlFindChild(tree.get(), "Identifiers");
  ASSERT_NE(identifiers, nullptr);
  EXPECT_EQ(AddIdentifier(nullptr, "Id", "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddIdentifier(identifiers, nullptr, "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddIdentifier(tree.get(), "Id", "v"), EFI_INVALID_PARAMETER);
  XmlNode *lookalike = nullptr;
  ASSERT_EQ(XmlAddNode(tree.get(), "identifiers", nullptr, &lookalike), EFI_SUCCESS);
  EXPECT_EQ(AddIdentifier(lookalike, "Id", "v"), EFI_INVALID_PARAMETER);
  ASSERT_EQ(XmlAddNode(tree.get(), "IdentifiersX", nullptr, &lookalike), EFI_SUCCESS);
  EXPECT_EQ(AddIdentifier(lookalike, "Id", "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(identifiers->NumChildren, 0u);
}

} // namespace
