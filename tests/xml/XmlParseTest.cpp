// XmlParse: the lenient tree builder over real packets, hostile input and
// every encoding.
#include <cstdio>
#include <string>
#include <vector>

#include "XmlTestSupport.h"
#include "xml/XmlInternal.h"

namespace {

using XmlParser = XmlPoolTest;

std::string Status(EFI_STATUS status) {
  char text[40];
  std::snprintf(text, sizeof(text), "<status 0x%llX>", static_cast<unsigned long long>(status));
  return text;
}

const std::string kInvalid = Status(EFI_INVALID_PARAMETER);
const std::string kUnsupported = Status(EFI_UNSUPPORTED);
const std::string kTooSmall = Status(EFI_BUFFER_TOO_SMALL);

const char kSettingsPacket[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<SettingsPacket xmlns=\"urn:UefiSettings-Schema\">\r\n"
    "  <Version>5</Version>\r\n"
    "  <LowestSupportedVersion>1</LowestSupportedVersion>\r\n"
    "  <Settings>\r\n"
    "    <Setting><Id>Device.USBBoot.Enable</Id><Value>Enabled</Value></Setting>\r\n"
    "    <Setting>\r\n"
    "      <Id>Device.AssetTag</Id>\r\n"
    "      <Value>A&amp;B &lt;1&gt;</Value>\r\n"
    "    </Setting>\r\n"
    "    <Setting><Id>Zelm.Url</Id><Value /></Setting>\r\n"
    "  </Settings>\r\n"
    "</SettingsPacket>\r\n";

const char kSettingsWritten[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>5</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings><Setting>"
    "<Id>Device.USBBoot.Enable</Id><Value>Enabled</Value></Setting><Setting>"
    "<Id>Device.AssetTag</Id><Value>A&amp;amp;B &amp;lt;1&amp;gt;</Value></Setting>"
    "<Setting><Id>Zelm.Url</Id><Value /></Setting></Settings></SettingsPacket>";

struct Row {
  const char *what;
  std::string input;
  std::string written; // text of the tree, "<null>", or the failure status
};

void RunRows(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    EXPECT_EQ(ParseAndWrite(row.input), row.written) << row.what;
    EXPECT_EQ(XmlHostPoolOutstanding(), 0u) << row.what;
  }
}

TEST_F(XmlParser, SettingsPacket) {
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(kSettingsPacket, tree), EFI_SUCCESS);
  XmlNode *root = tree.get();
  EXPECT_STREQ(root->Name, "SettingsPacket");
  EXPECT_EQ(root->NumAttributes, 0u);
  EXPECT_EQ(root->NumChildren, 3u);
  XmlNode *settings = XmlFindChild(root, "Settings");
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->NumChildren, 3u);
  XmlNode *second =
      reinterpret_cast<XmlNode *>(settings->ChildrenListHead.ForwardLink->ForwardLink);
  EXPECT_STREQ(XmlFindChild(second, "Value")->Value, "A&amp;B &lt;1&gt;") << "text is verbatim";
  EXPECT_EQ(Serialize(root), kSettingsWritten);
}

TEST_F(XmlParser, StructureAndText) {
  RunRows({
      {"nested", "<a><b>x</b><c/></a>", "<a><b>x</b><c /></a>"},
      {"namespace declarations", "<r xmlns=\"urn:x\" xmlns:p=\"urn:p\" a=\"1\"/>", "<r a=\"1\" />"},
      {"xml attributes", "<r xml:lang=\"en\" xml=\"1\"/>", "<r xml=\"1\" />"},
      {"prefixes", "<p:r xmlns:p=\"u\"><p:a q:x=\"1\">t</p:a></p:r>", "<r><a x=\"1\">t</a></r>"},
      {"end tag by local part", "<p:r><a/></q:r>", "<r><a /></r>"},
      // Only its prefix makes it an attribute; written without it, it reads
      // back as a namespace declaration.
      {"prefixed xmlns attribute", "<r p:xmlns=\"u\"/>", "<r xmlns=\"u\" />"},
      {"trimmed text", "<r>  \r\n\t hi there \n</r>", "<r>hi there</r>"},
      {"blank text", "<r> \n </r>", "<r />"},
      {"entities", "<r a=\"x&amp;y&lt;&#65;\">p&amp;q</r>",
       "<r a=\"x&amp;y&lt;&amp;#65;\">p&amp;amp;q</r>"},
      {"mixed content keeps the last text", "<r>one<a/>two<b/> </r>", "<r>two<a /><b /></r>"},
      {"text split by a comment keeps its last piece", "<r><a>one<!--c-->two</a>x<b/></r>",
       "<r>x<a>two</a><b /></r>"},
      {"markup leaves no trace",
       "<!--c--><?p x?><r><!--c--><a><![CDATA[<z>]]>v<?q?></a><!-- c --></r><!--c-->",
       "<r><a>v</a></r>"},
      {"document type", "<!DOCTYPE r [<!ENTITY e \"v\"><!ELEMENT r ANY>]><r>&e;</r>",
       "<r>&amp;e;</r>"},
      {"attributes in any quotes", "<r a='1' b=\"'\" c = \"2\"d=\"3\"/>",
       "<r a=\"1\" b=\"&apos;\" c=\"2\" d=\"3\" />"},
      {"duplicates kept", "<r a=\"1\" a=\"2\"><x/><x/></r>", "<r a=\"1\" a=\"2\"><x /><x /></r>"},
  });
}

