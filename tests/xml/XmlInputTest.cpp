// The input layer: decoders, character classes, encoding detection,
// scanners, keyword comparison, and the tokenizer's state machine.
#include <string>
#include <vector>

#include "XmlTestSupport.h"
#include "xml/XmlTokenizer.h"

namespace {

using XmlInput = XmlPoolTest;

const UINT8 *Bytes(const ExactBuffer &buffer) {
  return reinterpret_cast<const UINT8 *>(buffer.data());
}

struct DecodeRow {
  XmlDecoder decoder;
  std::string bytes;
  INT32 code; // -1: failure
  XmlFailure failure;
  UINTN length;
};

TEST_F(XmlInput, Decoders) {
  const XmlFailure ok = XmlFailure::None;
  const XmlFailure eoi = XmlFailure::EndOfInput;
  const XmlFailure bad = XmlFailure::InvalidSequence;
  const DecodeRow rows[] = {
      {XmlDecodeUtf8, "A", 0x41, ok, 1},
      {XmlDecodeUtf8, "\xC3\xA9", 0xE9, ok, 2},
      {XmlDecodeUtf8, "\xE2\x82\xAC", 0x20AC, ok, 3},
      {XmlDecodeUtf8, "\xF0\x9F\x98\x80", 0x1F600, ok, 4},
      {XmlDecodeUtf8, "\xED\xA0\x80", 0xD800, ok, 3},       // surrogates are not refused
      {XmlDecodeUtf8, "\xF7\xBF\xBF\xBF", 0x1FFFFF, ok, 4}, // nor values above 10FFFF
      {XmlDecodeUtf8, "", -1, eoi, 0},
      {XmlDecodeUtf8, std::string(1, '\0'), -1, bad, 0},
      {XmlDecodeUtf8, "\xC1\x81", -1, bad, 0},
      {XmlDecodeUtf8, "\xE0\x80\x80", -1, bad, 0},
      {XmlDecodeUtf8, "\xF0\x80\x80\x80", -1, bad, 0},
      {XmlDecodeUtf8, "\xC3", -1, bad, 0},
      {XmlDecodeUtf8, "\xE2\x82", -1, bad, 0},
      {XmlDecodeUtf8, "\xC3\x41", -1, bad, 0},
      {XmlDecodeUtf8, "\x80", -1, bad, 0},
      {XmlDecodeUtf8, "\xF8\x88\x80\x80\x80", -1, bad, 0},
      {XmlDecodeUtf8, "\xFE", -1, bad, 0},
      {XmlDecodeUtf8, "\xFF", -1, bad, 0},
      {XmlDecodeUtf16Le, std::string("\x41\x00", 2), 0x41, ok, 2},
      {XmlDecodeUtf16Le, std::string("\x3D\xD8\x00\xDE", 4), 0x1F600, ok, 4},
      {XmlDecodeUtf16Le, std::string("\x00\xDC", 2), -1, bad, 0},
      {XmlDecodeUtf16Le, std::string("\x3D\xD8", 2), -1, bad, 0},
      {XmlDecodeUtf16Le, "\x41", -1, eoi, 0},
      {XmlDecodeUtf16Be, std::string("\x00\xE9", 2), 0xE9, ok, 2},
      {XmlDecodeUtf16Be, std::string("\xD8\x3D\xDE\x00", 4), 0x1F600, ok, 4},
      {XmlDecodeUtf16Be, std::string("\xDC\x00", 2), -1, bad, 0},
      {XmlDecodeUtf16Be, "", -1, eoi, 0},
      {XmlDecodeUcs4Le, std::string("\x00\xF6\x01\x00", 4), 0x1F600, ok, 4},
      {XmlDecodeUcs4Le, std::string("\xFF\xFF\x10\x00", 4), 0x10FFFF, ok, 4},
      {XmlDecodeUcs4Be, std::string("\x00\x01\xF6\x00", 4), 0x1F600, ok, 4},
      {XmlDecodeUcs4Be, std::string("\x00\x00\x3C", 3), -1, eoi, 0},
      // Above the Unicode range a value would become a negative code point.
      {XmlDecodeUcs4Le, std::string("\x00\x00\x11\x00", 4), -1, bad, 0},
      {XmlDecodeUcs4Be, std::string("\x80\x00\x00\x00", 4), -1, bad, 0},
      {XmlDecodeUcs4Le, "\xFF\xFF\xFF\xFF", -1, bad, 0},
  };
  for (const DecodeRow &row : rows) {
    ExactBuffer buffer(row.bytes);
    const UINT8 *start = Bytes(buffer);
    XmlChar c = row.decoder(start, start + buffer.size());
    EXPECT_EQ(c.Code, row.code) << testing::PrintToString(row.bytes);
    EXPECT_EQ(c.Failure, row.failure) << testing::PrintToString(row.bytes);
    if (row.failure == ok) {
      EXPECT_EQ(static_cast<UINTN>(c.Next - start), row.length);
    }
  }
}

TEST_F(XmlInput, CharacterClasses) {
  const std::pair<UINT32, UINT32> rows[] = {
      {'-', 1},          {'.', 2},   {'=', 4},   {'/', 5},   {'>', 6},       {'<', 7},
      {'?', 8},          {'\'', 9},  {'"', 10},  {'a', 12},  {'Z', 12},      {'0', 12},
      {'@', 12},         {0x01, 12}, {0x00, 12}, {0x7F, 12}, {'\t', 13},     {'\n', 13},
      {'\r', 13},        {' ', 13},  {'[', 14},  {']', 15},  {'!', 16},      {'{', 17},
      {'}', 18},         {'(', 19},  {')', 20},  {':', 21},  {';', 22},      {'_', 23},
      {'&', 24},         {'#', 25},  {'%', 26},  {0x80, 12}, {0x10FFFF, 12}, {0x80000000u, 12},
      {0xFFFFFFFFu, 12},
  };
  for (auto [code, cls] : rows) {
    EXPECT_EQ(XmlCharClass(code), cls) << code;
  }
  EXPECT_EQ(XmlToUpper('a'), static_cast<UINT32>('A'));
  EXPECT_EQ(XmlToUpper('z'), static_cast<UINT32>('Z'));
  EXPECT_EQ(XmlToUpper('-'), static_cast<UINT32>('-'));
  EXPECT_EQ(XmlToUpper(0xE9), 0xE9u);
}

// A tokenizer over an exact copy of the bytes, with encoding detection run.
class Tokenizer {
public:
  explicit Tokenizer(const std::string &bytes, XmlEncodingMismatch mismatch = nullptr)
      : buffer_(bytes) {
    XmlInputDescriptor descriptor = {};
    descriptor.Size = sizeof(descriptor);
    descriptor.Text = Bytes(buffer_);
    descriptor.Length = static_cast<UINT32>(buffer_.size());
    descriptor.TrackPosition = TRUE;
    descriptor.EncodingMismatch = mismatch;
    EXPECT_EQ(XmlTokenizerInit(&state, &descriptor), XmlFailure::None);
    detection = XmlDetectEncoding(&state, &prefix);
    state.Position += prefix;
  }

