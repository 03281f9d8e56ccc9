// The tokenizer state machine (XML 1.0 sections 2 and 3: declaration,
// elements, attributes, namespace declarations, comments, CDATA sections,
// processing instructions and a document type declaration with an internal
// subset), encoding detection and token commits.
#include "XmlAsciiTokens.h"
#include "XmlScan.h"

#define TRY(expr)                                                                                  \
  do {                                                                                             \
    XmlFailure failure_ = (expr);                                                                  \
    if (failure_ != XmlFailure::None) {                                                            \
      return failure_;                                                                             \
    }                                                                                              \
  } while (0)

namespace {

constexpr XmlKeywordState kDeclarationNames[] = {
    {&kXmlKeywordEncoding, 55}, {&kXmlKeywordVersion, 57}, {&kXmlKeywordStandalone, 56}};
constexpr XmlKeywordState kSubsetDeclarations[] = {{&kXmlKeywordEntity, 102},
                                                   {&kXmlKeywordElement, 72},
                                                   {&kXmlKeywordAttlist, 75},
                                                   {&kXmlKeywordNotation, 120}};
constexpr XmlKeywordState kAttributeTypes[] = {
    {&kXmlKeywordCdata, 83},   {&kXmlKeywordId, 84},       {&kXmlKeywordIdref, 85},
    {&kXmlKeywordIdrefs, 86},  {&kXmlKeywordEntity, 87},   {&kXmlKeywordEntities, 88},
    {&kXmlKeywordNmtoken, 89}, {&kXmlKeywordNmtokens, 90}, {&kXmlKeywordNotation, 94}};
constexpr XmlKeywordState kDefaultDeclarations[] = {
    {&kXmlKeywordRequired, 95}, {&kXmlKeywordImplied, 96}, {&kXmlKeywordFixed, 97}};

bool IsQuote(UINT32 cls) {
  return cls == XmlClassApostrophe || cls == XmlClassQuote;
}

// Produces one token from the state's position.
template <typename Decoding> class Lexer {
public:
  Lexer(XmlTokenizerState &state, XmlToken &token)
      : state_(state), scan_(state), token_(token), start_(state.Position), p_(state.Position) {}

  XmlFailure Next() {
    if (XmlIsContentState(state_.State)) {
      return Content();
    }
    switch (state_.State) {
    case 4:
      return Emit(4);
    case 5:
      return NameThen(6, 22);
    case 22:
      return Expect(XmlClassColon, 23);
    case 23:
      return NameThen(6, -1);
    case 6:
      return AfterElementName();
    case 13:
    case 21:
    case 32:
    case 33:
      return AttributePosition();
    case 24:
      return Expect(XmlClassColon, 25);
    case 25:
      return NameThen(28, -1);
    case 28:
      return WhitespaceThen(XmlClassEquals, 29);
    case 29:
      return WhitespaceThenQuote(31);
    case 31:
      return UntilQuote(30);
    case 30:
      return Expect(state_.QuoteClass, 32);
    case 7:
      return Expect(XmlClassColon, 10);
    case 10:
      return NameThen(9, -1);
    case 8:
    case 9:
      return WhitespaceThen(XmlClassEquals, 11);
    case 11:
      return WhitespaceThenQuote(12);
    case 12:
      return UntilQuote(14);
    case 14:
      return Expect(state_.QuoteClass, 13);
    case 15:
      return Expect(XmlClassColon, 16);
    case 16:
      return NameThen(17, -1);
    case 17:
      return WhitespaceThen(XmlClassEquals, 18);
    case 18:
      return WhitespaceThenQuote(19);
    case 19:
      return UntilQuote(20);
    case 20:
      return Expect(state_.QuoteClass, 21);
    case 34:
      return NameThen(35, 38);
    case 38:
      return Expect(XmlClassColon, 39);
    case 39:
      return NameThen(35, -1);
    case 35:
      return WhitespaceThen(XmlClassGreater, 37);
    case 40:
      return NameThen(42, -1);
    case 42:
      return AfterTarget();
    case 44:
      return InstructionBody();
    case 43:
      return Sequence(XmlClassQuestion, XmlClassGreater, XmlClassNone, 41);
    case 45:
      return CommentBody();
    case 46:
      return Sequence(XmlClassHyphen, XmlClassHyphen, XmlClassGreater, 47);
    case 48:
      return CdataBody();
    case 49:
      return Sequence(XmlClassRightBracket, XmlClassRightBracket, XmlClassGreater, 50);
    case 51:
      return RequiredWhitespace(53);
    case 53:
    case 60:
      return DeclarationPosition();
    case 55:
    case 56:
    case 57:
      return WhitespaceThen(XmlClassEquals, 54);
    case 54:
      return WhitespaceThenQuote(58);
    case 58:
      return PseudoAttributeValue();
    case 59:
      return Expect(state_.QuoteClass, 60);
    case 64:
      return RequiredWhitespace(65);
    case 65:
      return WhitespaceOrName(65, 66, -1);
    case 66:
      return ExternalIdentifier();
    case 67:
      return DoctypeEnd();
    case 68:
    case 69:
    case 74:
    case 101:
    case 119:
    case 122:
      return InternalSubset();
    case 70:
      return WhitespaceThen(XmlClassGreater, 71);
    case 72:
      return Until(XmlClassGreater, 73);
    case 120:
      return Until(XmlClassGreater, 121);
    case 73:
      return Expect(XmlClassGreater, 74);
    case 121:
      return Expect(XmlClassGreater, 122);
    case 75:
      return WhitespaceOrName(75, 76, 77);
    case 77:
      return Expect(XmlClassColon, 78);
    case 78:
      return NameThen(76, -1);
    case 76:
    case 79:
    case 95:
    case 96:
    case 100:
      return AttributeDefinitionPosition();
    case 81:
      return Expect(XmlClassColon, 82);
    case 82:
      return NameThen(80, -1);
    case 80:
      return AttributeType();
    case 91:
      return Until(XmlClassRightParen, 92);
    case 92:
      return Expect(XmlClassRightParen, 93);
    case 94:
      return WhitespaceThen(XmlClassLeftParen, 91);
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 90:
    case 93:
      return DefaultDeclaration();
    case 97:
      return WhitespaceThenQuote(98);
    case 98:
      return UntilQuote(99);
    case 99:
      return DefaultValueEnd();
    case 102:
      return EntityStart();
    case 104:
    case 105:
      return WhitespaceName(103);
    case 103:
      return EntityDefinition();
    case 106:
      return WhitespaceThenQuote(107);
    case 107:
      return UntilQuote(108);
    case 116:
      return UntilQuote(117);
    case 108:
      return Expect(state_.QuoteClass, 109);
    case 117:
      return Expect(state_.QuoteClass, 118);
    case 109:
      return AfterSystemLiteral();
    case 114:
      return WhitespaceName(115);
    case 115:
    case 118:
      return WhitespaceThen(XmlClassGreater, 119);
    case 110:
      return OpeningQuote(111);
    case 111:
      return PublicIdentifier();
    case 112:
      return Expect(state_.QuoteClass, 113);
    case 113:
      return WhitespaceThenQuote(107);
    default:
      Error(0);
      return XmlFailure::BadState;
    }
  }

private:
  XmlFailure Emit(INT32 kind) {
    token_.Start = start_;
    token_.ByteLength = static_cast<UINT64>(p_ - start_);
    token_.EncodingId = state_.EncodingId;
    token_.CharCount = count_;
    token_.Kind = kind;
    token_.Error = FALSE;
    return XmlFailure::None;
  }

  XmlFailure Error(INT32 kind = 0) {
    token_.Start = start_;
    token_.ByteLength = 0;
    token_.EncodingId = state_.EncodingId;
    token_.CharCount = 0;
    token_.Kind = kind;
    token_.Error = TRUE;
    return XmlFailure::None;
  }

  VOID Take(const XmlRun &run) {
    p_ = run.Start + run.Length;
    count_ += run.Count;
  }

  // The state that a name leads to through a keyword table, or -1.
  XmlFailure Lookup(const XmlRun &name, const XmlKeywordState *table, UINTN entries, INT32 &next) {
    next = -1;
    for (UINTN i = 0; i < entries; i++) {
      INT32 result;
      TRY(scan_.Keyword(name, *table[i].Keyword, result));
      if (result == 0) {
        next = table[i].State;
        break;
      }
    }
    return XmlFailure::None;
  }

  XmlFailure Expect(UINT32 cls, INT32 kind) {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class != cls) {
      return Error();
    }
    Take(c);
    return Emit(kind);
  }

