// The tokenizer's rules: for each state one rule, a step and its
// arguments, read from a table. XmlRules.h holds the rules of the content,
// the tags, the declaration, comments, CDATA sections and processing
// instructions, XmlTokenizer.cpp the steps, XmlDoctype.cpp the rules and
// steps of the document type declaration.
#ifndef ZELM_XML_LEXER_H_
#define ZELM_XML_LEXER_H_

#include "XmlScan.h"

// What a state does with the characters at the position.
enum class XmlStep : UINT8 {
  BadState, // no rule: the tokenizer fails
  Content,  // text, or the markup that a "<" opens
  EndOfDocument,
  // Shared steps; Next is the kind of the token made, Alt a second one.
  Name,                // a name: Next, or Alt (when set) before a colon
  Expect,              // one character of class A: Next
  Choice,              // one character of class A: Next; of class B: Alt
  Sequence,            // characters of classes A, B, C in a row (C may be none)
  Until,               // characters up to one of class A (or B, when set)
  WhitespaceThen,      // optional whitespace and a character of class A
  WhitespaceThenQuote, // optional whitespace and an opening quote
  OpeningQuote,        // an opening quote, remembered for the literal
  RequiredWhitespace,
  WhitespaceOrName, // whitespace: Next; else a name: Alt, or Alt2 before a colon
  WhitespaceName,   // optional whitespace and a name
  // Steps of one state group each.
  ElementNameEnd,
  AttributePosition,
  InstructionTarget,
  InstructionBody,
  CommentBody,
  CdataBody,
  DeclarationPosition,
  PseudoValue,
  InternalSubset,
  AttributeDefinition,
  AttributeType,
  DefaultDeclaration,
  DefaultValueEnd,
  EntityStart,
  EntityDefinition,
  AfterSystemLiteral,
  PublicIdentifier,
};

// Stands for the quote that opened the literal being read.
constexpr UINT8 kXmlLiteralQuote = 0xFF;

struct XmlRule {
  XmlStep Step;
  UINT8 Next;
  UINT8 Alt;
  UINT8 Alt2;
  UINT8 A; // character classes (XmlClass), kXmlLiteralQuote or none
  UINT8 B;
  UINT8 C;
};

static_assert(XmlStateCount <= 0xFF, "states fit the rules' bytes");

// Rules as the tables write them.
constexpr XmlRule XmlStepRule(XmlStep step) {
  return {step, 0, 0, 0, XmlClassNone, XmlClassNone, XmlClassNone};
}
constexpr XmlRule XmlRuleOf(XmlStep step, INT32 next, INT32 alt = 0, UINT32 a = XmlClassNone,
                            UINT32 b = XmlClassNone, UINT32 c = XmlClassNone) {
  return {step,
          static_cast<UINT8>(next),
          static_cast<UINT8>(alt),
          0,
          static_cast<UINT8>(a),
          static_cast<UINT8>(b),
          static_cast<UINT8>(c)};
}
// A name: next, or colonNext (when given) before a colon.
constexpr XmlRule XmlNameRule(INT32 next, INT32 colonNext = 0) {
  return XmlRuleOf(XmlStep::Name, next, colonNext);
}
constexpr XmlRule XmlExpectRule(UINT32 cls, INT32 next) {
  return XmlRuleOf(XmlStep::Expect, next, 0, cls);
}
// One character: of class a, next; of class b, alt.
constexpr XmlRule XmlChoiceRule(UINT32 a, INT32 next, UINT32 b, INT32 alt) {
  return XmlRuleOf(XmlStep::Choice, next, alt, a, b);
}
constexpr XmlRule XmlSequenceRule(UINT32 a, UINT32 b, UINT32 c, INT32 next) {
  return XmlRuleOf(XmlStep::Sequence, next, 0, a, b, c);
}
constexpr XmlRule XmlUntilRule(UINT32 cls, INT32 next, UINT32 other = XmlClassNone) {
  return XmlRuleOf(XmlStep::Until, next, 0, cls, other);
}
constexpr XmlRule XmlWhitespaceThenRule(UINT32 cls, INT32 next) {
  return XmlRuleOf(XmlStep::WhitespaceThen, next, 0, cls);
}
constexpr XmlRule XmlQuoteRule(INT32 next) {
  return XmlRuleOf(XmlStep::WhitespaceThenQuote, next);
}
constexpr XmlRule XmlWhitespaceOrNameRule(INT32 spaceNext, INT32 nameNext, INT32 colonNext) {
  XmlRule rule = XmlRuleOf(XmlStep::WhitespaceOrName, spaceNext, nameNext);
  rule.Alt2 = static_cast<UINT8>(colonNext);
  return rule;
}

// One call makes one token from the state's position; the position itself
// stays (committing moves it).
class XmlLexer {
public:
  XmlLexer(XmlTokenizerState &state, XmlToken &token)
      : state_(state), scan_(state), token_(token), start_(state.Position), p_(state.Position) {}

  XmlFailure Next();

  // The shared steps (XmlTokenizer.cpp).
  XmlFailure Apply(const XmlRule &rule);
  XmlFailure Emit(INT32 kind);
  XmlFailure Error(INT32 kind = XmlStateError);
  VOID Take(const XmlRun &run) {
    p_ = run.Start + run.Length;
    count_ += run.Count;
  }
  XmlFailure Expect(UINT32 cls, INT32 kind);
  XmlFailure Name(INT32 kind, INT32 colonKind);
  XmlFailure OpeningQuote(INT32 kind);
  XmlFailure RequiredWhitespace(INT32 kind);
  XmlFailure SkipWhitespace(XmlRun &following);
  // The state that a name leads to through a keyword table, or -1.
  XmlFailure Lookup(const XmlRun &name, const XmlKeywordState *table, UINTN entries, INT32 &next);
  // A name that must be one of the table's keywords.
  XmlFailure KeywordFrom(const XmlKeywordState *table, UINTN entries);

  // The states of the document type declaration (XmlDoctype.cpp).
  XmlFailure NextInDoctype();

  XmlTokenizerState &state_;
  XmlScanner scan_;
  XmlToken &token_;
  const UINT8 *start_;
  const UINT8 *p_;
  UINT64 count_ = 0;

private:
  UINT32 ClassOf(UINT8 cls) const { return cls == kXmlLiteralQuote ? state_.QuoteClass : cls; }
  XmlFailure Content();
  XmlFailure ElementNameEnd();
  XmlFailure AttributePosition();
  XmlFailure FindSequence(const UINT32 *classes, UINTN n, const UINT8 *&at, UINT64 &count,
                          UINT32 &stop);
  XmlFailure InstructionBody();
  XmlFailure CommentBody();
  XmlFailure CdataBody();
  XmlFailure DeclarationPosition();
  XmlFailure PseudoValue();
  // Doctype steps (XmlDoctype.cpp).
  XmlFailure InternalSubset();
  XmlFailure AttributeDefinition();
  XmlFailure AttributeType();
  XmlFailure DefaultDeclaration();
  XmlFailure DefaultValueEnd();
  XmlFailure EntityStart();
  XmlFailure EntityDefinition();
  XmlFailure AfterSystemLiteral();
  XmlFailure PublicIdentifier();
};

inline bool XmlIsQuote(UINT32 cls) {
  return cls == XmlClassApostrophe || cls == XmlClassQuote;
}

#endif