  // Kinds of all committed tokens up to the end or the first error, each
  // with its text (ASCII inputs) when asked for.
  std::vector<std::pair<INT32, std::string>> All() {
    std::vector<std::pair<INT32, std::string>> tokens;
    for (int i = 0; i < 10000; i++) {
      XmlToken token;
      failure = XmlNextToken(&state, &token, TRUE);
      if (failure != XmlFailure::None || token.Error) {
        lastError = token.Error;
        break;
      }
      tokens.push_back(
          {token.Kind, std::string(reinterpret_cast<const char *>(token.Start), token.ByteLength)});
      chars += token.CharCount;
      if (token.Kind == 4) {
        break;
      }
    }
    return tokens;
  }

  std::vector<INT32> Kinds() {
    std::vector<INT32> kinds;
    for (auto &token : All()) {
      kinds.push_back(token.first);
    }
    return kinds;
  }

  ExactBuffer buffer_;
  XmlTokenizerState state;
  UINTN prefix = 0;
  XmlFailure detection = XmlFailure::None;
  XmlFailure failure = XmlFailure::None;
  bool lastError = false;
  UINT64 chars = 0;
};

TEST_F(XmlInput, EncodingTableRows) {
  struct Row {
    std::string bytes;
    UINT32 encoding;
    UINTN skipped;
  } rows[] = {
      {"<?xml version='1.0'?><a/>", XmlEncodingUtf8, 0},
      {"\xEF\xBB\xBF<a/>", XmlEncodingUtf8, 3},
      {"\xFE\xFF" + std::string("\0<\0a\0/\0>", 8), XmlEncodingUtf16Be, 2},
      {"\xFF\xFE" + std::string("<\0a\0/\0>\0", 8), XmlEncodingUtf16Le, 2},
      {std::string("\0<\0?\0x", 6), XmlEncodingUtf16Be, 0},
      {std::string("<\0?\0x\0", 6), XmlEncodingUtf16Le, 0},
      {std::string("\0\0\0<", 4), XmlEncodingUcs4Be, 0},
      {std::string("<\0\0\0", 4), XmlEncodingUcs4Le, 0},
      {"<a/>", XmlEncodingUtf8, 0},
      {"\xEF\xBB", XmlEncodingUtf8, 0},
  };
  for (const Row &row : rows) {
    Tokenizer tokenizer(row.bytes);
    EXPECT_EQ(tokenizer.detection, XmlFailure::None) << testing::PrintToString(row.bytes);
    EXPECT_EQ(tokenizer.state.EncodingId, row.encoding) << testing::PrintToString(row.bytes);
    EXPECT_EQ(tokenizer.prefix, row.skipped) << testing::PrintToString(row.bytes);
    EXPECT_EQ(tokenizer.state.Position, tokenizer.state.InputStart + row.skipped)
        << "detection reads on a copy";
    EXPECT_EQ(tokenizer.state.State, kXmlInitialState);
  }
}

XmlDecoder UseUtf8(XmlTokenizerState *, const XmlRun *) {
  return XmlDecodeUtf8;
}

TEST_F(XmlInput, DeclaredEncodingMustFitTheDetectedOne) {
  struct Row {
    std::string bytes;
    XmlFailure detection;
  } rows[] = {
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", XmlFailure::None},
      {"<?xml version=\"1.0\" encoding='UTF-8' standalone=\"yes\"?><a/>", XmlFailure::None},
      {"<?xml encoding=\"UTF-16\" version=\"1.0\"?><a/>", XmlFailure::UnknownEncoding},
      {"<?xml version=\"1.0\" encoding=\"UTF-8X\"?><a/>", XmlFailure::UnknownEncoding},
      {"<?xml version=\"1.0\" encoding=\"UTF\"?><a/>", XmlFailure::UnknownEncoding},
      {"<?xml version=\"1.0\" encoding=\"\"?><a/>", XmlFailure::UnknownEncoding},
      // A declaration without an encoding is accepted.
      {"<?xml version=\"1.0\"?><a/>", XmlFailure::None},
      {"<?xml version=\"1.0\" standalone=\"no\"?><a/>", XmlFailure::None},
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"Utf-8\"?><a/>", XmlFailure::None},
      {Widen("<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", 2, false, true), XmlFailure::None},
      {Widen("<?xml version=\"1.0\" encoding=\"UCS-2\"?><a/>", 2, true, false), XmlFailure::None},
      {Widen("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", 2, true, true),
       XmlFailure::UnknownEncoding},
      {Widen("<?xml version=\"1.0\" encoding=\"ucs-4\"?><a/>", 4, false, false), XmlFailure::None},
      {Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", 4, true, false),
       XmlFailure::UnknownEncoding},
      // A broken declaration is left to the main parse.
      {"<?xml version=\"1.0\" encoding=\"UTF-16", XmlFailure::None},
      {"<?xml version=\"1.0\" \xFF encoding=\"UTF-16\"?>", XmlFailure::None},
  };
  for (const Row &row : rows) {
    Tokenizer tokenizer(row.bytes);
    EXPECT_EQ(tokenizer.detection, row.detection) << testing::PrintToString(row.bytes);
  }
  Tokenizer handled("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", UseUtf8);
  EXPECT_EQ(handled.detection, XmlFailure::None) << "the handler's decoder is taken";
  EXPECT_EQ(handled.state.Decoder, XmlDecodeUtf8);
}

