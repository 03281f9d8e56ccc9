// The scanners, one copy for every encoding: only the character fetch
// differs. In UTF-8 input an ASCII byte is its own character and is read
// inline, as are whole runs of them (text eight bytes at a time); any other
// character, and every character of the other encodings, goes through the
// state's decoder function.
#ifndef ZELM_XML_SCAN_H_
#define ZELM_XML_SCAN_H_

#include "XmlTokenizer.h"

// Public-identifier characters other than the apostrophe (XML 1.0 [13]).
inline bool XmlIsPubidAscii(UINT32 c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  switch (c) {
  case ' ':
  case '\r':
  case '\n':
  case '-':
  case '(':
  case ')':
  case '+':
  case ',':
  case '.':
  case '/':
  case ':':
  case '=':
  case '?':
  case ';':
  case '!':
  case '*':
  case '#':
  case '@':
  case '$':
  case '_':
  case '%':
    return true;
  default:
    return false;
  }
}

// True when any of the eight bytes is zero.
inline bool XmlHasZeroByte(UINT64 word) {
  return XmlBytesOf(word, 0) != 0;
}

class XmlScanner {
public:
  explicit XmlScanner(XmlTokenizerState &state)
      : state_(state), end_(state.InputEnd), encoding_(state.EncodingId),
        utf8_(state.Decoder == XmlDecodeUtf8) {}

  const UINT8 *end() const { return end_; }

  VOID EndRun(XmlRun &run) const { run = {XmlClassEnd, end_, 0, encoding_, 0}; }

  // One character without remembering it.
  [[nodiscard]] XmlFailure Peek(const UINT8 *at, XmlRun &run) const {
    if (at >= end_) {
      EndRun(run);
      return XmlFailure::None;
    }
    if (utf8_) {
      if (*at != 0 && *at < 0x80) {
        run = {kXmlAscii.Classes[*at], at, 1, encoding_, 1};
        return XmlFailure::None;
      }
    }
    XmlChar c = Decode(at);
    if (c.Failure != XmlFailure::None) {
      return c.Failure;
    }
    run = {XmlCharClass(static_cast<UINT32>(c.Code)), at, static_cast<UINT64>(c.Next - at),
           encoding_, 1};
    return XmlFailure::None;
  }

  [[nodiscard]] XmlFailure Char(const UINT8 *at, XmlRun &run) {
    XmlFailure failure = Peek(at, run);
    if (failure == XmlFailure::None) {
      state_.LastChar = run;
    }
    return failure;
  }

  [[nodiscard]] XmlFailure Whitespace(const UINT8 *at, XmlRun &run, XmlRun &following) const {
    const UINT8 *p = at;
    UINT64 count = 0;
    for (;;) {
      if (utf8_) {
        if (p < end_ && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) {
          p++;
          count++;
          continue;
        }
      }
      XmlFailure failure = Peek(p, following);
      if (failure != XmlFailure::None) {
        return failure;
      }
      if (following.Class != XmlClassSpace) {
        break;
      }
      p += following.Length;
      count++;
    }
    run = {XmlClassSpace, at, static_cast<UINT64>(p - at), encoding_, count};
    return XmlFailure::None;
  }

  [[nodiscard]] XmlFailure Text(const UINT8 *at, XmlRun &run, XmlRun &following) const {
    const UINT8 *p = at;
    UINT64 count = 0;
    for (;;) {
      if (utf8_) {
        // Skip eight bytes at a time while none is "<", NUL or non-ASCII.
        while (end_ - p >= 8) {
          UINT64 word;
          __builtin_memcpy(&word, p, 8);
          if (XmlHasZeroByte(word) || XmlHasZeroByte(word ^ 0x3C3C3C3C3C3C3C3CULL) ||
              (word & 0x8080808080808080ULL) != 0) {
            break;
          }
          p += 8;
          count += 8;
        }
        while (p < end_ && *p != '<' && *p != 0 && *p < 0x80) {
          p++;
          count++;
        }
      }
      if (p >= end_) {
        EndRun(following);
        break;
      }
      XmlFailure failure = Peek(p, following);
      if (failure != XmlFailure::None) {
        return failure;
      }
      if (following.Class == XmlClassLess) {
        break;
      }
      p += following.Length;
      count++;
    }
    run = {XmlClassOther, at, static_cast<UINT64>(p - at), encoding_, count};
    return XmlFailure::None;
  }

