// Tokens of plain-ASCII markup in UTF-8 input, read without the general
// state machine's per-token dispatch: the declaration, element tags,
// attributes, default namespace declarations, end tags and text follow one
// another in straight code, so the processor can predict the way through a
// document. Every token is exactly the one the general tokenizer produces
// at the same place; anything else (a comment, processing instruction,
// CDATA section, document type, prefixed name, non-ASCII or NUL byte, the
// last byte of the input) is left to the general tokenizer, one token at a
// time.
#ifndef ZELM_XML_ASCII_TOKENS_H_
#define ZELM_XML_ASCII_TOKENS_H_

#include "XmlTokenizer.h"

namespace xml_ascii {

enum : UINT8 {
  kNameStart = 1,
  kNameChar = 2,
  kSpace = 4,
  kPlainText = 8, // may be inside text: not "<", NUL or above 7F
  kPlain = 16,    // needs no decoding: not NUL or above 7F
};

struct ByteTable {
  UINT8 flags[256];
};

constexpr ByteTable MakeByteTable() {
  ByteTable table{};
  for (UINT32 c = 1; c < 128; c++) {
    UINT8 flags = 0;
    if ((kXmlAscii.NameFlags[c] & kXmlNameStart) != 0) {
      flags |= kNameStart;
    }
    if ((kXmlAscii.NameFlags[c] & kXmlNameChar) != 0) {
      flags |= kNameChar;
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      flags |= kSpace;
    }
    if (c != '<') {
      flags |= kPlainText;
    }
    flags |= kPlain;
    table.flags[c] = flags;
  }
  return table;
}

inline constexpr ByteTable kBytes = MakeByteTable();

inline bool Is(UINT8 c, UINT8 flag) {
  return (kBytes.flags[c] & flag) != 0;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read first byte lowest");

// The high bit of each zero byte of the eight, and possibly of bytes above
// the lowest zero byte.
inline UINT64 ZeroBytes(UINT64 word) {
  return (word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL;
}

// The kind under which a text token of whitespace only reaches the sink.
constexpr INT32 kBlankText = -2;

// How a stretch of tokens ended.
enum class Step {
  Done,    // the construct is complete; the state is a content state
  Stopped, // the sink stopped the tokens
  Slow,    // the next token needs the general tokenizer
};

// Sink: bool Token<Kind>(const XmlToken &), false to stop. No token the
// reader makes includes the input's last byte, so the sink need not watch
// for the end of the input. bool OpenName(const CHAR8 *&, UINTN &) names
// the element an end tag is likely to close (a hint; false for none).
template <typename Sink> class Reader {
public:
  Reader(XmlTokenizerState &state, Sink &sink)
      : state_(state), sink_(sink), end_(LastByte(state)), p_(state.Position), kind_(state.State),
        encoding_(state.EncodingId) {}

  // Reads tokens from the state's position until the sink stops them or a
  // token needs the general tokenizer; the state then stands after the last
  // token read. False when the sink stopped.
  __attribute__((flatten)) bool Run() {
    Step step = Step::Done;
    switch (state_.State) {
    case 5:
      step = StartTag();
      break;
    case 6:
      step = AfterName(false);
      break;
    case 13:
    case 21:
    case 32:
    case 33:
      step = AfterName(true);
      break;
    case 34:
      step = EndTag();
      break;
    case 53:
    case 60:
      step = DeclarationBody();
      break;
    default:
      if (!XmlIsContentState(state_.State)) {
        return true;
      }
    }
    if (step == Step::Done) {
      step = Content();
    }
    state_.Position = p_;
    state_.State = kind_;
    return step != Step::Stopped;
  }

private:
  // Scans stop before the last byte: what reaches it is read by the
  // general tokenizer.
  static const UINT8 *LastByte(const XmlTokenizerState &state) {
    return state.InputEnd > state.Position ? state.InputEnd - 1 : state.Position;
  }

  // Hands [p_, stop) to the sink as a token of Kind and moves past it.
  template <INT32 Kind, INT32 SinkKind = Kind> bool Emit(const UINT8 *stop) {
    UINT64 length = static_cast<UINT64>(stop - p_);
    XmlToken token = {p_, length, encoding_, length, Kind, FALSE};
    if (!sink_.template Token<SinkKind>(token)) {
      return false;
    }
    p_ = stop;
    kind_ = Kind;
    return true;
  }

  // Emit for the last token of a construct.
  template <INT32 Kind> Step Finish(const UINT8 *stop) {
    return Emit<Kind>(stop) ? Step::Done : Step::Stopped;
  }

  // A whitespace run at p_ as one token of Kind.
  template <INT32 Kind> Step Blank() {
    const UINT8 *q = SkipSpace(p_);
    return PlainAt(q) ? Finish<Kind>(q) : Step::Slow;
  }

  // The general scanners decode the character after a run; here it must be
  // a plain ASCII byte, which needs no decoding.
  bool PlainAt(const UINT8 *q) const { return q < end_ && Is(*q, kPlain); }

  const UINT8 *SkipSpace(const UINT8 *q) const {
    if (q >= end_ || !Is(*q, kSpace)) {
      return q;
    }
    while (q < end_ && Is(*q, kSpace)) {
      q++;
    }
    return q;
  }

  const UINT8 *SkipName(const UINT8 *q) const {
    // Four at a time while four remain: names are mostly longer.
    while (end_ - q >= 4) {
      if (!Is(q[0], kNameChar)) {
        return q;
      }
      if (!Is(q[1], kNameChar)) {
        return q + 1;
      }
      if (!Is(q[2], kNameChar)) {
        return q + 2;
      }
      if (!Is(q[3], kNameChar)) {
        return q + 3;
      }
      q += 4;
    }
    while (q < end_ && Is(*q, kNameChar)) {
      q++;
    }
    return q;
  }

  const UINT8 *SkipText(const UINT8 *q) const {
    // Eight bytes at a time: the lowest flagged byte is the first "<", NUL
    // or byte above 7F (a zero test can flag bytes above a zero, never
    // below one).
    while (end_ - q >= 8) {
      UINT64 word;
      __builtin_memcpy(&word, q, 8);
      UINT64 stops = ZeroBytes(word) | ZeroBytes(word ^ 0x3C3C3C3C3C3C3C3CULL) |
                     (word & 0x8080808080808080ULL);
      if (stops != 0) {
        return q + __builtin_ctzll(stops) / 8;
      }
      q += 8;
    }
    while (q < end_ && Is(*q, kPlainText)) {
      q++;
    }
    return q;
  }

  // Content states: text, start tags and end tags.
  Step Content() {
    for (;;) {
      if (p_ >= end_) {
        return Step::Slow; // the end-of-document token
      }
      if (Is(*p_, kSpace)) {
        const UINT8 *q = SkipSpace(p_);
        if (q < end_ && *q == '<') {
          if (!Emit<XmlKindText, kBlankText>(q)) {
            return Step::Stopped;
          }
          continue;
        }
      }
      if (*p_ != '<') {
        const UINT8 *q = SkipText(p_);
        if (q >= end_ || *q != '<') {
          return Step::Slow;
        }
        if (!Emit<XmlKindText>(q)) {
          return Step::Stopped;
        }
        continue;
      }
      if (end_ - p_ < 2) {
        return Step::Slow;
      }
      Step step;
      if (p_[1] == '?') {
        step = Declaration();
      } else if (p_[1] == '/') {
        if (!Emit<34>(p_ + 2)) {
          return Step::Stopped;
        }
        step = EndTag();
      } else if (Is(p_[1], kNameStart)) {
        if (!Emit<5>(p_ + 1)) {
          return Step::Stopped;
        }
        step = StartTag();
      } else {
        return Step::Slow;
      }
      if (step != Step::Done) {
        return step;
      }
    }
  }

  // State 5: the element name.
  Step StartTag() {
    if (p_ >= end_ || !Is(*p_, kNameStart)) {
      return Step::Slow;
    }
    const UINT8 *q = SkipName(p_ + 1);
    if (!PlainAt(q) || *q == ':') {
      return Step::Slow;
    }
    if (!Emit<XmlKindStartName>(q)) {
      return Step::Stopped;
    }
    return AfterName(false);
  }

  // State 6 (just after the element name) and states 13, 21, 32 and 33,
  // where an attribute may also start; up to ">" or "/>".
  Step AfterName(bool attributeAllowed) {
    for (;;) {
      if (p_ >= end_) {
        return Step::Slow;
      }
      UINT8 c = *p_;
      if (Is(c, kSpace)) {
        Step step = Blank<33>();
        if (step != Step::Done) {
          return step;
        }
        attributeAllowed = true;
        continue;
      }
      if (c == '>') {
        return Finish<26>(p_ + 1);
      }
      if (c == '/') {
        if (end_ - p_ < 2 || p_[1] != '>') {
          return Step::Slow;
        }
        return Finish<XmlKindEmptyClose>(p_ + 2);
      }
      if (!attributeAllowed) {
        return Step::Slow;
      }
      Step step = Attribute();
      if (step != Step::Done) {
        return step;
      }
    }
  }

  // An attribute without prefix: states 28, 29, 31 and 30, ending in 32;
  // a default namespace declaration takes 8, 11, 12 and 14, ending in 13.
  Step Attribute() {
    if (!Is(*p_, kNameStart)) {
      return Step::Slow;
    }
    const UINT8 *q = SkipName(p_ + 1);
    if (!PlainAt(q) || (*q != '=' && !Is(*q, kSpace))) {
      return Step::Slow;
    }
    if (q - p_ == 5 && __builtin_memcmp(p_, "xmlns", 5) == 0) {
      return AttributeTokens<8, 11, 12, 14, 13>(q);
    }
    return AttributeTokens<XmlKindAttributeName, 29, 31, XmlKindAttributeValue, 32>(q);
  }

  // The name ends at nameEnd; then whitespace, "=", whitespace, the quoted
  // value and its closing quote.
  template <INT32 NameKind, INT32 EqualsKind, INT32 QuoteKind, INT32 ValueKind, INT32 EndKind>
  Step AttributeTokens(const UINT8 *nameEnd) {
    if (!Emit<NameKind>(nameEnd)) {
      return Step::Stopped;
    }
    Step step = QuotedValue<EqualsKind, QuoteKind, ValueKind>();
    if (step != Step::Done) {
      return step;
    }
    return Finish<EndKind>(p_ + 1);
  }

  // Whitespace and "=", whitespace and a quote, the characters up to the
  // matching quote; leaves p_ at that quote.
  template <INT32 EqualsKind, INT32 QuoteKind, INT32 ValueKind> Step QuotedValue() {
    const UINT8 *q = SkipSpace(p_);
    if (!PlainAt(q) || *q != '=') {
      return Step::Slow;
    }
    if (!Emit<EqualsKind>(q + 1)) {
      return Step::Stopped;
    }
    q = SkipSpace(p_);
    if (!PlainAt(q) || (*q != '"' && *q != '\'')) {
      return Step::Slow;
    }
    UINT8 quote = *q;
    UINT32 quoteClass = quote == '"' ? XmlClassQuote : XmlClassApostrophe;
    state_.QuoteClass = quoteClass;
    state_.LastChar = {quoteClass, q, 1, encoding_, 1};
    if (!Emit<QuoteKind>(q + 1)) {
      return Step::Stopped;
    }
    q = p_;
    while (q < end_ && *q != quote && *q != 0 && *q < 0x80) {
      q++;
    }
    if (q >= end_ || *q != quote) {
      return Step::Slow;
    }
    return Emit<ValueKind>(q) ? Step::Done : Step::Stopped;
  }

  // "<?xml" and whitespace (states 51 and 53), then the rest of the
  // declaration; any other processing instruction is left alone.
  Step Declaration() {
    if (end_ - p_ < 3 || !Is(p_[2], kNameStart)) {
      return Step::Slow;
    }
    const UINT8 *q = SkipName(p_ + 3);
    if (!PlainAt(q) || q - p_ != 5 || __builtin_memcmp(p_ + 2, "xml", 3) != 0) {
      return Step::Slow;
    }
    if (!Emit<XmlKindDeclarationOpen>(q)) {
      return Step::Stopped;
    }
    if (p_ >= end_ || !Is(*p_, kSpace)) {
      return Step::Slow;
    }
    Step step = Blank<53>();
    return step == Step::Done ? DeclarationBody() : step;
  }

  // States 53 and 60: whitespace, a pseudo-attribute (after whitespace
  // only) or "?>".
  Step DeclarationBody() {
    for (;;) {
      if (p_ >= end_) {
        return Step::Slow;
      }
      UINT8 c = *p_;
      if (Is(c, kSpace)) {
        Step step = Blank<53>();
        if (step != Step::Done) {
          return step;
        }
        continue;
      }
      if (c == '?') {
        if (end_ - p_ < 2 || p_[1] != '>') {
          return Step::Slow;
        }
        return Finish<XmlKindDeclarationClose>(p_ + 2);
      }
      if (kind_ != 53 || !Is(c, kNameStart)) {
        return Step::Slow;
      }
      Step step = PseudoAttribute();
      if (step != Step::Done) {
        return step;
      }
    }
  }

  // "version", "encoding" or "standalone" (57, 55, 56), "=" (54), the
  // opening quote (58), the value (59) and the closing quote (60).
  Step PseudoAttribute() {
    const UINT8 *q = SkipName(p_ + 1);
    if (!PlainAt(q)) {
      return Step::Slow;
    }
    UINT64 length = static_cast<UINT64>(q - p_);
    bool emitted;
    if (length == 7 && __builtin_memcmp(p_, "version", 7) == 0) {
      emitted = Emit<57>(q);
    } else if (length == 8 && __builtin_memcmp(p_, "encoding", 8) == 0) {
      emitted = Emit<XmlKindEncodingName>(q);
    } else if (length == 10 && __builtin_memcmp(p_, "standalone", 10) == 0) {
      emitted = Emit<56>(q);
    } else {
      return Step::Slow;
    }
    if (!emitted) {
      return Step::Stopped;
    }
    Step step = QuotedValue<54, 58, XmlKindPseudoValue>();
    if (step != Step::Done) {
      return step;
    }
    return Emit<60>(p_ + 1) ? Step::Done : Step::Stopped;
  }

  // State 34: the end tag's name, optional whitespace and ">".
  Step EndTag() {
    if (p_ >= end_ || !Is(*p_, kNameStart)) {
      return Step::Slow;
    }
    // Mostly the name is the open element's: then it needs no scan.
    const UINT8 *q = nullptr;
    const CHAR8 *open;
    UINTN length;
    if (sink_.OpenName(open, length) && length < static_cast<UINTN>(end_ - p_) &&
        XmlBytesEqual(p_, open, length) && !Is(p_[length], kNameChar)) {
      q = p_ + length;
    } else {
      q = SkipName(p_ + 1);
    }
    if (!PlainAt(q) || *q == ':') {
      return Step::Slow;
    }
    if (!Emit<XmlKindEndName>(q)) {
      return Step::Stopped;
    }
    q = SkipSpace(p_);
    if (!PlainAt(q) || *q != '>') {
      return Step::Slow;
    }
    return Finish<37>(q + 1);
  }

  XmlTokenizerState &state_;
  Sink &sink_;
  const UINT8 *end_;
  const UINT8 *p_;
  INT32 kind_; // of the last token read
  UINT32 encoding_;
};

} // namespace xml_ascii

#endif