TEST_F(XmlInput, Scanners) {
  Tokenizer t("9ab_-1.x: \t\r\n<");
  XmlTokenizerState *s = &t.state;
  const UINT8 *start = s->InputStart;
  const UINT8 *end = s->InputEnd;
  XmlRun run;
  XmlRun following;

  ASSERT_EQ(XmlScanName(s, start, &run, &following), XmlFailure::None);
  EXPECT_EQ(run.Class, 0u);
  EXPECT_EQ(run.Length, 0u);
  EXPECT_EQ(following.Class, 12u);
  EXPECT_EQ(following.Start, start);

  ASSERT_EQ(XmlScanName(s, start + 1, &run, &following), XmlFailure::None);
  EXPECT_EQ(run.Class, 12u);
  EXPECT_EQ(run.Length, 7u); // ab_-1.x
  EXPECT_EQ(run.Count, 7u);
  EXPECT_EQ(following.Class, static_cast<UINT32>(XmlClassColon));

  ASSERT_EQ(XmlScanWhitespace(s, start + 9, &run, &following), XmlFailure::None);
  EXPECT_EQ(run.Class, 13u);
  EXPECT_EQ(run.Length, 4u);
  EXPECT_EQ(following.Class, static_cast<UINT32>(XmlClassLess));

  ASSERT_EQ(XmlScanText(s, start, &run, &following), XmlFailure::None);
  EXPECT_EQ(run.Length, 13u);
  EXPECT_EQ(following.Start, end - 1);

  ASSERT_EQ(XmlScanUntilClass(s, start, &run, XmlClassColon, &following), XmlFailure::None);
  EXPECT_EQ(run.Length, 8u);
  EXPECT_EQ(following.Class, static_cast<UINT32>(XmlClassColon));
  ASSERT_EQ(XmlScanUntilClass(s, start, &run, XmlClassQuote, &following), XmlFailure::None);
  EXPECT_EQ(run.Length, t.buffer_.size()) << "ran off the end";
  EXPECT_EQ(following.Class, 0u);
  ASSERT_EQ(XmlScanUntilClass(s, end, &run, XmlClassQuote, &following), XmlFailure::None);
  EXPECT_EQ(following.Class, 3u) << "started at the end";

  // At the end of input every scanner gives an end run.
  ASSERT_EQ(XmlScanChar(s, end, &run), XmlFailure::None);
  EXPECT_EQ(run.Class, 3u);
  EXPECT_EQ(run.Start, end);
  EXPECT_EQ(run.Length, 0u);
  ASSERT_EQ(XmlScanName(s, end, &run, &following), XmlFailure::None);
  EXPECT_EQ(run.Class, 3u);

  XmlRun three[3];
  ASSERT_EQ(XmlScanChars(s, end - 2, three, 3), XmlFailure::None);
  EXPECT_EQ(three[0].Class, 13u);
  EXPECT_EQ(three[1].Class, 7u);
  EXPECT_EQ(three[2].Class, 3u);

  XmlRun outside;
  EXPECT_EQ(XmlScanChar(s, end + 1, &outside), XmlFailure::InvalidParameter);
  EXPECT_EQ(XmlScanChar(nullptr, start, &outside), XmlFailure::NullState);
}