  // Two or three fixed characters ("?>", "-->", "]]>").
  XmlFailure Sequence(UINT32 first, UINT32 second, UINT32 third, INT32 kind) {
    UINT32 classes[3] = {first, second, third};
    for (UINT32 cls : classes) {
      if (cls == XmlClassNone) {
        break;
      }
      XmlRun c;
      TRY(scan_.Peek(p_, c));
      if (c.Class != cls) {
        return Error();
      }
      Take(c);
    }
    return Emit(kind);
  }

  XmlFailure NameThen(INT32 kind, INT32 colonKind) {
    XmlRun name;
    XmlRun following;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    Take(name);
    return Emit(colonKind >= 0 && following.Class == XmlClassColon ? colonKind : kind);
  }

  XmlFailure WhitespaceName(INT32 kind) {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    return NameThen(kind, -1);
  }

  XmlFailure WhitespaceOrName(INT32 spaceKind, INT32 nameKind, INT32 colonKind) {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    if (space.Length != 0) {
      Take(space);
      return Emit(spaceKind);
    }
    return NameThen(nameKind, colonKind);
  }

  XmlFailure RequiredWhitespace(INT32 kind) {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    if (space.Length == 0) {
      return Error();
    }
    Take(space);
    return Emit(kind);
  }

  // Optional whitespace, then one character of the given class.
  XmlFailure WhitespaceThen(UINT32 cls, INT32 kind) {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    return Expect(cls, kind);
  }