  [[nodiscard]] XmlFailure Name(const UINT8 *at, XmlRun &run, XmlRun &following) const {
    if (at >= end_) {
      EndRun(run);
      EndRun(following);
      return XmlFailure::None;
    }
    const UINT8 *p = at;
    UINT64 count = 0;
    // Name characters are ASCII: in UTF-8 they are bytes below 80.
    for (;;) {
      UINT8 wanted = count == 0 ? kXmlNameStart : kXmlNameChar;
      if (utf8_) {
        while (p < end_ && *p < 0x80 && (kXmlAscii.NameFlags[*p] & wanted) != 0) {
          p++;
          count++;
          wanted = kXmlNameChar;
        }
      }
      if (p >= end_) {
        EndRun(following);
        break;
      }
      XmlChar c = Decode(p);
      if (c.Failure != XmlFailure::None) {
        return c.Failure;
      }
      UINT32 code = static_cast<UINT32>(c.Code);
      if ((XmlNameFlags(code) & wanted) == 0) {
        following = {XmlCharClass(code), p, static_cast<UINT64>(c.Next - p), encoding_, 1};
        break;
      }
      p = c.Next;
      count++;
    }
    if (count == 0) {
      run = {XmlClassNone, at, 0, encoding_, 0};
    } else {
      run = {XmlClassOther, at, static_cast<UINT64>(p - at), encoding_, count};
    }
    return XmlFailure::None;
  }

  // Up to the first character of wantedClass, or of either class when
  // otherClass is given (for ">" or "[").
  [[nodiscard]] XmlFailure UntilClass(const UINT8 *at, UINT32 wantedClass, XmlRun &run,
                                      XmlRun &following, UINT32 otherClass = XmlClassNone) const {
    if (at >= end_) {
      run = {XmlClassOther, at, 0, encoding_, 0};
      EndRun(following);
      return XmlFailure::None;
    }
    const UINT8 *p = at;
    UINT64 count = 0;
    for (;;) {
      if (p >= end_) {
        following = {XmlClassNone, end_, 0, encoding_, 0};
        break;
      }
      XmlFailure failure = Peek(p, following);
      if (failure != XmlFailure::None) {
        return failure;
      }
      if (following.Class == wantedClass ||
          (otherClass != XmlClassNone && following.Class == otherClass)) {
        break;
      }
      p += following.Length;
      count++;
    }
    run = {XmlClassOther, at, static_cast<UINT64>(p - at), encoding_, count};
    return XmlFailure::None;
  }

  [[nodiscard]] XmlFailure PubidChars(const UINT8 *at, XmlRun &run) const {
    bool apostropheAllowed = state_.LastChar.Class == XmlClassQuote;
    const UINT8 *p = at;
    UINT64 count = 0;
    while (p < end_) {
      XmlChar c = Decode(p);
      if (c.Failure != XmlFailure::None) {
        return c.Failure;
      }
      UINT32 code = static_cast<UINT32>(c.Code);
      if (!XmlIsPubidAscii(code) && !(apostropheAllowed && code == '\'')) {
        break;
      }
      p = c.Next;
      count++;
    }
    run = {XmlClassOther, at, static_cast<UINT64>(p - at), encoding_, count};
    return XmlFailure::None;
  }

  // Compares a run with a keyword through the state's keyword comparison;
  // the default one is done inline.
  [[nodiscard]] XmlFailure Keyword(const XmlRun &run, const XmlKeyword &keyword,
                                   INT32 &result) const {
    if (state_.KeywordCompare != XmlCompareKeyword) {
      return state_.KeywordCompare(&state_, &run, &keyword, &result, nullptr);
    }
    if (utf8_) {
      // Names hold ASCII only, one byte per character.
      UINT64 units = keyword.ByteLength / 2;
      bool allAscii = true;
      for (UINT64 i = 0; i < run.Length; i++) {
        allAscii = allAscii && run.Start[i] < 0x80;
      }
      if (allAscii) {
        UINT64 common = run.Length < units ? run.Length : units;
        for (UINT64 i = 0; i < common; i++) {
          UINT32 a = run.Start[i];
          UINT32 b = keyword.Text[i];
          if (a != b) {
            result = a > b ? 1 : -1;
            return XmlFailure::None;
          }
        }
        result = run.Length == units ? 0 : (run.Length < units ? 1 : -1);
        return XmlFailure::None;
      }
    }
    return XmlCompareKeyword(&state_, &run, &keyword, &result, nullptr);
  }

  [[nodiscard]] XmlFailure MatchKeyword(const UINT8 *at, const XmlKeyword &keyword, XmlRun &run,
                                        INT32 &result) const {
    XmlRun following;
    XmlFailure failure = Name(at, run, following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (run.Class != XmlClassOther) {
      result = -1;
      return XmlFailure::None;
    }
    return Keyword(run, keyword, result);
  }

private:
  // The character at position, through the state's decoder.
  XmlChar Decode(const UINT8 *position) const {
    return utf8_ ? XmlDecodeUtf8Inline(position, end_) : state_.Decoder(position, end_);
  }

  XmlTokenizerState &state_;
  const UINT8 *end_;
  UINT32 encoding_;
  bool utf8_; // the state decodes UTF-8: ASCII bytes are read inline
};

#endif