TEST_F(XmlParser, LenientEndings) {
  RunRows({
      {"root end tag missing", "<r><a>1</a><b>", "<r><a>1</a><b /></r>"},
      {"less-than and a digit", "<r><a>1</a><3/></r>", "<r><a>1</a></r>"},
      {"syntax error before any element", "<1/>", "<null>"},
      {"start tag cut after its name", "<r", kInvalid},
      {"last text is not acted on", "<r>hello", "<r />"},
      {"end tag that does not match", "<r><a></b></r>", kInvalid},
      {"only a declaration", "<?xml version=\"1.0\"?>", kInvalid},
      {"only a comment", "<!-- x -->", kInvalid},
      {"only text", "hello", kInvalid},
      {"empty attribute value", "<r a=\"\"/>", kInvalid},
      {"text after the root", "<a/>text", "<a />"},
      {"mark then a document", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><r />"},
      {"mark then text", "\xEF\xBB\xBFhello", "<null>"},
      {"mark then a declaration", "\xEF\xBB\xBF<?xml version=\"1.0\"?>", "<null>"},
      {"mark then an unclosed root", "\xEF\xBB\xBF<r><a>t", "<r><a>t</a></r>"},
  });
}

TEST_F(XmlParser, Declarations) {
  RunRows({
      {"without an encoding", "<?xml version=\"1.0\"?><a/>", "<?xml version=\"1.0\"?><a />"},
      {"encoding that does not fit", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",
       kUnsupported},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"latin1\"?><a/>", kUnsupported},
      // Kept exactly, whatever characters and lines it spans.
      {"over two lines", "<?xml version=\"1.0\"\n  encoding=\"utf-8\"?><a/>",
       "<?xml version=\"1.0\"\n  encoding=\"utf-8\"?><a />"},
      {"with multi-byte characters", "<?xml version=\"1.0\" standalone=\"\xC3\xA9\xC3\xA9\"?><a/>",
       "<?xml version=\"1.0\" standalone=\"\xC3\xA9\xC3\xA9\"?><a />"},
      // Only a declaration at the document start is the document's.
      {"after a comment", "<!--x--><?xml version=\"1.0\"?><a/>", "<a />"},
      {"after whitespace", "\n<?xml version=\"1.0\"?><a/>", "<a />"},
      {"a second one", "<?xml version=\"1.0\"?><a/><?xml version=\"2.0\"?><b/>",
       "<?xml version=\"1.0\"?><a />"},
      {"inside the root", "<a><?xml version=\"1.0\"?></a>", "<a />"},
      // Read once by the encoding check, and not again by the parse.
      {"after a byte-order mark", "\xEF\xBB\xBF<?xml version='1.0'?><a/>",
       "<?xml version='1.0'?><a />"},
      {"alone", "<?xml version=\"1.0\"?>", kInvalid},
      {"and a blank", "<?xml version=\"1.0\"?> ", kInvalid},
      {"then text alone", "<?xml version=\"1.0\"?>t", kInvalid},
      // A syntax error ends the parse with the tree built so far: none.
      {"with a pseudo-attribute of another name", "<?xml version=\"1.0\" x=\"y\"?><a/>", "<null>"},
      {"without its closing", "<?xml version=\"1.0\"<a/>", "<null>"},
      {"twice", "<?xml version=\"1.0\"?><?xml version=\"1.1\"?><a/>",
       "<?xml version=\"1.0\"?><a />"},
      {"then a document type", "<?xml version=\"1.0\"?><!DOCTYPE a><a/>",
       "<?xml version=\"1.0\"?><a />"},
      {"then an element of text alone", "<?xml version=\"1.0\"?><a>t</a>",
       "<?xml version=\"1.0\"?><a>t</a>"},
  });
}