  // The opening quote is remembered as the last character read; the
  // public-identifier scanner needs it.
  XmlFailure OpeningQuote(INT32 kind) {
    XmlRun c;
    TRY(scan_.Char(p_, c));
    if (!IsQuote(c.Class)) {
      return Error();
    }
    state_.QuoteClass = c.Class;
    Take(c);
    return Emit(kind);
  }

  XmlFailure WhitespaceThenQuote(INT32 kind) {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    return OpeningQuote(kind);
  }

  XmlFailure UntilQuote(INT32 kind) { return Until(state_.QuoteClass, kind); }

  XmlFailure Until(UINT32 cls, INT32 kind) {
    XmlRun run;
    XmlRun following;
    TRY(scan_.UntilClass(p_, cls, run, following));
    Take(run);
    return Emit(kind);
  }

  XmlFailure Content() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassEnd) {
      Emit(4);
      token_.Error = state_.State == 3 || state_.State == 52 || state_.State == 71;
      return XmlFailure::None;
    }
    if (c.Class != XmlClassLess) {
      XmlRun text;
      XmlRun following;
      TRY(scan_.Text(p_, text, following));
      Take(text);
      return Emit(2);
    }
    Take(c);
    TRY(scan_.Peek(p_, c));
    INT32 result;
    XmlRun name;
    switch (c.Class) {
    case XmlClassSlash:
      Take(c);
      return Emit(34);
    case XmlClassQuestion:
      Take(c);
      TRY(scan_.MatchKeyword(p_, kXmlKeywordXml, name, result));
      if (result == 0) {
        Take(name);
        return Emit(51);
      }
      return Emit(40);
    case XmlClassBang:
      Take(c);
      TRY(scan_.Peek(p_, c));
      if (c.Class == XmlClassHyphen) {
        Take(c);
        return Expect(XmlClassHyphen, 45);
      }
      if (c.Class == XmlClassLeftBracket) {
        Take(c);
        TRY(scan_.MatchKeyword(p_, kXmlKeywordCdata, name, result));
        if (result != 0) {
          return Error();
        }
        Take(name);
        return Expect(XmlClassLeftBracket, 48);
      }
      TRY(scan_.MatchKeyword(p_, kXmlKeywordDoctype, name, result));
      if (result != 0) {
        return Error();
      }
      Take(name);
      return Emit(64);
    default:
      return Emit(5);
    }
  }

  XmlFailure AfterElementName() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    switch (c.Class) {
    case XmlClassSpace: {
      XmlRun space;
      XmlRun following;
      TRY(scan_.Whitespace(p_, space, following));
      Take(space);
      return Emit(33);
    }
    case XmlClassGreater:
      Take(c);
      return Emit(26);
    case XmlClassSlash:
      Take(c);
      return Expect(XmlClassGreater, 27);
    default:
      return Error();
    }
  }

  XmlFailure AttributePosition() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassSpace || c.Class == XmlClassGreater || c.Class == XmlClassSlash) {
      return AfterElementName();
    }
    XmlRun name;
    XmlRun following;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    bool colon = following.Class == XmlClassColon;
    if (!colon && following.Class != XmlClassEquals && following.Class != XmlClassSpace) {
      return Error();
    }
    INT32 isXmlns;
    INT32 isXml;
    TRY(scan_.Keyword(name, kXmlKeywordXmlns, isXmlns));
    TRY(scan_.Keyword(name, kXmlKeywordXml, isXml));
    Take(name);
    if (isXmlns == 0) {
      return Emit(colon ? 7 : 8);
    }
    if (isXml == 0) {
      return Emit(colon ? 15 : 28);
    }
    return Emit(colon ? 24 : 28);
  }

  XmlFailure AfterTarget() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassSpace) {
      return RequiredWhitespace(44);
    }
    return Sequence(XmlClassQuestion, XmlClassGreater, XmlClassNone, 41);
  }

  // Looks from p_ for the characters of classes[0..n) in a row. at receives
  // where they start, or where the scan for the first one ended; stop the
  // class that ended it: classes[0] when found, XmlClassEnd or XmlClassNone
  // (the scan ran off the end). count: the characters before at. Every
  // character after a candidate first one is decoded before they are
  // compared.
  XmlFailure FindSequence(const UINT32 *classes, UINTN n, const UINT8 *&at, UINT64 &count,
                          UINT32 &stop) {
    const UINT8 *q = p_;
    count = 0;
    for (;;) {
      XmlRun run;
      XmlRun first;
      TRY(scan_.UntilClass(q, classes[0], run, first));
      count += run.Count;
      if (first.Class != classes[0]) {
        at = run.Start + run.Length;
        stop = first.Class;
        return XmlFailure::None;
      }
      bool match = true;
      XmlRun next = first;
      for (UINTN i = 1; i < n; i++) {
        TRY(scan_.Peek(next.Start + next.Length, next));
        match = match && next.Class == classes[i];
      }
      if (match) {
        at = first.Start;
        stop = classes[0];
        return XmlFailure::None;
      }
      q = first.Start + first.Length;
      count += 1;
    }
  }

  // Everything up to the first "?>"; the input ending first is an error.
  XmlFailure InstructionBody() {
    static constexpr UINT32 kEnd[] = {XmlClassQuestion, XmlClassGreater};
    UINT64 count;
    UINT32 stop;
    TRY(FindSequence(kEnd, 2, p_, count, stop));
    if (stop != XmlClassQuestion) {
      return Error(1);
    }
    count_ += count;
    return Emit(43);
  }

  // Everything up to the first "--", or to the end of input.
  XmlFailure CommentBody() {
    static constexpr UINT32 kEnd[] = {XmlClassHyphen, XmlClassHyphen};
    UINT64 count;
    UINT32 stop;
    TRY(FindSequence(kEnd, 2, p_, count, stop));
    count_ += count;
    return Emit(46);
  }

  // Everything up to the first "]]>". A body that ends in "]" characters at
  // the end of input runs to the end; one whose scan runs off the end
  // without meeting "]" is an error.
  XmlFailure CdataBody() {
    static constexpr UINT32 kEnd[] = {XmlClassRightBracket, XmlClassRightBracket, XmlClassGreater};
    UINT64 count;
    UINT32 stop;
    TRY(FindSequence(kEnd, 3, p_, count, stop));
    if (stop == XmlClassEnd) {
      p_ = scan_.end();
    } else if (stop != XmlClassRightBracket) {
      return Error(1);
    }
    count_ += count;
    return Emit(49);
  }

  XmlFailure DeclarationPosition() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassSpace) {
      return RequiredWhitespace(53);
    }
    if (c.Class == XmlClassQuestion) {
      return Sequence(XmlClassQuestion, XmlClassGreater, XmlClassNone, 52);
    }
    if (state_.State != 53) {
      return Error();
    }
    XmlRun name;
    XmlRun following;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    INT32 next;
    TRY(Lookup(name, kDeclarationNames, 3, next));
    if (next < 0) {
      return Error();
    }
    Take(name);
    return Emit(next);
  }

  XmlFailure PseudoAttributeValue() {
    XmlRun run;
    XmlRun quote;
    TRY(scan_.UntilClass(p_, state_.QuoteClass, run, quote));
    if (quote.Class != state_.QuoteClass) {
      return Error();
    }
    Take(run);
    return Emit(59);
  }

  XmlFailure ExternalIdentifier() {
    XmlRun run;
    XmlRun following;
    TRY(scan_.UntilClass(p_, XmlClassGreater, run, following, XmlClassLeftBracket));
    Take(run);
    return Emit(67);
  }

  XmlFailure DoctypeEnd() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassGreater || c.Class == XmlClassLeftBracket) {
      Take(c);
      return Emit(c.Class == XmlClassGreater ? 71 : 68);
    }
    return Error();
  }

  XmlFailure InternalSubset() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    switch (c.Class) {
    case XmlClassSpace:
      return RequiredWhitespace(69);
    case XmlClassRightBracket:
      Take(c);
      return Emit(70);
    case XmlClassPercent:
      // Parameter-entity references would need entity expansion.
      Error();
      return XmlFailure::NotImplemented;
    case XmlClassLess: {
      Take(c);
      TRY(scan_.Peek(p_, c));
      if (c.Class != XmlClassBang) {
        return Error();
      }
      Take(c);
      XmlRun name;
      XmlRun following;
      TRY(scan_.Name(p_, name, following));
      if (name.Class != XmlClassOther) {
        return Error();
      }
      INT32 next;
      TRY(Lookup(name, kSubsetDeclarations, 4, next));
      if (next < 0) {
        return Error();
      }
      Take(name);
      return Emit(next);
    }
    default:
      return Error();
    }
  }

  XmlFailure AttributeDefinitionPosition() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class == XmlClassSpace) {
      return RequiredWhitespace(79);
    }
    if (c.Class == XmlClassGreater) {
      Take(c);
      return Emit(101);
    }
    return NameThen(80, 81);
  }

  XmlFailure AttributeType() {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    if (following.Class == XmlClassLeftParen) {
      return Expect(XmlClassLeftParen, 91);
    }
    return KeywordFrom(kAttributeTypes, 9);
  }

  // A name that must be one of the table's keywords.
  XmlFailure KeywordFrom(const XmlKeywordState *table, UINTN entries) {
    XmlRun name;
    XmlRun following;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    INT32 next;
    TRY(Lookup(name, table, entries, next));
    if (next < 0) {
      return Error();
    }
    Take(name);
    return Emit(next);
  }

  XmlFailure DefaultDeclaration() {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    if (following.Class == XmlClassHash) {
      XmlRun hash;
      TRY(scan_.Peek(p_, hash));
      Take(hash);
      return KeywordFrom(kDefaultDeclarations, 3);
    }
    return OpeningQuote(98);
  }

  XmlFailure DefaultValueEnd() {
    XmlRun c;
    TRY(scan_.Peek(p_, c));
    if (c.Class != state_.QuoteClass) {
      Error();
      return XmlFailure::UnterminatedLiteral;
    }
    Take(c);
    return Emit(100);
  }

  XmlFailure EntityStart() {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    if (following.Class == XmlClassPercent) {
      XmlRun percent;
      TRY(scan_.Peek(p_, percent));
      Take(percent);
      return Emit(104);
    }
    XmlRun name;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    return Emit(105);
  }

  XmlFailure EntityDefinition() {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    if (IsQuote(following.Class)) {
      return OpeningQuote(116);
    }
    XmlRun name;
    TRY(scan_.Name(p_, name, following));
    if (name.Class != XmlClassOther) {
      return Error();
    }
    INT32 result;
    TRY(scan_.Keyword(name, kXmlKeywordSystem, result));
    if (result == 0) {
      Take(name);
      return Emit(106);
    }
    TRY(scan_.Keyword(name, kXmlKeywordPublic, result));
    if (result != 0) {
      return Error();
    }
    Take(name);
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    return Emit(110);
  }

  XmlFailure AfterSystemLiteral() {
    XmlRun space;
    XmlRun following;
    TRY(scan_.Whitespace(p_, space, following));
    Take(space);
    if (following.Class == XmlClassGreater) {
      return Expect(XmlClassGreater, 119);
    }
    XmlRun name;
    TRY(scan_.Name(p_, name, following));
    INT32 result = -1;
    if (name.Class == XmlClassOther) {
      TRY(scan_.Keyword(name, kXmlKeywordNdata, result));
    }
    if (result != 0) {
      return Error();
    }
    Take(name);
    return Emit(114);
  }

  XmlFailure PublicIdentifier() {
    XmlRun run;
    TRY(scan_.PubidChars(p_, run));
    Take(run);
    return Emit(112);
  }

  XmlTokenizerState &state_;
  XmlScanner<Decoding> scan_;
  XmlToken &token_;
  const UINT8 *start_;
  const UINT8 *p_;
  UINT64 count_ = 0;
};

