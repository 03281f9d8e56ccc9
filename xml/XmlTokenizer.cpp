// The tokenizer (XML 1.0 sections 2 and 3): content, start and end tags,
// attributes, namespace declarations, the XML declaration, comments, CDATA
// sections and processing instructions, read by one rule per state; the
// steps those rules share; and the entry points that make, commit and run
// tokens. The document type declaration has its rules in XmlDoctype.cpp,
// encoding detection is in XmlEncoding.cpp.
#include "XmlRules.h"

namespace {

bool TokenInInput(const XmlTokenizerState *state, const XmlToken *token) {
  return token->Start >= state->InputStart && token->Start <= state->InputEnd &&
         token->ByteLength <= static_cast<UINT64>(state->InputEnd - token->Start);
}

} // namespace

XmlFailure XmlLexer::Next() {
  INT32 state = state_.State;
  if (state >= kXmlFirstDoctypeState && state < XmlStateCount) {
    return NextInDoctype();
  }
  if (state < 0 || state >= kXmlFirstDoctypeState) {
    Error();
    return XmlFailure::BadState;
  }
  const XmlRule &rule = kXmlMarkupRules.Rule[state];
  switch (rule.Step) {
  case XmlStep::Content:
    return Content();
  case XmlStep::ElementNameEnd:
    return ElementNameEnd();
  case XmlStep::AttributePosition:
    return AttributePosition();
  case XmlStep::InstructionTarget: {
    XmlRun c;
    XmlFailure failure = scan_.Peek(p_, c);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (c.Class == XmlClassSpace) {
      return RequiredWhitespace(XmlStateInstructionSpace);
    }
    return Apply(
        XmlSequenceRule(XmlClassQuestion, XmlClassGreater, XmlClassNone, XmlStateInstructionClose));
  }
  case XmlStep::InstructionBody:
    return InstructionBody();
  case XmlStep::CommentBody:
    return CommentBody();
  case XmlStep::CdataBody:
    return CdataBody();
  case XmlStep::DeclarationPosition:
    return DeclarationPosition();
  case XmlStep::PseudoValue:
    return PseudoValue();
  default:
    return Apply(rule);
  }
}

