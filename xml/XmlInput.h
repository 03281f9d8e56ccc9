// Input layer of the parser: the tokenizer's failure codes, the character
// decoders, character classes, counted keywords and the encoding table.
#ifndef ZELM_XML_INPUT_H_
#define ZELM_XML_INPUT_H_

#include "XmlInternal.h"

// Failure values of the tokenizer and its scanners; never returned to a
// caller of XmlParse, which turns them into firmware statuses.
enum class XmlFailure : UINT32 {
  None = 0,
  EndOfInput = 0x584D0001,
  InvalidSequence,
  NotImplemented,
  UnknownEncoding,
  UnterminatedLiteral,
  BadState,
  NullState,
  NullToken,
  InvalidParameter,
};

// What a decoder returns: the code point and the position after it, or
// Code -1 with the failure.
struct XmlChar {
  INT32 Code;
  XmlFailure Failure;
  const UINT8 *Next;
};

using XmlDecoder = XmlChar (*)(const UINT8 *Position, const UINT8 *End);

enum XmlEncodingId : UINT32 {
  XmlEncodingUcs4Le = 1,
  XmlEncodingUcs4Be = 2,
  XmlEncodingUtf16Le = 3,
  XmlEncodingUtf16Be = 4,
  XmlEncodingUtf8 = 5,
};

// Character classes (class 11 is unused).
enum XmlClass : UINT32 {
  XmlClassNone = 0,
  XmlClassHyphen = 1,
  XmlClassPeriod = 2,
  XmlClassEnd = 3,
  XmlClassEquals = 4,
  XmlClassSlash = 5,
  XmlClassGreater = 6,
  XmlClassLess = 7,
  XmlClassQuestion = 8,
  XmlClassApostrophe = 9,
  XmlClassQuote = 10,
  XmlClassOther = 12,
  XmlClassSpace = 13,
  XmlClassLeftBracket = 14,
  XmlClassRightBracket = 15,
  XmlClassBang = 16,
  XmlClassLeftBrace = 17,
  XmlClassRightBrace = 18,
  XmlClassLeftParen = 19,
  XmlClassRightParen = 20,
  XmlClassColon = 21,
  XmlClassSemicolon = 22,
  XmlClassUnderscore = 23,
  XmlClassAmpersand = 24,
  XmlClassHash = 25,
  XmlClassPercent = 26,
};

constexpr UINT8 XmlClassOfAscii(UINT32 c) {
  switch (c) {
  case '-':
    return XmlClassHyphen;
  case '.':
    return XmlClassPeriod;
  case '=':
    return XmlClassEquals;
  case '/':
    return XmlClassSlash;
  case '>':
    return XmlClassGreater;
  case '<':
    return XmlClassLess;
  case '?':
    return XmlClassQuestion;
  case '\'':
    return XmlClassApostrophe;
  case '"':
    return XmlClassQuote;
  case '\t':
  case '\n':
  case '\r':
  case ' ':
    return XmlClassSpace;
  case '[':
    return XmlClassLeftBracket;
  case ']':
    return XmlClassRightBracket;
  case '!':
    return XmlClassBang;
  case '{':
    return XmlClassLeftBrace;
  case '}':
    return XmlClassRightBrace;
  case '(':
    return XmlClassLeftParen;
  case ')':
    return XmlClassRightParen;
  case ':':
    return XmlClassColon;
  case ';':
    return XmlClassSemicolon;
  case '_':
    return XmlClassUnderscore;
  case '&':
    return XmlClassAmpersand;
  case '#':
    return XmlClassHash;
  case '%':
    return XmlClassPercent;
  default:
    return XmlClassOther;
  }
}

// Name characters: an ASCII letter or underscore starts a name; letters,
// digits, hyphens, full stops and underscores continue it.
enum : UINT8 { kXmlNameStart = 1, kXmlNameChar = 2 };

constexpr UINT8 XmlNameFlagsOfAscii(UINT32 c) {
  bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (letter || c == '_') {
    return kXmlNameStart | kXmlNameChar;
  }
  if ((c >= '0' && c <= '9') || c == '-' || c == '.') {
    return kXmlNameChar;
  }
  return 0;
}

struct XmlAsciiTables {
  UINT8 Classes[128];
  UINT8 NameFlags[128];
};

constexpr XmlAsciiTables XmlMakeAsciiTables() {
  XmlAsciiTables tables{};
  for (UINT32 c = 0; c < 128; c++) {
    tables.Classes[c] = XmlClassOfAscii(c);
    tables.NameFlags[c] = XmlNameFlagsOfAscii(c);
  }
  return tables;
}

inline constexpr XmlAsciiTables kXmlAscii = XmlMakeAsciiTables();

// Unsigned, so that no decoded value can index outside the table; every
// character above 7F is class 12.
inline UINT32 XmlCharClass(UINT32 codePoint) {
  return codePoint < 128 ? kXmlAscii.Classes[codePoint] : static_cast<UINT32>(XmlClassOther);
}

inline UINT8 XmlNameFlags(UINT32 codePoint) {
  return codePoint < 128 ? kXmlAscii.NameFlags[codePoint] : 0;
}

inline XmlChar XmlDecodeFailure(XmlFailure failure) {
  return {-1, failure, nullptr};
}