TEST_F(XmlInput, ScannersReportUndecodableCharacters) {
  Tokenizer t("ab\xC3");
  XmlRun run;
  XmlRun following;
  EXPECT_EQ(XmlScanText(&t.state, t.state.InputStart, &run, &following),
            XmlFailure::InvalidSequence);
  EXPECT_EQ(XmlScanName(&t.state, t.state.InputStart, &run, &following),
            XmlFailure::InvalidSequence);
}

TEST_F(XmlInput, PubidCharactersAllowTheApostropheOnlyInsideDoubleQuotes) {
  Tokenizer t("\"a-'b\" c");
  XmlRun quote;
  XmlRun run;
  ASSERT_EQ(XmlScanChar(&t.state, t.state.InputStart, &quote), XmlFailure::None);
  ASSERT_EQ(XmlScanPubidChars(&t.state, t.state.InputStart + 1, &run), XmlFailure::None);
  EXPECT_EQ(run.Length, 4u);
  Tokenizer u("'a-'b' c");
  ASSERT_EQ(XmlScanChar(&u.state, u.state.InputStart, &quote), XmlFailure::None);
  ASSERT_EQ(XmlScanPubidChars(&u.state, u.state.InputStart + 1, &run), XmlFailure::None);
  EXPECT_EQ(run.Length, 2u);
}

