// Character decoders, the character class tables and the encoding table
// (XML 1.0 Appendix F, detection from the first bytes).
#include "XmlInput.h"

namespace {

UINT32 Utf16Unit(const UINT8 *p, bool bigEndian) {
  return bigEndian ? (static_cast<UINT32>(p[0]) << 8) | p[1]
                   : (static_cast<UINT32>(p[1]) << 8) | p[0];
}

XmlChar DecodeUtf16(const UINT8 *position, const UINT8 *end, bool bigEndian) {
  UINTN left = position < end ? static_cast<UINTN>(end - position) : 0;
  if (left < 2) {
    return XmlDecodeFailure(XmlFailure::EndOfInput);
  }
  UINT32 unit = Utf16Unit(position, bigEndian);
  if (unit < 0xD800 || unit > 0xDFFF) {
    return {static_cast<INT32>(unit), XmlFailure::None, position + 2};
  }
  if (unit <= 0xDBFF && left >= 4) {
    // The second unit is taken as it is; the result stays within
    // 0x2400..0x111FFF, so it is never negative.
    INT32 second = static_cast<INT32>(Utf16Unit(position + 2, bigEndian));
    INT32 code = (static_cast<INT32>(unit) - 0xD800) * 0x400 + (second - 0xDC00) + 0x10000;
    return {code, XmlFailure::None, position + 4};
  }
  return XmlDecodeFailure(XmlFailure::InvalidSequence);
}

XmlChar DecodeUcs4(const UINT8 *position, const UINT8 *end, bool bigEndian) {
  UINTN left = position < end ? static_cast<UINTN>(end - position) : 0;
  if (left < 4) {
    return XmlDecodeFailure(XmlFailure::EndOfInput);
  }
  UINT32 value = bigEndian ? (static_cast<UINT32>(position[0]) << 24) |
                                 (static_cast<UINT32>(position[1]) << 16) |
                                 (static_cast<UINT32>(position[2]) << 8) | position[3]
                           : (static_cast<UINT32>(position[3]) << 24) |
                                 (static_cast<UINT32>(position[2]) << 16) |
                                 (static_cast<UINT32>(position[1]) << 8) | position[0];
  // Above the Unicode range a value would turn negative as a code point.
  if (value > 0x10FFFF) {
    return XmlDecodeFailure(XmlFailure::InvalidSequence);
  }
  return {static_cast<INT32>(value), XmlFailure::None, position + 4};
}

constexpr UINT8 kSigDeclaration[] = {0x3C, 0x3F, 0x78, 0x6D};
constexpr UINT8 kSigUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr UINT8 kSigUtf16BeBom[] = {0xFE, 0xFF};
constexpr UINT8 kSigUtf16LeBom[] = {0xFF, 0xFE};
constexpr UINT8 kSigUtf16Be[] = {0x00, 0x3C, 0x00, 0x3F};
constexpr UINT8 kSigUtf16Le[] = {0x3C, 0x00, 0x3F, 0x00};
constexpr UINT8 kSigUcs4Be[] = {0x00, 0x00, 0x00, 0x3C};
constexpr UINT8 kSigUcs4Le[] = {0x3C, 0x00, 0x00, 0x00};

constexpr const XmlKeyword *kNamesUtf8[] = {&kXmlKeywordUtf8};
constexpr const XmlKeyword *kNamesUtf16[] = {&kXmlKeywordUcs2, &kXmlKeywordUtf16};
constexpr const XmlKeyword *kNamesUcs4[] = {&kXmlKeywordUcs4};

} // namespace

XmlChar XmlDecodeUtf8(const UINT8 *Position, const UINT8 *End) {
  return XmlDecodeUtf8Inline(Position, End);
}

XmlChar XmlDecodeUtf16Le(const UINT8 *Position, const UINT8 *End) {
  return DecodeUtf16(Position, End, false);
}

XmlChar XmlDecodeUtf16Be(const UINT8 *Position, const UINT8 *End) {
  return DecodeUtf16(Position, End, true);
}

XmlChar XmlDecodeUcs4Le(const UINT8 *Position, const UINT8 *End) {
  return DecodeUcs4(Position, End, false);
}

XmlChar XmlDecodeUcs4Be(const UINT8 *Position, const UINT8 *End) {
  return DecodeUcs4(Position, End, true);
}

UINT32 XmlToUpper(UINT32 CodePoint) {
  return (CodePoint >= 'a' && CodePoint <= 'z') ? CodePoint - 0x20 : CodePoint;
}

const XmlEncodingRow kXmlEncodingTable[kXmlEncodingRows] = {
    {kSigDeclaration, 4, 0, XmlEncodingUtf8, XmlDecodeUtf8, 1, kNamesUtf8},
    {kSigUtf8Bom, 3, 3, XmlEncodingUtf8, XmlDecodeUtf8, 1, kNamesUtf8},
    {kSigUtf16BeBom, 2, 2, XmlEncodingUtf16Be, XmlDecodeUtf16Be, 2, kNamesUtf16},
    {kSigUtf16LeBom, 2, 2, XmlEncodingUtf16Le, XmlDecodeUtf16Le, 2, kNamesUtf16},
    {kSigUtf16Be, 4, 0, XmlEncodingUtf16Be, XmlDecodeUtf16Be, 2, kNamesUtf16},
    {kSigUtf16Le, 4, 0, XmlEncodingUtf16Le, XmlDecodeUtf16Le, 2, kNamesUtf16},
    {kSigUcs4Be, 4, 0, XmlEncodingUcs4Be, XmlDecodeUcs4Be, 1, kNamesUcs4},
    {kSigUcs4Le, 4, 0, XmlEncodingUcs4Le, XmlDecodeUcs4Le, 1, kNamesUcs4},
};
