// The document type declaration (XML 1.0 section 2.8) and its internal
// subset: element, attribute-list, entity and notation declarations. Read
// to get past it; none of its tokens reaches the tree, and no entity is
// ever expanded.
#include "XmlLexer.h"

namespace {

struct DoctypeRules {
  XmlRule Rule[XmlStateCount - kXmlFirstDoctypeState];
};

constexpr DoctypeRules MakeDoctypeRules() {
  DoctypeRules rules{};
  auto r = [&rules](INT32 state) -> XmlRule & { return rules.Rule[state - kXmlFirstDoctypeState]; };
  for (INT32 state = kXmlFirstDoctypeState; state < XmlStateCount; state++) {
    if (XmlIsContentState(state)) {
      r(state) = XmlStepRule(XmlStep::Content);
    }
  }
  r(XmlStateDoctypeOpen) = XmlRuleOf(XmlStep::RequiredWhitespace, XmlStateDoctypeSpace);
  r(XmlStateDoctypeSpace) = XmlWhitespaceOrNameRule(XmlStateDoctypeSpace, XmlStateDoctypeName, 0);
  r(XmlStateDoctypeName) = XmlUntilRule(XmlClassGreater, XmlStateExternalId, XmlClassLeftBracket);
  r(XmlStateExternalId) =
      XmlChoiceRule(XmlClassGreater, XmlStateDoctypeClose, XmlClassLeftBracket, XmlStateSubsetOpen);
  // The internal subset, after "[" and after each declaration in it.
  const INT32 subset[] = {XmlStateSubsetOpen,   XmlStateSubsetSpace,     XmlStateElementDeclClose,
                          XmlStateAttlistClose, XmlStateEntityDeclClose, XmlStateNotationDeclClose};
  for (INT32 state : subset) {
    r(state) = XmlStepRule(XmlStep::InternalSubset);
  }
  r(XmlStateSubsetClose) = XmlWhitespaceThenRule(XmlClassGreater, XmlStateDoctypeClose);
  r(XmlStateElementDeclOpen) = XmlUntilRule(XmlClassGreater, XmlStateElementDeclBody);
  r(XmlStateElementDeclBody) = XmlExpectRule(XmlClassGreater, XmlStateElementDeclClose);
  r(XmlStateNotationDeclOpen) = XmlUntilRule(XmlClassGreater, XmlStateNotationDeclBody);
  r(XmlStateNotationDeclBody) = XmlExpectRule(XmlClassGreater, XmlStateNotationDeclClose);
  // Attribute-list declarations.
  r(XmlStateAttlistOpen) = XmlWhitespaceOrNameRule(XmlStateAttlistOpen, XmlStateAttlistElement,
                                                   XmlStateAttlistElementPrefix);
  r(XmlStateAttlistElementPrefix) = XmlExpectRule(XmlClassColon, XmlStateAttlistElementColon);
  r(XmlStateAttlistElementColon) = XmlNameRule(XmlStateAttlistElement);
  const INT32 definitions[] = {XmlStateAttlistElement, XmlStateAttlistSpace,
                               XmlStateDefaultRequired, XmlStateDefaultImplied, XmlStateDefaultEnd};
  for (INT32 state : definitions) {
    r(state) = XmlStepRule(XmlStep::AttributeDefinition);
  }
  r(XmlStateAttdefPrefix) = XmlExpectRule(XmlClassColon, XmlStateAttdefColon);
  r(XmlStateAttdefColon) = XmlNameRule(XmlStateAttdefName);
  r(XmlStateAttdefName) = XmlStepRule(XmlStep::AttributeType);
  r(XmlStateEnumerationOpen) = XmlUntilRule(XmlClassRightParen, XmlStateEnumerationBody);
  r(XmlStateEnumerationBody) = XmlExpectRule(XmlClassRightParen, XmlStateEnumerationClose);
  r(XmlStateTypeNotation) = XmlWhitespaceThenRule(XmlClassLeftParen, XmlStateEnumerationOpen);
  const INT32 types[] = {XmlStateTypeCdata,   XmlStateTypeId,       XmlStateTypeIdref,
                         XmlStateTypeIdrefs,  XmlStateTypeEntity,   XmlStateTypeEntities,
                         XmlStateTypeNmtoken, XmlStateTypeNmtokens, XmlStateEnumerationClose};
  for (INT32 state : types) {
    r(state) = XmlStepRule(XmlStep::DefaultDeclaration);
  }
  r(XmlStateDefaultFixed) = XmlQuoteRule(XmlStateDefaultQuote);
  r(XmlStateDefaultQuote) = XmlUntilRule(kXmlLiteralQuote, XmlStateDefaultValue);
  r(XmlStateDefaultValue) = XmlStepRule(XmlStep::DefaultValueEnd);
  // Entity declarations.
  r(XmlStateEntityDeclOpen) = XmlStepRule(XmlStep::EntityStart);
  r(XmlStateParameterEntity) = XmlRuleOf(XmlStep::WhitespaceName, XmlStateEntityName);
  r(XmlStateGeneralEntity) = XmlRuleOf(XmlStep::WhitespaceName, XmlStateEntityName);
  r(XmlStateEntityName) = XmlStepRule(XmlStep::EntityDefinition);
  r(XmlStateEntitySystem) = XmlQuoteRule(XmlStateSystemLiteralQuote);
  r(XmlStateSystemLiteralQuote) = XmlUntilRule(kXmlLiteralQuote, XmlStateSystemLiteral);
  r(XmlStateSystemLiteral) = XmlExpectRule(kXmlLiteralQuote, XmlStateSystemLiteralEnd);
  r(XmlStateSystemLiteralEnd) = XmlStepRule(XmlStep::AfterSystemLiteral);
  r(XmlStateNdata) = XmlRuleOf(XmlStep::WhitespaceName, XmlStateNdataName);
  r(XmlStateNdataName) = XmlWhitespaceThenRule(XmlClassGreater, XmlStateEntityDeclClose);
  r(XmlStateEntityValueQuote) = XmlUntilRule(kXmlLiteralQuote, XmlStateEntityValue);
  r(XmlStateEntityValue) = XmlExpectRule(kXmlLiteralQuote, XmlStateEntityValueEnd);
  r(XmlStateEntityValueEnd) = XmlWhitespaceThenRule(XmlClassGreater, XmlStateEntityDeclClose);
  r(XmlStateEntityPublic) = XmlRuleOf(XmlStep::OpeningQuote, XmlStatePublicIdQuote);
  r(XmlStatePublicIdQuote) = XmlStepRule(XmlStep::PublicIdentifier);
  r(XmlStatePublicId) = XmlExpectRule(kXmlLiteralQuote, XmlStatePublicIdEnd);
  r(XmlStatePublicIdEnd) = XmlQuoteRule(XmlStateSystemLiteralQuote);
  return rules;
}

constexpr DoctypeRules kDoctypeRules = MakeDoctypeRules();

constexpr XmlKeywordState kSubsetDeclarations[] = {
    {&kXmlKeywordEntity, XmlStateEntityDeclOpen},
    {&kXmlKeywordElement, XmlStateElementDeclOpen},
    {&kXmlKeywordAttlist, XmlStateAttlistOpen},
    {&kXmlKeywordNotation, XmlStateNotationDeclOpen}};
constexpr XmlKeywordState kAttributeTypes[] = {
    {&kXmlKeywordCdata, XmlStateTypeCdata},      {&kXmlKeywordId, XmlStateTypeId},
    {&kXmlKeywordIdref, XmlStateTypeIdref},      {&kXmlKeywordIdrefs, XmlStateTypeIdrefs},
    {&kXmlKeywordEntity, XmlStateTypeEntity},    {&kXmlKeywordEntities, XmlStateTypeEntities},
    {&kXmlKeywordNmtoken, XmlStateTypeNmtoken},  {&kXmlKeywordNmtokens, XmlStateTypeNmtokens},
    {&kXmlKeywordNotation, XmlStateTypeNotation}};
constexpr XmlKeywordState kDefaultDeclarations[] = {{&kXmlKeywordRequired, XmlStateDefaultRequired},
                                                    {&kXmlKeywordImplied, XmlStateDefaultImplied},
                                                    {&kXmlKeywordFixed, XmlStateDefaultFixed}};

} // namespace