XmlFailure XmlLexer::Apply(const XmlRule &rule) {
  XmlFailure failure;
  XmlRun run;
  XmlRun following;
  switch (rule.Step) {
  case XmlStep::Content:
    return Content();
  case XmlStep::EndOfDocument:
    return Emit(XmlStateEndOfDocument);
  case XmlStep::Name:
    return Name(rule.Next, rule.Alt != 0 ? rule.Alt : -1);
  case XmlStep::Expect:
    return Expect(ClassOf(rule.A), rule.Next);
  case XmlStep::Choice:
    failure = scan_.Peek(p_, run);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (run.Class != rule.A && run.Class != rule.B) {
      return Error();
    }
    Take(run);
    return Emit(run.Class == rule.A ? rule.Next : rule.Alt);
  case XmlStep::Sequence: {
    const UINT8 classes[3] = {rule.A, rule.B, rule.C};
    for (UINT8 cls : classes) {
      if (cls == XmlClassNone) {
        break;
      }
      failure = scan_.Peek(p_, run);
      if (failure != XmlFailure::None) {
        return failure;
      }
      if (run.Class != cls) {
        return Error();
      }
      Take(run);
    }
    return Emit(rule.Next);
  }
  case XmlStep::Until:
    failure = scan_.UntilClass(p_, ClassOf(rule.A), run, following, rule.B);
    if (failure != XmlFailure::None) {
      return failure;
    }
    Take(run);
    return Emit(rule.Next);
  case XmlStep::WhitespaceThen:
    failure = SkipWhitespace(following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    return Expect(ClassOf(rule.A), rule.Next);
  case XmlStep::WhitespaceThenQuote:
    failure = SkipWhitespace(following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    return OpeningQuote(rule.Next);
  case XmlStep::OpeningQuote:
    return OpeningQuote(rule.Next);
  case XmlStep::RequiredWhitespace:
    return RequiredWhitespace(rule.Next);
  case XmlStep::WhitespaceOrName:
    failure = scan_.Whitespace(p_, run, following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (run.Length != 0) {
      Take(run);
      return Emit(rule.Next);
    }
    return Name(rule.Alt, rule.Alt2 != 0 ? rule.Alt2 : -1);
  case XmlStep::WhitespaceName:
    failure = SkipWhitespace(following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    return Name(rule.Next, -1);
  default:
    Error();
    return XmlFailure::BadState;
  }
}

XmlFailure XmlLexer::Emit(INT32 kind) {
  token_.Start = start_;
  token_.ByteLength = static_cast<UINT64>(p_ - start_);
  token_.EncodingId = state_.EncodingId;
  token_.CharCount = count_;
  token_.Kind = kind;
  token_.Error = FALSE;
  return XmlFailure::None;
}

XmlFailure XmlLexer::Error(INT32 kind) {
  token_.Start = start_;
  token_.ByteLength = 0;
  token_.EncodingId = state_.EncodingId;
  token_.CharCount = 0;
  token_.Kind = kind;
  token_.Error = TRUE;
  return XmlFailure::None;
}

XmlFailure XmlLexer::Lookup(const XmlRun &name, const XmlKeywordState *table, UINTN entries,
                            INT32 &next) {
  next = -1;
  for (UINTN i = 0; i < entries; i++) {
    INT32 result;
    XmlFailure failure = scan_.Keyword(name, *table[i].Keyword, result);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (result == 0) {
      next = table[i].State;
      break;
    }
  }
  return XmlFailure::None;
}

XmlFailure XmlLexer::KeywordFrom(const XmlKeywordState *table, UINTN entries) {
  XmlRun name;
  XmlRun following;
  XmlFailure failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  INT32 next;
  failure = Lookup(name, table, entries, next);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (next < 0) {
    return Error();
  }
  Take(name);
  return Emit(next);
}

XmlFailure XmlLexer::Expect(UINT32 cls, INT32 kind) {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class != cls) {
    return Error();
  }
  Take(c);
  return Emit(kind);
}

XmlFailure XmlLexer::Name(INT32 kind, INT32 colonKind) {
  XmlRun name;
  XmlRun following;
  XmlFailure failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  Take(name);
  return Emit(colonKind >= 0 && following.Class == XmlClassColon ? colonKind : kind);
}

XmlFailure XmlLexer::SkipWhitespace(XmlRun &following) {
  XmlRun space;
  XmlFailure failure = scan_.Whitespace(p_, space, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  Take(space);
  return XmlFailure::None;
}

XmlFailure XmlLexer::RequiredWhitespace(INT32 kind) {
  XmlRun space;
  XmlRun following;
  XmlFailure failure = scan_.Whitespace(p_, space, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (space.Length == 0) {
    return Error();
  }
  Take(space);
  return Emit(kind);
}

// The opening quote is remembered as the last character read; the
// public-identifier scanner needs it.
XmlFailure XmlLexer::OpeningQuote(INT32 kind) {
  XmlRun c;
  XmlFailure failure = scan_.Char(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (!XmlIsQuote(c.Class)) {
    return Error();
  }
  state_.QuoteClass = c.Class;
  Take(c);
  return Emit(kind);
}

XmlFailure XmlLexer::Content() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class == XmlClassEnd) {
    Emit(XmlStateEndOfDocument);
    token_.Error = XmlIsEarlyEnd(state_.State);
    return XmlFailure::None;
  }
  if (c.Class != XmlClassLess) {
    XmlRun text;
    XmlRun following;
    failure = scan_.Text(p_, text, following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    Take(text);
    return Emit(XmlStateText);
  }
  Take(c);
  failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  INT32 result;
  XmlRun name;
  switch (c.Class) {
  case XmlClassSlash:
    Take(c);
    return Emit(XmlStateEndTagOpen);
  case XmlClassQuestion:
    Take(c);
    failure = scan_.MatchKeyword(p_, kXmlKeywordXml, name, result);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (result == 0) {
      Take(name);
      return Emit(XmlStateDeclarationOpen);
    }
    return Emit(XmlStateInstructionOpen);
  case XmlClassBang:
    Take(c);
    failure = scan_.Peek(p_, c);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (c.Class == XmlClassHyphen) {
      Take(c);
      return Expect(XmlClassHyphen, XmlStateCommentOpen);
    }
    if (c.Class == XmlClassLeftBracket) {
      Take(c);
      failure = scan_.MatchKeyword(p_, kXmlKeywordCdata, name, result);
      if (failure != XmlFailure::None) {
        return failure;
      }
      if (result != 0) {
        return Error();
      }
      Take(name);
      return Expect(XmlClassLeftBracket, XmlStateCdataOpen);
    }
    failure = scan_.MatchKeyword(p_, kXmlKeywordDoctype, name, result);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (result != 0) {
      return Error();
    }
    Take(name);
    return Emit(XmlStateDoctypeOpen);
  default:
    return Emit(XmlStateTagOpen);
  }
}

XmlFailure XmlLexer::ElementNameEnd() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  switch (c.Class) {
  case XmlClassSpace: {
    XmlRun following;
    failure = SkipWhitespace(following);
    if (failure != XmlFailure::None) {
      return failure;
    }
    return Emit(XmlStateTagSpace);
  }
  case XmlClassGreater:
    Take(c);
    return Emit(XmlStateStartTagClose);
  case XmlClassSlash:
    Take(c);
    return Expect(XmlClassGreater, XmlStateEmptyClose);
  default:
    return Error();
  }
}

XmlFailure XmlLexer::AttributePosition() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class == XmlClassSpace || c.Class == XmlClassGreater || c.Class == XmlClassSlash) {
    return ElementNameEnd();
  }
  XmlRun name;
  XmlRun following;
  failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  bool colon = following.Class == XmlClassColon;
  if (!colon && following.Class != XmlClassEquals && following.Class != XmlClassSpace) {
    return Error();
  }
  INT32 isXmlns;
  INT32 isXml;
  failure = scan_.Keyword(name, kXmlKeywordXmlns, isXmlns);
  if (failure != XmlFailure::None) {
    return failure;
  }
  failure = scan_.Keyword(name, kXmlKeywordXml, isXml);
  if (failure != XmlFailure::None) {
    return failure;
  }
  Take(name);
  if (isXmlns == 0) {
    return Emit(colon ? XmlStateXmlnsPrefixed : XmlStateXmlns);
  }
  if (isXml == 0) {
    return Emit(colon ? XmlStateXmlPrefix : XmlStateAttributeName);
  }
  return Emit(colon ? XmlStateAttributePrefix : XmlStateAttributeName);
}

// Looks from p_ for the characters of classes[0..n) in a row. at receives
// where they start, or where the scan for the first one ended; stop the
// class that ended it: classes[0] when found, XmlClassEnd or XmlClassNone
// (the scan ran off the end). count: the characters before at. Every
// character after a candidate first one is decoded before they are
// compared.
XmlFailure XmlLexer::FindSequence(const UINT32 *classes, UINTN n, const UINT8 *&at, UINT64 &count,
                                  UINT32 &stop) {
  XmlFailure failure;
  const UINT8 *q = p_;
  count = 0;
  for (;;) {
    XmlRun run;
    XmlRun first;
    failure = scan_.UntilClass(q, classes[0], run, first);
    if (failure != XmlFailure::None) {
      return failure;
    }
    count += run.Count;
    if (first.Class != classes[0]) {
      at = run.Start + run.Length;
      stop = first.Class;
      return XmlFailure::None;
    }
    bool match = true;
    XmlRun next = first;
    for (UINTN i = 1; i < n; i++) {
      failure = scan_.Peek(next.Start + next.Length, next);
      if (failure != XmlFailure::None) {
        return failure;
      }
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
XmlFailure XmlLexer::InstructionBody() {
  static constexpr UINT32 kEnd[] = {XmlClassQuestion, XmlClassGreater};
  UINT64 count;
  UINT32 stop;
  XmlFailure failure = FindSequence(kEnd, 2, p_, count, stop);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (stop != XmlClassQuestion) {
    return Error(XmlStateUnterminated);
  }
  count_ += count;
  return Emit(XmlStateInstructionBody);
}

// Everything up to the first "--", or to the end of input.
XmlFailure XmlLexer::CommentBody() {
  static constexpr UINT32 kEnd[] = {XmlClassHyphen, XmlClassHyphen};
  UINT64 count;
  UINT32 stop;
  XmlFailure failure = FindSequence(kEnd, 2, p_, count, stop);
  if (failure != XmlFailure::None) {
    return failure;
  }
  count_ += count;
  return Emit(XmlStateCommentBody);
}

// Everything up to the first "]]>". A body that ends in "]" characters at
// the end of input runs to the end; one whose scan runs off the end
// without meeting "]" is an error.
XmlFailure XmlLexer::CdataBody() {
  static constexpr UINT32 kEnd[] = {XmlClassRightBracket, XmlClassRightBracket, XmlClassGreater};
  UINT64 count;
  UINT32 stop;
  XmlFailure failure = FindSequence(kEnd, 3, p_, count, stop);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (stop == XmlClassEnd) {
    p_ = scan_.end();
  } else if (stop != XmlClassRightBracket) {
    return Error(XmlStateUnterminated);
  }
  count_ += count;
  return Emit(XmlStateCdataBody);
}

XmlFailure XmlLexer::DeclarationPosition() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class == XmlClassSpace) {
    return RequiredWhitespace(XmlStateDeclarationSpace);
  }
  if (c.Class == XmlClassQuestion) {
    return Apply(
        XmlSequenceRule(XmlClassQuestion, XmlClassGreater, XmlClassNone, XmlStateDeclarationClose));
  }
  // A pseudo-attribute only after whitespace.
  if (state_.State != XmlStateDeclarationSpace) {
    return Error();
  }
  XmlRun name;
  XmlRun following;
  failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  INT32 next;
  failure = Lookup(name, kXmlDeclarationNames, 3, next);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (next < 0) {
    return Error();
  }
  Take(name);
  return Emit(next);
}

// The value must end with its quote before the input does.
XmlFailure XmlLexer::PseudoValue() {
  XmlRun run;
  XmlRun quote;
  XmlFailure failure = scan_.UntilClass(p_, state_.QuoteClass, run, quote);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (quote.Class != state_.QuoteClass) {
    return Error();
  }
  Take(run);
  return Emit(XmlStatePseudoValue);
}

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
  XmlFailure failure;
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Callback == nullptr || State->Decoder == nullptr || State->Position < State->InputStart ||
      State->Position > State->InputEnd) {
    return XmlFailure::InvalidParameter;
  }
  for (;;) {
    XmlToken token;
    failure = XmlLexer(*State, token).Next();
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (!Callback(Context, token)) {
      return XmlFailure::None;
    }
    if (State->TrackPosition) {
      failure = XmlCommitToken(State, &token);
      if (failure != XmlFailure::None) {
        return failure;
      }
    } else {
      State->Position = token.Start + token.ByteLength;
      State->State = token.Kind;
    }
  }
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
  XmlFailure failure = XmlLexer(*State, *Token).Next();
  if (failure != XmlFailure::None) {
    Token->Error = TRUE;
    return failure;
  }
  if (Commit) {
    return XmlCommitToken(State, Token);
  }
  return XmlFailure::None;
}