TEST_F(XmlInput, KeywordComparison) {
  Tokenizer t("utf-8UTF-8xmlns");
  XmlTokenizerState *s = &t.state;
  const UINT8 *start = s->InputStart;
  auto run = [&](UINTN offset, UINTN length) {
    return XmlRun{12, start + offset, length, XmlEncodingUtf8, length};
  };
  struct Row {
    XmlRun run;
    const XmlKeyword *keyword;
    XmlFoldFunction fold;
    bool equal;
  } rows[] = {
      {run(0, 5), &kXmlKeywordUtf8, XmlToUpper, true},
      {run(0, 5), &kXmlKeywordUtf8, nullptr, false},
      {run(5, 5), &kXmlKeywordUtf8, nullptr, true},
      {run(5, 3), &kXmlKeywordUtf8, nullptr, false}, // the run ends first
      {run(10, 5), &kXmlKeywordXml, nullptr, false}, // the keyword ends first
      {run(10, 3), &kXmlKeywordXml, nullptr, true},
      {run(10, 5), &kXmlKeywordXmlns, nullptr, true},
      {run(10, 0), &kXmlKeywordXml, nullptr, false},
  };
  for (const Row &row : rows) {
    INT32 result = 7;
    ASSERT_EQ(XmlCompareKeyword(s, &row.run, row.keyword, &result, row.fold), XmlFailure::None);
    EXPECT_EQ(result == 0, row.equal) << row.run.Length;
  }
  // The run lies at the very end of an exactly-sized input and is shorter
  // than the keyword: nothing past either may be read.
  XmlRun tail = run(12, 3);
  INT32 result = 0;
  ASSERT_EQ(XmlCompareKeyword(s, &tail, &kXmlKeywordStandalone, &result, XmlToUpper),
            XmlFailure::None);
  EXPECT_NE(result, 0);
  XmlRun beyond = run(12, 4);
  EXPECT_EQ(XmlCompareKeyword(s, &beyond, &kXmlKeywordXml, &result, nullptr),
            XmlFailure::InvalidParameter);
  XmlRun name;
  ASSERT_EQ(XmlMatchKeyword(s, start + 10, &kXmlKeywordXmlns, &name, &result), XmlFailure::None);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(XmlMatchKeyword(s, start + 3, &kXmlKeywordXml, &name, &result), XmlFailure::None);
  EXPECT_EQ(result, -1) << "no name at a hyphen";
}

TEST_F(XmlInput, KeywordComparisonInUtf16) {
  std::string bytes = Widen("UTF-16", 2, false, false);
  Tokenizer t(bytes);
  t.state.Decoder = XmlDecodeUtf16Le;
  XmlRun run = {12, t.state.InputStart, bytes.size(), XmlEncodingUtf16Le, 6};
  INT32 result = 1;
  ASSERT_EQ(XmlCompareKeyword(&t.state, &run, &kXmlKeywordUtf16, &result, nullptr),
            XmlFailure::None);
  EXPECT_EQ(result, 0);
  run.Length = 5; // half a character at the end
  EXPECT_EQ(XmlCompareKeyword(&t.state, &run, &kXmlKeywordUtf16, &result, nullptr),
            XmlFailure::EndOfInput);
}

TEST_F(XmlInput, RunComparison) {
  Tokenizer t("abcabdab");
  const UINT8 *s = t.state.InputStart;
  XmlRun abc = {12, s, 3, 5, 3};
  XmlRun abd = {12, s + 3, 3, 5, 3};
  XmlRun ab = {12, s + 6, 2, 5, 2};
  INT32 result = 9;
  ASSERT_EQ(XmlCompareRuns(&t.state, &abc, &abc, &result), XmlFailure::None);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(XmlCompareRuns(&t.state, &abc, &abd, &result), XmlFailure::None);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(XmlCompareRuns(&t.state, &abd, &ab, &result), XmlFailure::None);
  EXPECT_EQ(result, 1);
  t.state.EncodingId = 6;
  EXPECT_EQ(XmlCompareRuns(&t.state, &abc, &ab, &result), XmlFailure::InvalidParameter);
}

using Tokens = std::vector<std::pair<INT32, std::string>>;

TEST_F(XmlInput, TokensOfElementsAttributesAndMarkup) {
  Tokenizer t("<?xml version=\"1.0\"?><p:a xmlns:p=\"u\" xmlns=\"d\" xml:lang=\"en\" x=\"1\" "
              "q:y='2'><!--c--><?pi d?><![CDATA[z]]>t</p:a >");
  Tokens expected = {
      {51, "<?xml"}, {53, " "},    {57, "version"}, {54, "="},         {58, "\""}, {59, "1.0"},
      {60, "\""},    {52, "?>"},   {5, "<"},        {22, "p"},         {23, ":"},  {6, "a"},
      {33, " "},     {7, "xmlns"}, {10, ":"},       {9, "p"},          {11, "="},  {12, "\""},
      {14, "u"},     {13, "\""},   {33, " "},       {8, "xmlns"},      {11, "="},  {12, "\""},
      {14, "d"},     {13, "\""},   {33, " "},       {15, "xml"},       {16, ":"},  {17, "lang"},
      {18, "="},     {19, "\""},   {20, "en"},      {21, "\""},        {33, " "},  {28, "x"},
      {29, "="},     {31, "\""},   {30, "1"},       {32, "\""},        {33, " "},  {24, "q"},
      {25, ":"},     {28, "y"},    {29, "="},       {31, "'"},         {30, "2"},  {32, "'"},
      {26, ">"},     {45, "<!--"}, {46, "c"},       {47, "-->"},       {40, "<?"}, {42, "pi"},
      {44, " "},     {43, "d"},    {41, "?>"},      {48, "<![CDATA["}, {49, "z"},  {50, "]]>"},
      {2, "t"},      {34, "</"},   {38, "p"},       {39, ":"},         {35, "a"},  {37, " >"},
      {4, ""},
  };
  EXPECT_EQ(t.All(), expected);
  EXPECT_EQ(t.failure, XmlFailure::None);
}