XmlFailure XmlLexer::NextInDoctype() {
  const XmlRule &rule = kDoctypeRules.Rule[state_.State - kXmlFirstDoctypeState];
  switch (rule.Step) {
  case XmlStep::InternalSubset:
    return InternalSubset();
  case XmlStep::AttributeDefinition:
    return AttributeDefinition();
  case XmlStep::AttributeType:
    return AttributeType();
  case XmlStep::DefaultDeclaration:
    return DefaultDeclaration();
  case XmlStep::DefaultValueEnd:
    return DefaultValueEnd();
  case XmlStep::EntityStart:
    return EntityStart();
  case XmlStep::EntityDefinition:
    return EntityDefinition();
  case XmlStep::AfterSystemLiteral:
    return AfterSystemLiteral();
  case XmlStep::PublicIdentifier:
    return PublicIdentifier();
  default:
    return Apply(rule);
  }
}

XmlFailure XmlLexer::InternalSubset() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  switch (c.Class) {
  case XmlClassSpace:
    return RequiredWhitespace(XmlStateSubsetSpace);
  case XmlClassRightBracket:
    Take(c);
    return Emit(XmlStateSubsetClose);
  case XmlClassPercent:
    // Parameter-entity references would need entity expansion.
    Error();
    return XmlFailure::NotImplemented;
  case XmlClassLess:
    Take(c);
    failure = scan_.Peek(p_, c);
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (c.Class != XmlClassBang) {
      return Error();
    }
    Take(c);
    return KeywordFrom(kSubsetDeclarations, 4);
  default:
    return Error();
  }
}