bool TokenInInput(const XmlTokenizerState *state, const XmlToken *token) {
  return token->Start >= state->InputStart && token->Start <= state->InputEnd &&
         token->ByteLength <= static_cast<UINT64>(state->InputEnd - token->Start);
}

template <typename Decoding>
XmlFailure RunTokenizer(XmlTokenizerState &state, XmlTokenCallback callback, VOID *context) {
  for (;;) {
    XmlToken token;
    XmlFailure failure = Lexer<Decoding>(state, token).Next();
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (!callback(context, token)) {
      return XmlFailure::None;
    }
    if (state.TrackPosition) {
      TRY(XmlCommitToken(&state, &token));
    } else {
      state.Position = token.Start + token.ByteLength;
      state.State = token.Kind;
    }
  }
}

// Follows the tokens of a leading declaration and compares the declared
// encoding with the names the detected row accepts. Stops at the end of
// the declaration, at anything that is not one, and at a name that is not
// accepted (mismatch()).
class DeclarationCheck {
public:
  DeclarationCheck(XmlTokenizerState &copy, const XmlEncodingRow &row) : copy_(copy), row_(row) {}

  template <INT32 Kind> bool Token(const XmlToken &token) {
    if constexpr (Kind == XmlKindDeclarationOpen || Kind == XmlKindDeclarationClose ||
                  Kind == XmlKindEncodingName || Kind == XmlKindPseudoValue) {
      return Token(token);
    } else {
      // Inside the declaration nothing else matters; anything else first
      // means there is none.
      (VOID) token;
      return !first_;
    }
  }

