// The fast path: the rules of XmlRules.h applied to plain ASCII bytes of
// UTF-8 input. Which state follows which comes from the one rule table; only
// the steps are done here on bytes, without the general scanners' runs and
// decoding. A token that the fast path cannot make exactly as the general
// tokenizer would (a step it does not take over, a byte that needs decoding,
// anything that would be a syntax error, the end of input) is handed over:
// the general tokenizer makes that one token, then the fast path goes on.
// An image built for size does without it and reads with the general
// tokenizer alone.
#ifndef ZELM_XML_FAST_PATH_H_
#define ZELM_XML_FAST_PATH_H_

#include "XmlRules.h"

namespace xml_fast {

// Whether this build reads with the fast path at all.
#if defined(__OPTIMIZE_SIZE__)
inline constexpr bool kBuilt = false;
#else
inline constexpr bool kBuilt = true;
#endif

enum : UINT8 {
  kNameStart = 1,
  kNameChar = 2,
  kSpace = 4,
  kPlainText = 8, // may be inside text: not "<", NUL or above 7F
  kPlain = 16,    // needs no decoding: not NUL or above 7F
};

struct ByteTable {
  UINT8 Flags[256];
  UINT8 Classes[256]; // XmlClass of each plain byte
};

constexpr ByteTable MakeByteTable() {
  ByteTable table{};
  for (UINT32 c = 1; c < 128; c++) {
    UINT8 flags = kPlain;
    if ((kXmlAscii.NameFlags[c] & kXmlNameStart) != 0) {
      flags |= kNameStart;
    }
    if ((kXmlAscii.NameFlags[c] & kXmlNameChar) != 0) {
      flags |= kNameChar;
    }
    if (kXmlAscii.Classes[c] == XmlClassSpace) {
      flags |= kSpace;
    }
    if (c != '<') {
      flags |= kPlainText;
    }
    table.Flags[c] = flags;
    table.Classes[c] = kXmlAscii.Classes[c];
  }
  return table;
}

inline constexpr ByteTable kBytes = MakeByteTable();

inline bool Is(UINT8 c, UINT8 flag) {
  return (kBytes.Flags[c] & flag) != 0;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read first byte lowest");

#if defined(__SSE2__)
typedef signed char Bytes16 __attribute__((vector_size(16)));
#endif

// What a kTreeOnly sink did with an element read whole: Leaf(const UINT8
// *name, UINTN nameLength, const UINT8 *text, UINTN textLength) declines
// it (the tokens then come one by one), takes it, or stops the parse.
enum class LeafOutcome { Declined, Taken, Stopped };

// True when the bytes [at, at + length) spell the keyword.
inline bool SpellsKeyword(const UINT8 *at, UINTN length, const XmlKeyword &keyword) {
  if (length != keyword.ByteLength / 2) {
    return false;
  }
  for (UINTN i = 0; i < length; i++) {
    if (at[i] != keyword.Text[i]) {
      return false;
    }
  }
  return true;
}

// Sink: bool ReactInside(const XmlToken &), false to stop, called for the
// kinds in the mask Sink::kKinds (all below 64); the fast path makes no
// token with the error flag, and none that reaches the input's last byte
// (those are the general tokenizer's). A sink with Sink::kTreeOnly builds
// a tree and needs no tokens that leave it as it is: white space alone
// before markup makes no token (the markup's token comes straight after
// the state before it), and an element that holds only text,
// "<name>text</name>", comes whole through Leaf (below) instead of as its
// seven tokens. bool OpenName(const CHAR8 *&, UINTN &) names the element
// an end tag is likely to close (a hint; false for none).
template <typename Sink> class Reader {
public:
  Reader(XmlTokenizerState &state, Sink &sink)
      : state_(state), sink_(sink), end_(LastByte(state)), encoding_(state.EncodingId) {}

  // Makes tokens from the state's position until the sink stops them
  // (false) or a token is handed over (true); the state then stands after
  // the last token made.
  XML_HOT_FLATTEN bool Run() {
    p_ = state_.Position;
    state = state_.State;
    Outcome outcome =
        state >= 0 && state < XmlStateCount ? kHandlers.At[state](*this, p_) : Outcome::HandedOver;
    state_.Position = p_;
    state_.State = state;
    return outcome != Outcome::Stopped;
  }

private:
  static constexpr INT32 kHandOver = -1;
  static constexpr INT32 kStop = -2; // the sink stopped the parse inside a step

  // A whole tag hands its name's token to the sink and stands at its ">":
  // that token must not reach the sink a second time.
  static_assert(!Sink::kTreeOnly || (((Sink::kKinds >> XmlStateStartTagClose) & 1) == 0 &&
                                     ((Sink::kKinds >> XmlStateEndTagClose) & 1) == 0),
                "the closing token of a whole tag is not reacted to");

  enum class Outcome { Stopped, HandedOver };

  // Threaded: each state's handler makes its token with the state's rule
  // folded in, then jumps straight to the handler of the state it reached.
  // One indirect jump per state rather than one shared by all, so the jump
  // after an element name predicts the "> or attribute" that follows it.
  using Handler = Outcome (*)(Reader &, const UINT8 *);

  template <INT32 S> XML_HOT_FLATTEN static Outcome Handle(Reader &reader, const UINT8 *p) {
    const UINT8 *q = nullptr;
    INT32 kind = reader.Step(kXmlMarkupRules.Rule[S], S, p, q);
    if (kind < 0) {
      return reader.Leave(p, S, kind == kStop ? Outcome::Stopped : Outcome::HandedOver);
    }
    if (((Sink::kKinds >> kind) & 1) != 0 && !reader.React(p, q, kind)) {
      return reader.Leave(p, S, Outcome::Stopped);
    }
    [[clang::musttail]] return kHandlers.At[kind](reader, q);
  }

  // The sink's reaction to the token of plain bytes [start, end).
  bool React(const UINT8 *start, const UINT8 *end, INT32 kind) const {
    UINT64 length = static_cast<UINT64>(end - start);
    XmlToken token = {start, length, encoding_, length, kind, FALSE};
    return sink_.ReactInside(token);
  }

  // A state whose rules the fast path does not apply.
  template <INT32 S> static Outcome Hand(Reader &reader, const UINT8 *p) {
    return reader.Leave(p, S, Outcome::HandedOver);
  }

  Outcome Leave(const UINT8 *p, INT32 at, Outcome outcome) {
    p_ = p;
    state = at;
    return outcome;
  }

  template <typename T, T... S> struct StateList {};

  struct HandlerTable {
    Handler At[XmlStateCount];
  };

  template <INT32... S> static constexpr HandlerTable MakeHandlers(StateList<INT32, S...>) {
    return {{HandlerOf<S>()...}};
  }

  template <INT32 S> static constexpr Handler HandlerOf() {
    if constexpr (S < kXmlFirstDoctypeState) {
      return &Handle<S>;
    } else {
      return &Hand<S>;
    }
  }

  static constexpr HandlerTable kHandlers =
      MakeHandlers(__make_integer_seq<StateList, INT32, XmlStateCount>{});

  // The token that the rule makes at p: its kind, and its end in q; or
  // kHandOver. A blank text skipped moves p to the token's start.
  XML_HOT_INLINE INT32 Step(const XmlRule &rule, INT32 from, const UINT8 *&p, const UINT8 *&q) {
    switch (rule.Step) {
    case XmlStep::Content:
      return Content(p, q);
    case XmlStep::Name:
      if (!(from == XmlStateEndTagOpen ? EndTagNameAt(p, q) : NameAt(p, q))) {
        return kHandOver;
      }
      return rule.Alt != 0 && *q == ':' ? rule.Alt : rule.Next;
    case XmlStep::Expect:
      return OneOf(p, ClassOf(rule.A), rule.Next, q);
    case XmlStep::Sequence: {
      const UINT8 classes[3] = {rule.A, rule.B, rule.C};
      q = p;
      for (UINT8 cls : classes) {
        if (cls != XmlClassNone && (!PlainAt(q) || kBytes.Classes[*q] != cls)) {
          return kHandOver;
        }
        q += cls != XmlClassNone ? 1 : 0;
      }
      return rule.Next;
    }
    case XmlStep::Until:
      return Until(p, ClassOf(rule.A), rule.B, rule.Next, q);
    case XmlStep::WhitespaceThen:
      return OneOf(SkipSpace(p), ClassOf(rule.A), rule.Next, q);
    case XmlStep::WhitespaceThenQuote:
      return OpeningQuote(SkipSpace(p), rule.Next, q);
    case XmlStep::RequiredWhitespace:
      return RequiredWhitespace(p, rule.Next, q);
    case XmlStep::ElementNameEnd:
      return ElementNameEnd(p, q);
    case XmlStep::AttributePosition:
      return AttributePosition(p, q);
    case XmlStep::DeclarationPosition:
      return DeclarationPosition(from, p, q);
    case XmlStep::PseudoValue:
      // The value must end with its quote: the one rule that is not Until.
      return Until(p, state_.QuoteClass, XmlClassNone, XmlStatePseudoValue, q);
    default:
      return kHandOver;
    }
  }

  // Steps stop before the last byte: every token ends before it.
  static const UINT8 *LastByte(const XmlTokenizerState &state) {
    return state.InputEnd > state.Position ? state.InputEnd - 1 : state.Position;
  }

  UINT32 ClassOf(UINT8 cls) const { return cls == kXmlLiteralQuote ? state_.QuoteClass : cls; }

  // The general scanners decode the character after a run; here it must be
  // a plain ASCII byte, which needs no decoding.
  bool PlainAt(const UINT8 *q) const { return q < end_ && Is(*q, kPlain); }

  const UINT8 *SkipSpace(const UINT8 *q) const {
    while (q < end_ && Is(*q, kSpace)) {
      q++;
    }
    return q;
  }

  // A name at p and a plain byte after it (at q).
  bool NameAt(const UINT8 *p, const UINT8 *&q) const {
    if (p >= end_ || !Is(*p, kNameStart)) {
      return false;
    }
    q = p + 1;
    // Four at a time while four remain: names are mostly longer.
    while (end_ - q >= 4 && Is(q[0], kNameChar) && Is(q[1], kNameChar) && Is(q[2], kNameChar) &&
           Is(q[3], kNameChar)) {
      q += 4;
    }
    while (q < end_ && Is(*q, kNameChar)) {
      q++;
    }
    return PlainAt(q);
  }

  // Mostly an end tag names the open element: then its name needs no scan.
  // The open element's name is a name the tokenizer read, so where the
  // bytes agree and no name character follows, a scan would stop there too.
  bool EndTagNameAt(const UINT8 *p, const UINT8 *&q) const {
    const CHAR8 *open;
    UINTN length;
    if (sink_.OpenName(open, length) && length != 0 && length < static_cast<UINTN>(end_ - p) &&
        Is(*p, kNameStart) && XmlBytesEqual(p, open, length) && !Is(p[length], kNameChar)) {
      q = p + length;
      return PlainAt(q);
    }
    return NameAt(p, q);
  }

  const UINT8 *SkipText(const UINT8 *q) const {
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor compares them at once:
    // "<", NUL and bytes above 7F (the sign bit) stop the text.
    while (end_ - q >= 16) {
      Bytes16 bytes;
      __builtin_memcpy(&bytes, q, 16);
      Bytes16 stops = (bytes == '<') | (bytes == 0) | (bytes < 0);
      UINT32 mask = static_cast<UINT32>(__builtin_ia32_pmovmskb128(stops));
      if (mask != 0) {
        return q + __builtin_ctz(mask);
      }
      q += 16;
    }
#endif
    // Eight bytes at a time: the lowest flagged byte is the first "<", NUL
    // or byte above 7F (a zero test can flag bytes above a zero, never
    // below one).
    while (end_ - q >= 8) {
      UINT64 word;
      __builtin_memcpy(&word, q, 8);
      UINT64 stops = XmlBytesOf(word, 0) | XmlBytesOf(word, '<') | (word & 0x8080808080808080ULL);
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

  INT32 OneOf(const UINT8 *at, UINT32 cls, INT32 kind, const UINT8 *&q) const {
    if (!PlainAt(at) || kBytes.Classes[*at] != cls) {
      return kHandOver;
    }
    q = at + 1;
    return kind;
  }

  // The opening quote is remembered, as the general tokenizer does.
  INT32 OpeningQuote(const UINT8 *at, INT32 kind, const UINT8 *&q) {
    if (!PlainAt(at) || (*at != '"' && *at != '\'')) {
      return kHandOver;
    }
    UINT32 quoteClass = kBytes.Classes[*at];
    state_.QuoteClass = quoteClass;
    state_.LastChar = {quoteClass, at, 1, encoding_, 1};
    q = at + 1;
    return kind;
  }

  // Up to a byte of class cls (or other); the input must not end first.
  INT32 Until(const UINT8 *p, UINT32 cls, UINT32 other, INT32 kind, const UINT8 *&q) const {
    q = p;
    while (PlainAt(q) && kBytes.Classes[*q] != cls &&
           (other == XmlClassNone || kBytes.Classes[*q] != other)) {
      q++;
    }
    return PlainAt(q) ? kind : kHandOver;
  }

  INT32 RequiredWhitespace(const UINT8 *p, INT32 kind, const UINT8 *&q) const {
    q = SkipSpace(p);
    return q != p && PlainAt(q) ? kind : kHandOver;
  }

  // Text, a start tag's "<", an end tag's "</" and the declaration's
  // "<?xml"; other markup is handed over.
  INT32 Content(const UINT8 *&p, const UINT8 *&q) const {
    if (p >= end_) {
      return kHandOver; // the end-of-document token
    }
    if (*p != '<') {
      // Most text between tags is indentation: the white space is passed
      // first, so blank text is read once and other text gains a few bytes.
      q = SkipSpace(p);
      bool blank = q < end_ && *q == '<';
      if (!blank) {
        q = SkipText(q);
        if (q >= end_ || *q != '<') {
          return kHandOver;
        }
      }
      if (!Sink::kTreeOnly || !blank) {
        return XmlStateText;
      }
      p = q;
    }
    if (!PlainAt(p + 1)) {
      return kHandOver;
    }
    if constexpr (Sink::kTreeOnly) {
      INT32 whole = WholeTag(p, q);
      if (whole != kHandOver) {
        return whole;
      }
    }
    switch (p[1]) {
    case '/':
      q = p + 2;
      return XmlStateEndTagOpen;
    case '!':
      return kHandOver;
    case '?': {
      const UINT8 *name = p + 2;
      const UINT8 *nameEnd;
      if (!NameAt(name, nameEnd)) {
        return kHandOver;
      }
      bool xml = SpellsKeyword(name, static_cast<UINTN>(nameEnd - name), kXmlKeywordXml);
      q = xml ? nameEnd : name;
      return xml ? XmlStateDeclarationOpen : XmlStateInstructionOpen;
    }
    default:
      q = p + 1;
      return XmlStateTagOpen;
    }
  }

  // For a tree-only sink, a tag of a name alone, "<name>" or "</name>", is
  // read in one step: the name's token goes to the sink from here, and the
  // state is then that of the tag's ">". An element of text alone goes
  // whole. Other tags are left to the tokens (kHandOver).
  INT32 WholeTag(const UINT8 *p, const UINT8 *&q) const {
    const UINT8 *name;
    const UINT8 *nameEnd;
    INT32 kind;
    INT32 after;
    if (p[1] == '/') {
      name = p + 2;
      if (!EndTagNameAt(name, nameEnd) || *nameEnd != '>') {
        return kHandOver;
      }
      kind = XmlStateEndTagName;
      after = XmlStateEndTagClose;
    } else {
      name = p + 1;
      if (!NameAt(name, nameEnd) || *nameEnd != '>') {
        return kHandOver;
      }
      INT32 leaf = Leaf(name, nameEnd, q);
      if (leaf != kHandOver) {
        return leaf;
      }
      kind = XmlStateElementName;
      after = XmlStateStartTagClose;
    }
    if (!React(name, nameEnd, kind)) {
      return kStop;
    }
    q = nameEnd + 1;
    return after;
  }

  // After "<name>" (the name from name to nameEnd): text and "</name>",
  // with no white space in the end tag, handed to the sink whole; the state
  // is then that of the end tag's ">". Anything else, or a sink that
  // declines, is left to the tokens (kHandOver).
  INT32 Leaf(const UINT8 *name, const UINT8 *nameEnd, const UINT8 *&q) const {
    UINTN length = static_cast<UINTN>(nameEnd - name);
    const UINT8 *text = nameEnd + 1;
    const UINT8 *close = SkipText(text);
    // "</", the name and ">", all before the last byte.
    if (static_cast<UINTN>(end_ - close) <= length + 2 || close[0] != '<' || close[1] != '/' ||
        !XmlBytesEqual(close + 2, name, length) || close[2 + length] != '>') {
      return kHandOver;
    }
    switch (sink_.Leaf(name, length, text, static_cast<UINTN>(close - text))) {
    case LeafOutcome::Taken:
      q = close + 3 + length;
      return XmlStateEndTagClose;
    case LeafOutcome::Stopped:
      return kStop;
    default:
      return kHandOver;
    }
  }

  // Whitespace, ">" or "/>" after the element name or an attribute.
  INT32 ElementNameEnd(const UINT8 *p, const UINT8 *&q) const {
    if (!PlainAt(p)) {
      return kHandOver;
    }
    switch (*p) {
    case '>':
      q = p + 1;
      return XmlStateStartTagClose;
    case '/':
      q = p + 2;
      return PlainAt(p + 1) && p[1] == '>' ? XmlStateEmptyClose : kHandOver;
    default:
      return Is(*p, kSpace) ? RequiredWhitespace(p, XmlStateTagSpace, q) : kHandOver;
    }
  }

  INT32 AttributePosition(const UINT8 *p, const UINT8 *&q) const {
    if (!PlainAt(p)) {
      return kHandOver;
    }
    if (Is(*p, kSpace) || *p == '>' || *p == '/') {
      return ElementNameEnd(p, q);
    }
    if (!NameAt(p, q)) {
      return kHandOver;
    }
    bool colon = *q == ':';
    if (!colon && *q != '=' && !Is(*q, kSpace)) {
      return kHandOver;
    }
    UINTN length = static_cast<UINTN>(q - p);
    if (SpellsKeyword(p, length, kXmlKeywordXmlns)) {
      return colon ? XmlStateXmlnsPrefixed : XmlStateXmlns;
    }
    if (SpellsKeyword(p, length, kXmlKeywordXml)) {
      return colon ? XmlStateXmlPrefix : XmlStateAttributeName;
    }
    return colon ? XmlStateAttributePrefix : XmlStateAttributeName;
  }

  INT32 DeclarationPosition(INT32 state, const UINT8 *p, const UINT8 *&q) const {
    if (!PlainAt(p)) {
      return kHandOver;
    }
    if (Is(*p, kSpace)) {
      return RequiredWhitespace(p, XmlStateDeclarationSpace, q);
    }
    if (*p == '?') {
      q = p + 2;
      return PlainAt(p + 1) && p[1] == '>' ? XmlStateDeclarationClose : kHandOver;
    }
    if (state != XmlStateDeclarationSpace || !NameAt(p, q)) {
      return kHandOver;
    }
    for (const XmlKeywordState &name : kXmlDeclarationNames) {
      if (SpellsKeyword(p, static_cast<UINTN>(q - p), *name.Keyword)) {
        return name.State;
      }
    }
    return kHandOver;
  }

  XmlTokenizerState &state_;
  Sink &sink_;
  const UINT8 *end_;
  UINT32 encoding_;
  const UINT8 *p_ = nullptr; // where the next token starts
  INT32 state = 0;           // of the last token made
};

} // namespace xml_fast

#endif