// Bodies run to the first "?>", "--" or "]]>"; a candidate that is not one
// is part of the body, and every character after it is decoded first.
TEST_F(XmlInput, BodiesOfInstructionsCommentsAndCdata) {
  struct Row {
    std::string bytes;
    Tokens tokens; // committed before the stop
    XmlFailure failure;
  } rows[] = {
      {"<?p a?b?>x",
       {{40, "<?"}, {42, "p"}, {44, " "}, {43, "a?b"}, {41, "?>"}, {2, "x"}, {4, ""}},
       XmlFailure::None},
      {"<?p a?"
       "?>",
       {{40, "<?"}, {42, "p"}, {44, " "}, {43, "a?"}, {41, "?>"}, {4, ""}},
       XmlFailure::None},
      {"<?p a?", {{40, "<?"}, {42, "p"}, {44, " "}}, XmlFailure::None},
      {"<?p a?\xFF", {{40, "<?"}, {42, "p"}, {44, " "}}, XmlFailure::InvalidSequence},
      {"<!--a-b-->", {{45, "<!--"}, {46, "a-b"}, {47, "-->"}, {4, ""}}, XmlFailure::None},
      {"<!--a-", {{45, "<!--"}, {46, "a-"}}, XmlFailure::None},
      {"<!---->", {{45, "<!--"}, {46, ""}, {47, "-->"}, {4, ""}}, XmlFailure::None},
      {"<![CDATA[a]b]]c]]>x",
       {{48, "<![CDATA["}, {49, "a]b]]c"}, {50, "]]>"}, {2, "x"}, {4, ""}},
       XmlFailure::None},
      {"<![CDATA[a]]", {{48, "<![CDATA["}, {49, "a]]"}}, XmlFailure::None},
      {"<![CDATA[a", {{48, "<![CDATA["}}, XmlFailure::None},
      {"<![CDATA[a]]]]>", {{48, "<![CDATA["}, {49, "a]]"}, {50, "]]>"}, {4, ""}}, XmlFailure::None},
      {"<![CDATA[a]x\xFF", {{48, "<![CDATA["}}, XmlFailure::InvalidSequence},
  };
  for (const Row &row : rows) {
    Tokenizer t(row.bytes);
    EXPECT_EQ(t.All(), row.tokens) << row.bytes;
    EXPECT_EQ(t.failure, row.failure) << row.bytes;
  }
}

TEST_F(XmlInput, TokensOfADocumentTypeDeclaration) {
  Tokenizer t("<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA #IMPLIED b (x|y) 'x'>"
              "<!ENTITY e \"v\"><!ENTITY % p SYSTEM \"s\"><!ENTITY f PUBLIC \"-//A//B\" 'u' "
              "NDATA g><!NOTATION n SYSTEM \"u\">]><r/>");
  Tokens expected = {
      {64, "<!DOCTYPE"},
      {65, " "},
      {66, "r"},
      {67, " "},
      {68, "["},
      {72, "<!ELEMENT"},
      {73, " r ANY"},
      {74, ">"},
      {75, "<!ATTLIST"},
      {75, " "},
      {76, "r"},
      {79, " "},
      {80, "a"},
      {83, " CDATA"},
      {96, " #IMPLIED"},
      {79, " "},
      {80, "b"},
      {91, " ("},
      {92, "x|y"},
      {93, ")"},
      {98, " '"},
      {99, "x"},
      {100, "'"},
      {101, ">"},
      {102, "<!ENTITY"},
      {105, " "},
      {103, "e"},
      {116, " \""},
      {117, "v"},
      {118, "\""},
      {119, ">"},
      {102, "<!ENTITY"},
      {104, " %"},
      {103, " p"},
      {106, " SYSTEM"},
      {107, " \""},
      {108, "s"},
      {109, "\""},
      {119, ">"},
      {102, "<!ENTITY"},
      {105, " "},
      {103, "f"},
      {110, " PUBLIC "},
      {111, "\""},
      {112, "-//A//B"},
      {113, "\""},
      {107, " '"},
      {108, "u"},
      {109, "'"},
      {114, " NDATA"},
      {115, " g"},
      {119, ">"},
      {120, "<!NOTATION"},
      {121, " n SYSTEM \"u\""},
      {122, ">"},
      {70, "]"},
      {71, ">"},
      {5, "<"},
      {6, "r"},
      {27, "/>"},
      {4, ""},
  };
  EXPECT_EQ(t.All(), expected);
  EXPECT_EQ(t.failure, XmlFailure::None);
}