  bool OpenName(const CHAR8 *&, UINTN &) const { return false; }

  bool Token(const XmlToken &token) {
    if (first_) {
      first_ = false;
      return !token.Error && token.Kind == XmlKindDeclarationOpen;
    }
    if (token.Error || token.Kind == 1 || token.Kind == XmlKindEndOfDocument ||
        token.Kind == XmlKindDeclarationClose) {
      return false;
    }
    if (token.Kind == XmlKindEncodingName) {
      encodingNamed_ = true;
      return true;
    }
    if (token.Kind != XmlKindPseudoValue || !encodingNamed_) {
      return true;
    }
    encodingNamed_ = false;
    declared_ = {XmlClassOther, token.Start, token.ByteLength, token.EncodingId, token.CharCount};
    for (UINTN i = 0; i < row_.NameCount; i++) {
      INT32 result = 1;
      if (copy_.KeywordCompare(&copy_, &declared_, row_.Names[i], &result, XmlToUpper) !=
          XmlFailure::None) {
        return false;
      }
      if (result == 0) {
        return true;
      }
    }
    mismatch_ = true;
    return false;
  }

  bool mismatch() const { return mismatch_; }
  const XmlRun &declared() const { return declared_; }

  // Reading goes on after the mismatch handler gave another decoder.
  VOID Resume() { mismatch_ = false; }

private:
  XmlTokenizerState &copy_;
  const XmlEncodingRow &row_;
  XmlRun declared_ = {};
  bool first_ = true;
  bool encodingNamed_ = false;
  bool mismatch_ = false;
};

} // namespace