// UTF-8 (RFC 3629 forms up to four bytes; overlong forms refused).
inline XmlChar XmlDecodeUtf8Inline(const UINT8 *position, const UINT8 *end) {
  if (position >= end) {
    return XmlDecodeFailure(XmlFailure::EndOfInput);
  }
  UINT32 lead = position[0];
  if (lead < 0x80) {
    if (lead == 0) {
      return XmlDecodeFailure(XmlFailure::InvalidSequence);
    }
    return {static_cast<INT32>(lead), XmlFailure::None, position + 1};
  }
  UINTN following;
  UINT32 codePoint;
  UINT32 smallest;
  if ((lead & 0xE0) == 0xC0) {
    following = 1;
    codePoint = lead & 0x1F;
    smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    following = 2;
    codePoint = lead & 0x0F;
    smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    following = 3;
    codePoint = lead & 0x07;
    smallest = 0x10000;
  } else {
    // 10xxxxxx, and F8 to FF (the obsolete five- and six-byte forms too).
    return XmlDecodeFailure(XmlFailure::InvalidSequence);
  }
  if (static_cast<UINTN>(end - position) - 1 < following) {
    return XmlDecodeFailure(XmlFailure::InvalidSequence);
  }
  for (UINTN i = 1; i <= following; i++) {
    UINT32 next = position[i];
    if ((next & 0xC0) != 0x80) {
      return XmlDecodeFailure(XmlFailure::InvalidSequence);
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < smallest) {
    return XmlDecodeFailure(XmlFailure::InvalidSequence);
  }
  return {static_cast<INT32>(codePoint), XmlFailure::None, position + 1 + following};
}

XmlChar XmlDecodeUtf8(const UINT8 *Position, const UINT8 *End);
XmlChar XmlDecodeUtf16Le(const UINT8 *Position, const UINT8 *End);
XmlChar XmlDecodeUtf16Be(const UINT8 *Position, const UINT8 *End);
XmlChar XmlDecodeUcs4Le(const UINT8 *Position, const UINT8 *End);
XmlChar XmlDecodeUcs4Be(const UINT8 *Position, const UINT8 *End);

// a to z become A to Z; every other code point is unchanged.
UINT32 XmlToUpper(UINT32 CodePoint);

// A keyword held as UTF-16 so that one comparison serves every encoding.
struct XmlKeyword {
  UINT64 ByteLength; // two per character, no terminator
  const CHAR16 *Text;
};

template <UINTN N> constexpr XmlKeyword XmlMakeKeyword(const CHAR16 (&text)[N]) {
  return {(N - 1) * 2, text};
}

inline constexpr XmlKeyword kXmlKeywordXml = XmlMakeKeyword(u"xml");
inline constexpr XmlKeyword kXmlKeywordXmlns = XmlMakeKeyword(u"xmlns");
inline constexpr XmlKeyword kXmlKeywordVersion = XmlMakeKeyword(u"version");
inline constexpr XmlKeyword kXmlKeywordEncoding = XmlMakeKeyword(u"encoding");
inline constexpr XmlKeyword kXmlKeywordStandalone = XmlMakeKeyword(u"standalone");
inline constexpr XmlKeyword kXmlKeywordCdata = XmlMakeKeyword(u"CDATA");
inline constexpr XmlKeyword kXmlKeywordDoctype = XmlMakeKeyword(u"DOCTYPE");
inline constexpr XmlKeyword kXmlKeywordElement = XmlMakeKeyword(u"ELEMENT");
inline constexpr XmlKeyword kXmlKeywordAttlist = XmlMakeKeyword(u"ATTLIST");
inline constexpr XmlKeyword kXmlKeywordNotation = XmlMakeKeyword(u"NOTATION");
inline constexpr XmlKeyword kXmlKeywordEntity = XmlMakeKeyword(u"ENTITY");
inline constexpr XmlKeyword kXmlKeywordNdata = XmlMakeKeyword(u"NDATA");
inline constexpr XmlKeyword kXmlKeywordPublic = XmlMakeKeyword(u"PUBLIC");
inline constexpr XmlKeyword kXmlKeywordSystem = XmlMakeKeyword(u"SYSTEM");
inline constexpr XmlKeyword kXmlKeywordId = XmlMakeKeyword(u"ID");
inline constexpr XmlKeyword kXmlKeywordIdref = XmlMakeKeyword(u"IDREF");
inline constexpr XmlKeyword kXmlKeywordIdrefs = XmlMakeKeyword(u"IDREFS");
inline constexpr XmlKeyword kXmlKeywordEntities = XmlMakeKeyword(u"ENTITIES");
inline constexpr XmlKeyword kXmlKeywordNmtoken = XmlMakeKeyword(u"NMTOKEN");
inline constexpr XmlKeyword kXmlKeywordNmtokens = XmlMakeKeyword(u"NMTOKENS");
inline constexpr XmlKeyword kXmlKeywordRequired = XmlMakeKeyword(u"REQUIRED");
inline constexpr XmlKeyword kXmlKeywordImplied = XmlMakeKeyword(u"IMPLIED");
inline constexpr XmlKeyword kXmlKeywordFixed = XmlMakeKeyword(u"FIXED");
inline constexpr XmlKeyword kXmlKeywordUtf8 = XmlMakeKeyword(u"UTF-8");
inline constexpr XmlKeyword kXmlKeywordUcs4 = XmlMakeKeyword(u"UCS-4");
inline constexpr XmlKeyword kXmlKeywordUcs2 = XmlMakeKeyword(u"UCS-2");
inline constexpr XmlKeyword kXmlKeywordUtf16 = XmlMakeKeyword(u"UTF-16");

// A keyword and the tokenizer state it leads to.
struct XmlKeywordState {
  const XmlKeyword *Keyword;
  INT32 State;
};

// One row of the encoding table.
struct XmlEncodingRow {
  const UINT8 *Signature;
  UINTN SignatureLength;
  UINTN SkipLength; // the byte-order mark
  UINT32 EncodingId;
  XmlDecoder Decoder;
  UINTN NameCount;
  const XmlKeyword *const *Names; // declared names accepted
};

constexpr UINTN kXmlEncodingRows = 8;
extern const XmlEncodingRow kXmlEncodingTable[kXmlEncodingRows];

#endif