// Elements after the root has closed are parsed and checked but never kept,
// and nothing of them may stay allocated.
TEST_F(XmlParser, SecondTopLevelElementIsReleased) {
  RunRows({
      {"closed", "<a/><b x=\"1\"><c>t</c></b>", "<a />"},
      {"several", "<a/><b/><c><d/></c><e>", "<a />"},
      {"left open", "<a></a><b><c>", "<a />"},
      {"with a bad attribute", "<a/><b x=\"\"/>", kInvalid},
      {"with a wrong end tag", "<a/><b></c>", kInvalid},
      {"with an undecodable byte", "<a/><b>\xFF</b>", kInvalid},
      {"then an end tag alone", "<a/></x><b/>", "<a />"},
  });
}

TEST_F(XmlParser, BadInput) {
  std::string cut = kSettingsPacket;
  RunRows({
      {"undecodable byte", "<r>\xFF</r>", kInvalid},
      {"truncated sequence", "<r>\xC3", kInvalid},
      {"NUL in text", std::string("<r>a\0b</r>", 10), kInvalid},
      {"NUL after a name", std::string("<r\0>", 4), kInvalid},
      {"parameter entity", "<!DOCTYPE r [%p;]><r/>", kUnsupported},
      {"unterminated default value", "\xEF\xBB\xBF<!DOCTYPE r [<!ATTLIST r a CDATA 'x>]><r/>",
       kInvalid},
  });
  TreeGuard tree;
  XmlNode *root = reinterpret_cast<XmlNode *>(1);
  EXPECT_EQ(XmlParse(nullptr, 4, &root), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlParse("<a/>", 0, &root), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlParse("<a/>", 4, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlParse("<a/>", 0x100000000ULL, &root), EFI_INVALID_PARAMETER);
  EXPECT_EQ(root, nullptr);
}

TEST_F(XmlParser, NameAndValueBuffersHold259Bytes) {
  std::string name259(259, 'n');
  std::string value259(259, 'v');
  RunRows({
      {"element name", "<" + name259 + "/>", "<" + name259 + " />"},
      {"element name too long", "<" + name259 + "n/>", kTooSmall},
      {"attribute name", "<r " + name259 + "=\"1\"/>", "<r " + name259 + "=\"1\" />"},
      {"attribute name too long", "<r " + name259 + "n=\"1\"/>", kTooSmall},
      {"attribute value", "<r a=\"" + value259 + "\"/>", "<r a=\"" + value259 + "\" />"},
      {"attribute value too long", "<r a=\"" + value259 + "v\"/>", kTooSmall},
      {"end tag name too long", "<r></" + name259 + "n>", kTooSmall},
  });
}

TEST_F(XmlParser, ManyAttributes) {
  std::string text = "<r";
  for (int i = 0; i < 20000; i++) {
    text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  }
  text += "/>";
  TreeGuard tree;
  ASSERT_EQ(ParseBytes(text, tree), EFI_SUCCESS);
  EXPECT_EQ(tree.get()->NumAttributes, 20000u);
  auto *last = reinterpret_cast<XmlAttribute *>(tree.get()->AttributesListHead.BackLink);
  EXPECT_STREQ(last->Name, "a19999");
  EXPECT_STREQ(last->Value, "19999");
}

// A packet-sized document of nested elements, and one far deeper: parsing,
// finding and releasing walk without recursion; writing refuses the depth.
TEST_F(XmlParser, DeepNesting) {
  for (size_t depth : {size_t(24 * 1024 / 3), size_t(1000000)}) {
    std::string text;
    text.reserve(depth * 3);
    for (size_t i = 0; i < depth; i++) {
      text += "<a>";
    }
    TreeGuard tree;
    ASSERT_EQ(ParseBytes(text, tree), EFI_SUCCESS);
    const XmlNode *node = tree.get();
    size_t levels = 1;
    while (node->NumChildren == 1) {
      node = XmlFindChild(node, "a");
      levels++;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(Serialize(tree.get()), Status(EFI_BAD_BUFFER_SIZE));
  }
}

// In UTF-16 and UCS-4 the copied bytes of names and texts end at their
// first zero byte.
TEST_F(XmlParser, WideEncodings) {
  std::string bad = Widen("<a>x</a>", 4, false, false);
  bad.replace(12, 4, std::string("\x00\x00\x00\x80", 4));
  RunRows({
      {"UTF-16 little-endian", Widen("<root attr=\"val\">text</root>", 2, false, true),
       "<r a=\"v\">t</r>"},
      {"UTF-16 little-endian with a declaration",
       Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><ab>c</ab>", 2, false, false),
       "<<a>c</a>"},
      {"UCS-4 little-endian", Widen("<r><c>t</c></r>", 4, false, false), "<r><c>t</c></r>"},
      {"UTF-16 big-endian names start with a zero byte", Widen("<r/>", 2, true, true), kInvalid},
      {"UCS-4 above the Unicode range", bad, kInvalid},
      {"UTF-16 half a character at the end", Widen("<r>", 2, false, true) + "x", kInvalid},
  });
}

// Every prefix of a real packet: a status or a tree, never a leak.
TEST_F(XmlParser, EveryTruncationOfAPacket) {
  std::string packet = kSettingsPacket;
  for (size_t length = 1; length <= packet.size(); length++) {
    TreeGuard tree;
    EFI_STATUS status = ParseBytes(packet.substr(0, length), tree);
    EXPECT_TRUE(status == EFI_SUCCESS || status == EFI_INVALID_PARAMETER) << length;
    if (status == EFI_SUCCESS && tree.get() != nullptr) {
      EXPECT_STREQ(tree.get()->Name, "SettingsPacket");
      std::string written = Serialize(tree.get());
      EXPECT_EQ(written.compare(0, 10, "<?xml vers"), 0) << length;
    }
  }
}

// Plain ASCII markup is read on a fast path that hands everything else to
// the general tokenizer one token at a time. Inputs that cross between the
// two at every kind of place must read exactly as the general tokenizer
// alone reads them (ParseAndWrite compares the two), and give these trees.
TEST_F(XmlParser, FastPathHandsOverAtEveryBoundary) {
  RunRows({
      {"name with a prefix", "<p:a><b/></p:a>", "<a><b /></a>"},
      {"attribute with a prefix", "<a p:k=\"v\" j=\"w\"/>", "<a k=\"v\" j=\"w\" />"},
      {"namespace declarations", "<a xmlns=\"u\" xmlns:p=\"w\" k='v'/>", "<a k=\"v\" />"},
      {"an attribute named xml", "<a xml=\"1\"/>", "<a xml=\"1\" />"},
      {"blanks around the equals sign", "<a k \t= \r\n'v' ></a >", "<a k=\"v\" />"},
      {"other quote inside a value", "<a k=\"it's\" j='say \"x\"'/>",
       "<a k=\"it&apos;s\" j=\"say &quot;x&quot;\" />"},
      {"non-ASCII text and value", "<a k=\"\xC3\xA9\">caf\xC3\xA9</a>",
       "<a k=\"\xC3\xA9\">caf\xC3\xA9</a>"},
      {"invalid UTF-8 in text", "<a>x\xFFy</a>", "<status 0x8000000000000002>"},
      {"NUL in text", std::string("<a>x\0y</a>", 10), "<status 0x8000000000000002>"},
      {"end tag ends the input", "<a><b>t</b></a>", "<a><b>t</b></a>"},
      {"start tag cut at the last byte", "<a><b", "<a />"},
      {"comment and instruction between tags", "<a><!--c--><?p x?><b/></a>", "<a><b /></a>"},
      {"instruction named like the declaration", "<?xml-model x?><a/>", "<a />"},
      {"declaration with single quotes and standalone",
       "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?><a/>",
       "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?><a />"},
      {"declaration naming another encoding", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",
       "<status 0x8000000000000003>"},
      {"end tag of another element", "<a><b></a></b>", "<status 0x8000000000000002>"},
      {"a prefix of the open element's name", "<ab>t</a>", "<status 0x8000000000000002>"},
      {"the open element's name and more", "<a>t</ab>", "<status 0x8000000000000002>"},
      {"less-than before a digit", "<a><1/></a>", "<a />"},
  });
}

// On the fast path a tag of a name alone is read in one step, and an
// element of text alone inside another, "<a>t</a>", is read whole; every
// variant around them must read as their tokens do.
TEST_F(XmlParser, WholeTagsAndElementsReadAsTheirTokens) {
  std::string name259(259, 'n');
  RunRows({
      {"text", "<r><a>t</a></r>", "<r><a>t</a></r>"},
      {"two in a row", "<r><a>1</a><b>2</b></r>", "<r><a>1</a><b>2</b></r>"},
      {"no text", "<r><a></a></r>", "<r><a /></r>"},
      {"blank text", "<r><a> \r\n\t</a></r>", "<r><a /></r>"},
      {"text trimmed", "<r><a>  t u \n</a></r>", "<r><a>t u</a></r>"},
      {"references kept as written", "<r><a>x&amp;y</a></r>", "<r><a>x&amp;amp;y</a></r>"},
      {"a greater-than in the text", "<r><a>1>0</a></r>", "<r><a>1&gt;0</a></r>"},
      {"text of the parent around it", "<r>p<a>t</a>q</r>", "<r>q<a>t</a></r>"},
      {"blank before the end tag's >", "<r><a>t</a ></r>", "<r><a>t</a></r>"},
      {"an attribute", "<r><a k=\"v\">t</a></r>", "<r><a k=\"v\">t</a></r>"},
      {"non-ASCII text", "<r><a>\xC3\xA9</a></r>", "<r><a>\xC3\xA9</a></r>"},
      {"at the root", "<a>t</a>", "<a>t</a>"},
      {"inside an element after the root", "<a/><b><c>t</c></b>", "<a />"},
      {"its end tag at the last byte", "<r><a>t</a>", "<r><a>t</a></r>"},
      {"another element's end tag", "<r><a>t</b></r>", kInvalid},
      {"a start tag ending in the name after the text", "<r><a>t<ba></ba></a></r>",
       "<r><a>t<ba /></a></r>"},
      {"a longer end tag name", "<r><a>t</ab></r>", kInvalid},
      {"a shorter end tag name", "<r><ab>t</a></r>", kInvalid},
      {"name of 259 bytes", "<r><" + name259 + ">t</" + name259 + "></r>",
       "<r><" + name259 + ">t</" + name259 + "></r>"},
      {"name too long", "<r><" + name259 + "n>t</" + name259 + "n></r>", kTooSmall},
      {"an element's name too long", "<r><" + name259 + "n><a/></r>", kTooSmall},
      {"an element's end tag of another name", "<r><a><b>t</b></c></r>", kInvalid},
      {"an element's end tag too long", "<r><a><b>t</b></" + name259 + "n></r>", kTooSmall},
      {"end tags at the very end", "<r><a><b>t</b></a></r>", "<r><a><b>t</b></a></r>"},
  });
}

// Each allocation of a parse failing in turn: OUT_OF_RESOURCES, no tree,
// nothing left allocated. The fast path makes most elements in other
// places than the general tokenizer's tokens do, so both are swept.
TEST_F(XmlParser, ExhaustedPoolReleasesEverything) {
  for (bool general : {false, true}) {
    ExactBuffer input(kSettingsPacket);
    UINTN n = 1;
    for (;; n++) {
      XmlHostPoolFailAt(n);
      TreeGuard tree;
      EFI_STATUS status = XmlParseWith(input.data(), input.size(), tree.address(), general);
      XmlHostPoolFailAt(0);
      if (status == EFI_SUCCESS) {
        EXPECT_EQ(Serialize(tree.get()), kSettingsWritten) << general;
        break;
      }
      ASSERT_EQ(status, EFI_OUT_OF_RESOURCES) << n << " " << general;
      EXPECT_EQ(tree.get(), nullptr) << n << " " << general;
      EXPECT_EQ(XmlHostPoolOutstanding(), 0u) << n << " " << general;
    }
    EXPECT_EQ(n, 15u) << "one block per element, and the declaration";
  }
}

} // namespace
