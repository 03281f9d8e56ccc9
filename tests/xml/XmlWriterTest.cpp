// The compact writer, escaping, and the driver's fixed packet templates
// written back byte for byte.
#include <cstring>
#include <string>

#include "XmlTestSupport.h"

namespace {

using XmlWriter = XmlPoolTest;

const char kResultsTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResultsPacket "
                                "xmlns=\"urn:UefiSettings-Schema\"></ResultsPacket>";
const char kCurrentSettingsTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><CurrentSettingsPacket "
    "xmlns=\"urn:UefiSettings-Schema\"></CurrentSettingsPacket>";
const char kCurrentPermissionsTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><CurrentPermissionsPacket "
    "xmlns=\"urn:UefiSettings-Schema\"></CurrentPermissionsPacket>";
const char kDeviceIdentifierTemplate[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket>"
    "</UEFIDeviceIdentifierPacket>";
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

XmlNode *Add(XmlNode *parent, const char *name, const char *value = nullptr) {
  XmlNode *node = nullptr;
  EXPECT_EQ(XmlAddNode(parent, name, value, &node), EFI_SUCCESS) << name;
  return node;
}

// The writer's escaping, checked against a plain model of it.
std::string EscapedModel(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&apos;";
      break;
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// Values are scanned in blocks of sixteen and eight bytes with a short
// tail: a character to escape at every place of values of every length up
// to three blocks, in element text and in an attribute.
TEST_F(XmlWriter, EscapesAtEveryPlaceOfAValue) {
  for (char special : std::string("\"&'<>")) {
    for (size_t length = 1; length <= 40; length++) {
      for (size_t at = 0; at < length; at++) {
        std::string value(length, 'a');
        value[at] = special;
        value[length - 1 - (at % 3 == 0 ? 0 : at)] = special;
        TreeGuard tree;
        ASSERT_EQ(XmlAddNode(nullptr, "R", value.c_str(), tree.address()), EFI_SUCCESS);
        ASSERT_EQ(XmlAddAttribute(tree.get(), "k", value.c_str()), EFI_SUCCESS);
        std::string escaped = EscapedModel(value);
        EXPECT_EQ(Serialize(tree.get()), "<R k=\"" + escaped + "\">" + escaped + "</R>")
            << special << " " << length << " " << at;
      }
    }
  }
}

// The writing pass copies values that the measuring pass found plain,
// remembering that for the first 2048 values in the walk; values past them
// are escaped as well, in the right order, and the size still counts.
TEST_F(XmlWriter, ManyValuesInDocumentOrder) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", nullptr, tree.address()), EFI_SUCCESS);
  std::string expected = "<R>";
  for (int i = 0; i < 2500; i++) {
    std::string value =
        "v" + std::to_string(i) + (i % 3 == 0 ? "<&" : "") + (i % 5 == 0 ? "'" : "");
    std::string attribute = i % 7 == 0 ? "a>" + std::to_string(i) : "a" + std::to_string(i);
    XmlNode *child = Add(tree.get(), "C", value.c_str());
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(XmlAddAttribute(child, "x", attribute.c_str()), EFI_SUCCESS);
    expected += "<C x=\"" + EscapedModel(attribute) + "\">" + EscapedModel(value) + "</C>";
  }
  expected += "</R>";
  UINTN size = 0;
  CHAR8 *text = nullptr;
  ASSERT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_SUCCESS);
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(size, expected.size() + 1);
  XmlPoolFree(text);
}

TEST_F(XmlWriter, WorkedExample) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "A", nullptr, tree.address()), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "x", "1&amp;2"), EFI_SUCCESS);
  Add(tree.get(), "B", "v&lt;");
  Add(tree.get(), "C");
  UINTN size = 0;
  CHAR8 *text = nullptr;
  ASSERT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_SUCCESS);
  EXPECT_EQ(std::string(text), "<A x=\"1&amp;2\"><B>v&lt;</B><C /></A>");
  EXPECT_EQ(size, 37u);
  EXPECT_EQ(text[36], '\0');
  XmlPoolFree(text);
}