XmlFailure XmlTokenizerInit(XmlTokenizerState *State, const XmlInputDescriptor *Descriptor) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Descriptor == nullptr || Descriptor->Size != sizeof(XmlInputDescriptor) ||
      (Descriptor->Text == nullptr && Descriptor->Length != 0)) {
    return XmlFailure::InvalidParameter;
  }
  XmlZeroBytes(State, sizeof(*State));
  State->InputStart = Descriptor->Text;
  State->InputLength = Descriptor->Length;
  State->InputEnd = Descriptor->Text + Descriptor->Length;
  State->Position = Descriptor->Text;
  State->Decoder = XmlDecodeUtf8;
  State->EncodingId = XmlEncodingUtf8;
  State->State = kXmlInitialState;
  State->RunCompare = Descriptor->RunCompare != nullptr ? Descriptor->RunCompare : XmlCompareRuns;
  State->KeywordCompare =
      Descriptor->KeywordCompare != nullptr ? Descriptor->KeywordCompare : XmlCompareKeyword;
  State->EncodingMismatch = Descriptor->EncodingMismatch;
  State->ReservedHook = Descriptor->ReservedHook;
  State->TrackPosition = Descriptor->TrackPosition;
  State->Line = 1;
  State->Column = 1;
  return XmlFailure::None;
}