TEST_F(XmlInput, SyntaxErrorsAndFailures) {
  struct Row {
    std::string bytes;
    size_t tokens; // committed before the stop
    bool error;
    XmlFailure failure;
  } rows[] = {
      {"<1>", 1, true, XmlFailure::None},
      {"<a x>", 3, true, XmlFailure::None},
      {"<a x=1>", 5, true, XmlFailure::None},
      {"<a\"", 2, true, XmlFailure::None},
      {"<!-- a -- b -->", 2, true, XmlFailure::None},
      {"<!x>", 0, true, XmlFailure::None},
      {"<?pi no end", 3, true, XmlFailure::None},
      {"<![CDATA[no bracket", 1, true, XmlFailure::None},
      {"<?xml version=\"1.0\"", 7, true, XmlFailure::None},
      {"<?xml?>", 1, true, XmlFailure::None},
      {"<?xml version=\"1\"encoding=\"x\"?>", 7, true, XmlFailure::None},
      {"", 0, true, XmlFailure::None},
      {"<!DOCTYPE r [%e;]>", 5, true, XmlFailure::NotImplemented},
      {"<!DOCTYPE r [<!ATTLIST r a CDATA 'x>", 13, true, XmlFailure::UnterminatedLiteral},
      {"<a>\xFF</a>", 3, true, XmlFailure::InvalidSequence},
  };
  for (const Row &row : rows) {
    Tokenizer t(row.bytes);
    EXPECT_EQ(t.All().size(), row.tokens) << row.bytes;
    EXPECT_EQ(t.lastError, row.error) << row.bytes;
    EXPECT_EQ(t.failure, row.failure) << row.bytes;
  }
}

TEST_F(XmlInput, EndOfDocumentRepeatsAndStatesWithoutRulesFail) {
  Tokenizer t("<a/>");
  t.All();
  XmlToken token;
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(XmlNextToken(&t.state, &token, TRUE), XmlFailure::None);
    EXPECT_EQ(token.Kind, 4);
    EXPECT_EQ(token.ByteLength, 0u);
    EXPECT_FALSE(token.Error);
  }
  t.state.State = 1;
  EXPECT_EQ(XmlNextToken(&t.state, &token, FALSE), XmlFailure::BadState);
  EXPECT_TRUE(token.Error);
  EXPECT_EQ(XmlNextToken(nullptr, &token, FALSE), XmlFailure::NullState);
  EXPECT_EQ(XmlNextToken(&t.state, nullptr, FALSE), XmlFailure::NullToken);
  UINTN prefix = 0;
  const UINT8 *declarationEnd = t.state.InputStart;
  EXPECT_EQ(XmlDetectEncoding(nullptr, &prefix), XmlFailure::NullState);
  EXPECT_EQ(XmlDetectEncodingWith(&t.state, nullptr, &declarationEnd),
            XmlFailure::InvalidParameter);
  EXPECT_EQ(declarationEnd, nullptr);
}

int gKeywordCompares = 0;

XmlFailure CountingKeywordCompare(XmlTokenizerState *state, const XmlRun *run,
                                  const XmlKeyword *keyword, INT32 *result, XmlFoldFunction fold) {
  gKeywordCompares++;
  return XmlCompareKeyword(state, run, keyword, result, fold);
}