TEST_F(XmlWriter, ShapesOfElements) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "Root", nullptr, tree.address()), EFI_SUCCESS);
  UINTN size = 0;
  CHAR8 *text = nullptr;
  ASSERT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_SUCCESS);
  EXPECT_STREQ(text, "<Root />");
  EXPECT_EQ(size, 4u + 5u);
  XmlPoolFree(text);

  XmlNode *mixed = Add(tree.get(), "Mixed", "text");
  Add(mixed, "Inner");
  XmlNode *parent = Add(tree.get(), "Parent");
  Add(parent, "Leaf", "'\"");
  ASSERT_EQ(XmlAddAttribute(parent, "lt", "<"), EFI_SUCCESS);
  EXPECT_EQ(Serialize(tree.get()), "<Root><Mixed>text<Inner /></Mixed><Parent lt=\"&lt;\">"
                                   "<Leaf>&apos;&quot;</Leaf></Parent></Root>");
}

TEST_F(XmlWriter, DepthLimitIsTwentySixLevels) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "L", nullptr, tree.address()), EFI_SUCCESS);
  XmlNode *node = tree.get();
  for (int level = 1; level <= XML_MAX_WRITE_LEVEL; level++) {
    node = Add(node, "L");
  }
  std::string expected;
  for (int i = 0; i < XML_MAX_WRITE_LEVEL; i++) {
    expected += "<L>";
  }
  expected += "<L />";
  for (int i = 0; i < XML_MAX_WRITE_LEVEL; i++) {
    expected += "</L>";
  }
  EXPECT_EQ(Serialize(tree.get()), expected);

  Add(node, "Deeper");
  UINTN size = 7;
  CHAR8 *text = reinterpret_cast<CHAR8 *>(&size);
  EXPECT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_BAD_BUFFER_SIZE);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(text, reinterpret_cast<CHAR8 *>(&size));
}

// The passes recursed once per level; a very deep parsed tree must end in
// BAD_BUFFER_SIZE, not in a stack overflow.
TEST_F(XmlWriter, VeryDeepTreeIsRefusedWithoutRecursion) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "n", nullptr, tree.address()), EFI_SUCCESS);
  XmlNode *node = tree.get();
  for (int i = 0; i < 200000; i++) {
    node = Add(node, "n");
  }
  UINTN size = 0;
  CHAR8 *text = nullptr;
  EXPECT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_BAD_BUFFER_SIZE);
  EXPECT_EQ(text, nullptr);
}

TEST_F(XmlWriter, RefusalsLeaveTheAddressesAlone) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", "v", tree.address()), EFI_SUCCESS);
  UINTN size = 5;
  CHAR8 *text = nullptr;
  EXPECT_EQ(XmlTreeToString(nullptr, 0, &size, &text), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlTreeToString(tree.get(), 0, nullptr, &text), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlTreeToString(tree.get(), 0, &size, nullptr), EFI_INVALID_PARAMETER);
  XmlHostPoolFailAt(1);
  EXPECT_EQ(XmlTreeToString(tree.get(), 0, &size, &text), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(XmlTreeToString(tree.get(), 12345, &size, &text), EFI_SUCCESS) << "reserved ignored";
  EXPECT_STREQ(text, "<R>v</R>");
  XmlPoolFree(text);
}

TEST_F(XmlWriter, EscapedAndUnescapedLengths) {
  struct Row {
    const char *text;
    UINTN limit;
    UINTN escaped;
    UINTN unescaped;
  } rows[] = {
      {"", 10, 0, 0},
      {"abc", 3, 3, 3},
      {"abcd", 3, 0, 0},
      {"<>", 10, 8, 2},
      {"\"'&", 10, 17, 3},
      {"&lt;&gt;&quot;&apos;&amp;", 100, 45, 5},
      {"&bogus;&", 100, 8 + 8, 8},
      {"&amp", 100, 4 + 4, 4},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(XmlEscapedLength(row.text, row.limit), row.escaped) << row.text;
    EXPECT_EQ(XmlUnescapedLength(row.text, row.limit), row.unescaped) << row.text;
  }
  EXPECT_EQ(XmlEscapedLength(nullptr, 10), 0u);
  EXPECT_EQ(XmlUnescapedLength(nullptr, 10), 0u);
}