XmlFailure XmlRunTokenizer(XmlTokenizerState *State, XmlTokenCallback Callback, VOID *Context) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Callback == nullptr || State->Decoder == nullptr || State->Position < State->InputStart ||
      State->Position > State->InputEnd) {
    return XmlFailure::InvalidParameter;
  }
  if (State->Decoder == XmlDecodeUtf8) {
    return RunTokenizer<XmlUtf8Decoding>(*State, Callback, Context);
  }
  return RunTokenizer<XmlTableDecoding>(*State, Callback, Context);
}

XmlFailure XmlCommitToken(XmlTokenizerState *State, const XmlToken *Token) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Token == nullptr) {
    return XmlFailure::NullToken;
  }
  if (!TokenInInput(State, Token) || State->Decoder == nullptr) {
    return XmlFailure::BadState;
  }
  const UINT8 *p = Token->Start;
  const UINT8 *end = Token->Start + Token->ByteLength;
  if (State->TrackPosition) {
    UINT32 line = State->Line;
    UINT32 column = State->Column;
    bool utf8 = State->Decoder == XmlDecodeUtf8;
    while (p < end) {
      XmlChar c = utf8 ? XmlDecodeUtf8Inline(p, end) : State->Decoder(p, end);
      if (c.Failure != XmlFailure::None) {
        return c.Failure;
      }
      if (c.Code == '\n') {
        line++;
        column = 1;
      } else {
        column++;
      }
      p = c.Next;
    }
    State->Line = line;
    State->Column = column;
  }
  State->Position = end;
  State->State = Token->Kind;
  return XmlFailure::None;
}