// A keyword comparison of the caller's own decides every keyword of the
// declaration, UTF-8 or not: no byte-wise shortcut stands in for it.
TEST_F(XmlInput, OwnKeywordComparisonReadsTheDeclaration) {
  const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>";
  ExactBuffer input(text);
  XmlInputDescriptor descriptor = {};
  descriptor.Size = sizeof(descriptor);
  descriptor.Text = Bytes(input);
  descriptor.Length = static_cast<UINT32>(input.size());
  descriptor.KeywordCompare = CountingKeywordCompare;
  XmlTokenizerState state;
  ASSERT_EQ(XmlTokenizerInit(&state, &descriptor), XmlFailure::None);
  gKeywordCompares = 0;
  UINTN prefix = 1;
  const UINT8 *declarationEnd = nullptr;
  ASSERT_EQ(XmlDetectEncodingWith(&state, &prefix, &declarationEnd), XmlFailure::None);
  EXPECT_EQ(prefix, 0u);
  // "xml", "version", "encoding" and the encoding's name at the least.
  EXPECT_GE(gKeywordCompares, 4);
  EXPECT_EQ(declarationEnd, Bytes(input) + text.find('>') + 1);
}

TEST_F(XmlInput, CommitCountsLinesAndColumnsInCharacters) {
  Tokenizer t("<a>\n  \xC3\xA9t\n<b/>x");
  t.All();
  EXPECT_EQ(t.state.Line, 3u);
  EXPECT_EQ(t.state.Column, 6u);
}

// The same document in every encoding the table detects gives the same
// tokens with the same character counts.
TEST_F(XmlInput, EveryDetectedEncodingTokenizesAlike) {
  const std::string body = "<r a=\"1\"><c>t&amp;</c><!--x--><?p i?><d/></r>";
  Tokenizer reference("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body);
  std::vector<INT32> kinds = reference.Kinds();
  ASSERT_GT(kinds.size(), 20u);
  struct Row {
    const char *name;
    int unit;
    bool big;
    bool mark;
    UINT32 encoding;
  } rows[] = {
      {"UTF-8", 1, false, true, XmlEncodingUtf8},
      {"UTF-16", 2, false, true, XmlEncodingUtf16Le},
      {"UTF-16", 2, true, true, XmlEncodingUtf16Be},
      {"UCS-2", 2, false, false, XmlEncodingUtf16Le},
      {"UTF-16", 2, true, false, XmlEncodingUtf16Be},
      {"UCS-4", 4, false, false, XmlEncodingUcs4Le},
      {"UCS-4", 4, true, false, XmlEncodingUcs4Be},
  };
  for (const Row &row : rows) {
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + row.name + "\"?>" + body;
    std::string bytes =
        row.unit == 1 ? "\xEF\xBB\xBF" + text : Widen(text, row.unit, row.big, row.mark);
    Tokenizer t(bytes);
    ASSERT_EQ(t.detection, XmlFailure::None) << row.name;
    EXPECT_EQ(t.state.EncodingId, row.encoding) << row.name;
    std::vector<INT32> got = t.Kinds();
    EXPECT_EQ(got, kinds) << row.name << " " << row.unit << row.big << row.mark;
    EXPECT_EQ(t.chars, text.size()) << row.name;
  }
}

TEST_F(XmlInput, NonAsciiCharactersDecodeInEveryEncoding) {
  // "<a>é😀</a>" with the text as code points.
  const UINT32 codes[] = {'<', 'a', '>', 0xE9, 0x1F600, '<', '/', 'a', '>'};
  std::string utf8 = "<a>\xC3\xA9\xF0\x9F\x98\x80</a>";
  std::string le16 = "\xFF\xFE";
  std::string ucs4;
  for (UINT32 c : codes) {
    if (c > 0xFFFF) {
      UINT32 v = c - 0x10000;
      UINT32 hi = 0xD800 + (v >> 10);
      UINT32 lo = 0xDC00 + (v & 0x3FF);
      le16 += {static_cast<char>(hi & 0xFF), static_cast<char>(hi >> 8),
               static_cast<char>(lo & 0xFF), static_cast<char>(lo >> 8)};
    } else {
      le16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    }
    ucs4 += {static_cast<char>(c >> 24), static_cast<char>((c >> 16) & 0xFF),
             static_cast<char>((c >> 8) & 0xFF), static_cast<char>(c & 0xFF)};
  }
  for (const std::string &bytes : {utf8, le16, ucs4}) {
    Tokenizer t(bytes);
    Tokens tokens = t.All();
    ASSERT_EQ(tokens.size(), 8u) << testing::PrintToString(bytes);
    EXPECT_EQ(tokens[3].first, 2);
    EXPECT_EQ(t.chars, 9u);
    EXPECT_EQ(t.failure, XmlFailure::None);
  }
}

} // namespace