TEST_F(XmlWriter, EscapeAndUnescape) {
  struct Row {
    const char *text;
    const char *escaped;
    const char *unescaped;
  } rows[] = {
      {"<", "&lt;", "<"},
      {"a&b", "a&amp;b", "a&b"},
      {"&amp;", "&amp;amp;", "&"},
      {"&amp;lt;", "&amp;amp;lt;", "&lt;"},
      {"&#38;x", "&amp;#38;x", "&#38;x"},
      {"&unknown; &", "&amp;unknown; &amp;", "&unknown; &"},
      {"q\"'", "q&quot;&apos;", "q\"'"},
      {"&quot&quot;", "&amp;quot&amp;quot;", "&quot\""},
  };
  for (const Row &row : rows) {
    CHAR8 *escaped = nullptr;
    CHAR8 *unescaped = nullptr;
    ASSERT_EQ(XmlEscape(row.text, 100, &escaped), EFI_SUCCESS);
    ASSERT_EQ(XmlUnescape(row.text, 100, &unescaped), EFI_SUCCESS);
    EXPECT_STREQ(escaped, row.escaped);
    EXPECT_STREQ(unescaped, row.unescaped);
    XmlPoolFree(escaped);
    XmlPoolFree(unescaped);
  }
  CHAR8 *result = nullptr;
  EXPECT_EQ(XmlEscape("", 10, &result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlEscape("toolong", 3, &result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlEscape("x", 3, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlUnescape("", 10, &result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlUnescape("toolong", 3, &result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlUnescape("x", 3, nullptr), EFI_INVALID_PARAMETER);
  XmlHostPoolFailAt(1);
  EXPECT_EQ(XmlEscape("x", 3, &result), EFI_OUT_OF_RESOURCES);
  XmlHostPoolFailAt(1);
  EXPECT_EQ(XmlUnescape("x", 3, &result), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(result, nullptr);
}

// References and bare ampersands at every offset of the words the
// unescaping scans in.
TEST_F(XmlWriter, UnescapingFindsReferencesAtEveryOffset) {
  for (const char *reference : {"&amp;", "&lt;", "&", "&quot"}) {
    const std::string expected = reference == std::string("&amp;")  ? "&"
                                 : reference == std::string("&lt;") ? "<"
                                                                    : reference;
    for (size_t before = 0; before <= 17; before++) {
      const std::string text =
          std::string(before, 'x') + reference + std::string(17 - before, 'y') + reference;
      SCOPED_TRACE(text);
      const std::string want =
          std::string(before, 'x') + expected + std::string(17 - before, 'y') + expected;
      EXPECT_EQ(XmlUnescapedLength(text.c_str(), 100), want.size());
      CHAR8 *unescaped = nullptr;
      ASSERT_EQ(XmlUnescape(text.c_str(), 100, &unescaped), EFI_SUCCESS);
      EXPECT_EQ(std::string(unescaped), want);
      XmlPoolFree(unescaped);
    }
  }
}

// Every byte value survives escaping followed by unescaping.
TEST_F(XmlWriter, EscapingRoundTrips) {
  std::string all;
  for (int c = 1; c < 256; c++) {
    all.push_back(static_cast<char>(c));
  }
  all += "&amp;&lt;";
  CHAR8 *escaped = nullptr;
  ASSERT_EQ(XmlEscape(all.c_str(), 1000, &escaped), EFI_SUCCESS);
  CHAR8 *back = nullptr;
  ASSERT_EQ(XmlUnescape(escaped, 1000, &back), EFI_SUCCESS);
  EXPECT_EQ(std::string(back), all);
  XmlPoolFree(escaped);
  XmlPoolFree(back);

  // Through the tree: an attribute written and read back is the same text.
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", nullptr, tree.address()), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "a", "<&>\"'x"), EFI_SUCCESS);
  std::string text = Serialize(tree.get());
  EXPECT_EQ(text, "<R a=\"&lt;&amp;&gt;&quot;&apos;x\" />");
  TreeGuard again;
  ASSERT_EQ(ParseBytes(text, again), EFI_SUCCESS);
  auto *attribute = reinterpret_cast<XmlAttribute *>(again.get()->AttributesListHead.ForwardLink);
  EXPECT_STREQ(attribute->Value, "<&>\"'x");
}

// ---- The driver's templates -------------------------------------------------

TEST_F(XmlWriter, TemplatesHaveTheirLengths) {
  EXPECT_EQ(std::strlen(kResultsTemplate), 101u);
  EXPECT_EQ(std::strlen(kCurrentSettingsTemplate), 117u);
  EXPECT_EQ(std::strlen(kCurrentPermissionsTemplate), 123u);
  EXPECT_EQ(std::strlen(kDeviceIdentifierTemplate), 95u);
  EXPECT_EQ(std::strlen(kDeclaration), 38u);
}

TEST_F(XmlWriter, TemplatesParseToARootWithTheirDeclaration) {
  struct Row {
    const char *text;
    const char *root;
  } rows[] = {
      {kResultsTemplate, "ResultsPacket"},
      {kCurrentSettingsTemplate, "CurrentSettingsPacket"},
      {kCurrentPermissionsTemplate, "CurrentPermissionsPacket"},
      {kDeviceIdentifierTemplate, "UEFIDeviceIdentifierPacket"},
  };
  for (const Row &row : rows) {
    TreeGuard tree;
    ASSERT_EQ(ParseBytes(row.text, tree), EFI_SUCCESS) << row.root;
    XmlNode *root = tree.get();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Name, row.root);
    EXPECT_STREQ(root->XmlDeclaration, kDeclaration);
    EXPECT_EQ(root->Value, nullptr);
    EXPECT_EQ(root->NumChildren, 0u);
    EXPECT_EQ(root->NumAttributes, 0u) << "the namespace declaration is not kept";
    EXPECT_EQ(Serialize(root), std::string(kDeclaration) + "<" + row.root + " />");
  }
}

TEST_F(XmlWriter, ResultsPacket) {
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(kResultsTemplate, tree), EFI_SUCCESS);
  Add(tree.get(), "AppliedOn", "2024-03-05T07:08:09");
  XmlNode *settings = Add(tree.get(), "Settings");
  XmlNode *result = Add(settings, "SettingResult");
  Add(result, "Id", "Device.USBBoot.Enable");
  Add(result, "Flags", "0x80000000");
  Add(result, "Result", "0x0");
  XmlNode *unknown = Add(settings, "SettingResult");
  Add(unknown, "Id", "A&amp;B");
  Add(unknown, "Flags", "0x0");
  Add(unknown, "Result", "0x800000000000000E");
  EXPECT_EQ(Serialize(tree.get()),
            std::string(kDeclaration) +
                "<ResultsPacket><AppliedOn>2024-03-05T07:08:09</AppliedOn><Settings>"
                "<SettingResult><Id>Device.USBBoot.Enable</Id><Flags>0x80000000</Flags>"
                "<Result>0x0</Result></SettingResult><SettingResult><Id>A&amp;B</Id>"
                "<Flags>0x0</Flags><Result>0x800000000000000E</Result></SettingResult>"
                "</Settings></ResultsPacket>");

  TreeGuard empty;
  ASSERT_EQ(ParseBytes(kResultsTemplate, empty), EFI_SUCCESS);
  Add(empty.get(), "AppliedOn", "2024-03-05T07:08:09");
  Add(empty.get(), "Settings");
  EXPECT_EQ(Serialize(empty.get()),
            std::string(kDeclaration) +
                "<ResultsPacket><AppliedOn>2024-03-05T07:08:09</AppliedOn><Settings />"
                "</ResultsPacket>");
}

TEST_F(XmlWriter, CurrentSettingsPacket) {
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(kCurrentSettingsTemplate, tree), EFI_SUCCESS);
  Add(tree.get(), "Date", "2024-03-05T07:08:09");
  XmlNode *settings = Add(tree.get(), "Settings");
  XmlNode *current = Add(settings, "SettingCurrent");
  Add(current, "Id", "Zelm.BootExternalMedia.Enable");
  Add(current, "Value", "Enabled");
  XmlNode *empty = Add(settings, "SettingCurrent");
  Add(empty, "Id", "Device.AssetTag");
  Add(empty, "Value", "");
  Add(tree.get(), "LSV", "0");
  EXPECT_EQ(Serialize(tree.get()),
            std::string(kDeclaration) +
                "<CurrentSettingsPacket><Date>2024-03-05T07:08:09</Date><Settings>"
                "<SettingCurrent><Id>Zelm.BootExternalMedia.Enable</Id><Value>Enabled</Value>"
                "</SettingCurrent><SettingCurrent><Id>Device.AssetTag</Id><Value />"
                "</SettingCurrent></Settings><LSV>0</LSV></CurrentSettingsPacket>");
}

TEST_F(XmlWriter, CurrentPermissionsPacket) {
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(kCurrentPermissionsTemplate, tree), EFI_SUCCESS);
  Add(tree.get(), "Date", "2024-03-05T07:08:09");
  XmlNode *permissions = Add(tree.get(), "Permissions");
  Add(tree.get(), "LSV", "0");
  ASSERT_EQ(XmlAddAttribute(tree.get(), "Default", "1"), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "Delegated", "128"), EFI_SUCCESS);
  XmlNode *entry = Add(permissions, "PermissionCurrent");
  Add(entry, "Id", "Zelm.Permissions");
  Add(entry, "PMask", "128");
  Add(entry, "DMask", "128");
  XmlNode *plain = Add(permissions, "PermissionCurrent");
  Add(plain, "Id", "Device.USBBoot.Enable");
  Add(plain, "PMask", "9");
  EXPECT_EQ(Serialize(tree.get()),
            std::string(kDeclaration) +
                "<CurrentPermissionsPacket Default=\"1\" Delegated=\"128\">"
                "<Date>2024-03-05T07:08:09</Date><Permissions><PermissionCurrent>"
                "<Id>Zelm.Permissions</Id><PMask>128</PMask><DMask>128</DMask>"
                "</PermissionCurrent><PermissionCurrent><Id>Device.USBBoot.Enable</Id>"
                "<PMask>9</PMask></PermissionCurrent></Permissions><LSV>0</LSV>"
                "</CurrentPermissionsPacket>");
}

TEST_F(XmlWriter, DeviceIdentifierPacket) {
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(kDeviceIdentifierTemplate, tree), EFI_SUCCESS);
  XmlNode *identifiers = Add(tree.get(), "Identifiers");
  Add(tree.get(), "ZelmVersion", "2");
  const char *names[] = {"Manufacturer", "Product Name", "Serial Number"};
  const char *values[] = {"A", "B", "C"};
  for (int i = 0; i < 3; i++) {
    XmlNode *identifier = Add(identifiers, "Identifier");
    Add(identifier, "Id", names[i]);
    Add(identifier, "Value", values[i]);
  }
  std::string text = Serialize(tree.get());
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket><Identifiers>"
            "<Identifier><Id>Manufacturer</Id><Value>A</Value></Identifier><Identifier><Id>"
            "Product Name</Id><Value>B</Value></Identifier><Identifier><Id>Serial Number</Id>"
            "<Value>C</Value></Identifier></Identifiers><ZelmVersion>2</ZelmVersion>"
            "</UEFIDeviceIdentifierPacket>");
}

} // namespace