XmlFailure XmlNextToken(XmlTokenizerState *State, XmlToken *Token, BOOLEAN Commit) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Token == nullptr) {
    return XmlFailure::NullToken;
  }
  if (State->Decoder == nullptr || State->Position < State->InputStart ||
      State->Position > State->InputEnd) {
    return XmlFailure::BadState;
  }
  XmlFailure failure;
  if (State->Decoder == XmlDecodeUtf8) {
    failure = Lexer<XmlUtf8Decoding>(*State, *Token).Next();
  } else {
    failure = Lexer<XmlTableDecoding>(*State, *Token).Next();
  }
  if (failure != XmlFailure::None) {
    Token->Error = TRUE;
    return failure;
  }
  if (Commit) {
    return XmlCommitToken(State, Token);
  }
  return XmlFailure::None;
}

XmlFailure XmlDetectEncoding(XmlTokenizerState *State, UINTN *PrefixLength) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (PrefixLength == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  const XmlEncodingRow *row = &kXmlEncodingTable[0];
  for (const XmlEncodingRow &candidate : kXmlEncodingTable) {
    if (candidate.SignatureLength <= State->InputLength &&
        XmlBytesEqual(State->InputStart, candidate.Signature, candidate.SignatureLength)) {
      row = &candidate;
      break;
    }
  }
  State->Decoder = row->Decoder;
  State->EncodingId = row->EncodingId;
  *PrefixLength = row->SkipLength;

  // Read the declaration on a copy so that the real position stays put.
  XmlTokenizerState copy = *State;
  copy.Position = State->InputStart + row->SkipLength;
  copy.State = kXmlInitialState;
  copy.TrackPosition = FALSE;
  DeclarationCheck check(copy, *row);
  for (;;) {
    bool plain = copy.Decoder == XmlDecodeUtf8 && copy.KeywordCompare == XmlCompareKeyword;
    bool going = !plain || xml_ascii::Reader<DeclarationCheck>(copy, check).Run();
    if (going) {
      XmlToken token;
      // A failure here is met again, and reported, by the main parse.
      if (XmlNextToken(&copy, &token, TRUE) != XmlFailure::None) {
        return XmlFailure::None;
      }
      going = check.Token(token);
    }
    if (going) {
      continue;
    }
    if (!check.mismatch()) {
      return XmlFailure::None;
    }
    XmlRun declared = check.declared();
    XmlDecoder replacement =
        State->EncodingMismatch != nullptr ? State->EncodingMismatch(State, &declared) : nullptr;
    if (replacement == nullptr) {
      return XmlFailure::UnknownEncoding;
    }
    State->Decoder = replacement;
    copy.Decoder = replacement;
    check.Resume();
  }
}