XmlFailure XmlLexer::AttributeDefinition() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class == XmlClassSpace) {
    return RequiredWhitespace(XmlStateAttlistSpace);
  }
  if (c.Class == XmlClassGreater) {
    Take(c);
    return Emit(XmlStateAttlistClose);
  }
  return Name(XmlStateAttdefName, XmlStateAttdefPrefix);
}

XmlFailure XmlLexer::AttributeType() {
  XmlRun following;
  XmlFailure failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (following.Class == XmlClassLeftParen) {
    return Expect(XmlClassLeftParen, XmlStateEnumerationOpen);
  }
  return KeywordFrom(kAttributeTypes, 9);
}

XmlFailure XmlLexer::DefaultDeclaration() {
  XmlRun following;
  XmlFailure failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (following.Class == XmlClassHash) {
    XmlRun hash;
    failure = scan_.Peek(p_, hash);
    if (failure != XmlFailure::None) {
      return failure;
    }
    Take(hash);
    return KeywordFrom(kDefaultDeclarations, 3);
  }
  return OpeningQuote(XmlStateDefaultQuote);
}

XmlFailure XmlLexer::DefaultValueEnd() {
  XmlRun c;
  XmlFailure failure = scan_.Peek(p_, c);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (c.Class != state_.QuoteClass) {
    Error();
    return XmlFailure::UnterminatedLiteral;
  }
  Take(c);
  return Emit(XmlStateDefaultEnd);
}

// "%" for a parameter entity; otherwise the whitespace before the name.
XmlFailure XmlLexer::EntityStart() {
  XmlRun following;
  XmlFailure failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (following.Class == XmlClassPercent) {
    XmlRun percent;
    failure = scan_.Peek(p_, percent);
    if (failure != XmlFailure::None) {
      return failure;
    }
    Take(percent);
    return Emit(XmlStateParameterEntity);
  }
  XmlRun name;
  failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  return Emit(XmlStateGeneralEntity);
}

XmlFailure XmlLexer::EntityDefinition() {
  XmlRun following;
  XmlFailure failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (XmlIsQuote(following.Class)) {
    return OpeningQuote(XmlStateEntityValueQuote);
  }
  XmlRun name;
  failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (name.Class != XmlClassOther) {
    return Error();
  }
  INT32 result;
  failure = scan_.Keyword(name, kXmlKeywordSystem, result);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (result == 0) {
    Take(name);
    return Emit(XmlStateEntitySystem);
  }
  failure = scan_.Keyword(name, kXmlKeywordPublic, result);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (result != 0) {
    return Error();
  }
  Take(name);
  failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  return Emit(XmlStateEntityPublic);
}

XmlFailure XmlLexer::AfterSystemLiteral() {
  XmlRun following;
  XmlFailure failure = SkipWhitespace(following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  if (following.Class == XmlClassGreater) {
    return Expect(XmlClassGreater, XmlStateEntityDeclClose);
  }
  XmlRun name;
  failure = scan_.Name(p_, name, following);
  if (failure != XmlFailure::None) {
    return failure;
  }
  INT32 result = -1;
  if (name.Class == XmlClassOther) {
    failure = scan_.Keyword(name, kXmlKeywordNdata, result);
    if (failure != XmlFailure::None) {
      return failure;
    }
  }
  if (result != 0) {
    return Error();
  }
  Take(name);
  return Emit(XmlStateNdata);
}

XmlFailure XmlLexer::PublicIdentifier() {
  XmlRun run;
  XmlFailure failure = scan_.PubidChars(p_, run);
  if (failure != XmlFailure::None) {
    return failure;
  }
  Take(run);
  return Emit(XmlStatePublicId);
}
