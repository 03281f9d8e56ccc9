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
  XML_TRY(scan_.Peek(p_, c));
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
    XML_TRY(scan_.Peek(p_, c));
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
  XML_TRY(scan_.Peek(p_, c));
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
  XML_TRY(SkipWhitespace(following));
  if (following.Class == XmlClassLeftParen) {
    return Expect(XmlClassLeftParen, XmlStateEnumerationOpen);
  }
  return KeywordFrom(kAttributeTypes, 9);
}

XmlFailure XmlLexer::DefaultDeclaration() {
  XmlRun following;
  XML_TRY(SkipWhitespace(following));
  if (following.Class == XmlClassHash) {
    XmlRun hash;
    XML_TRY(scan_.Peek(p_, hash));
    Take(hash);
    return KeywordFrom(kDefaultDeclarations, 3);
  }
  return OpeningQuote(XmlStateDefaultQuote);
}

XmlFailure XmlLexer::DefaultValueEnd() {
  XmlRun c;
  XML_TRY(scan_.Peek(p_, c));
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
  XML_TRY(SkipWhitespace(following));
  if (following.Class == XmlClassPercent) {
    XmlRun percent;
    XML_TRY(scan_.Peek(p_, percent));
    Take(percent);
    return Emit(XmlStateParameterEntity);
  }
  XmlRun name;
  XML_TRY(scan_.Name(p_, name, following));
  if (name.Class != XmlClassOther) {
    return Error();
  }
  return Emit(XmlStateGeneralEntity);
}

XmlFailure XmlLexer::EntityDefinition() {
  XmlRun following;
  XML_TRY(SkipWhitespace(following));
  if (XmlIsQuote(following.Class)) {
    return OpeningQuote(XmlStateEntityValueQuote);
  }
  XmlRun name;
  XML_TRY(scan_.Name(p_, name, following));
  if (name.Class != XmlClassOther) {
    return Error();
  }
  INT32 result;
  XML_TRY(scan_.Keyword(name, kXmlKeywordSystem, result));
  if (result == 0) {
    Take(name);
    return Emit(XmlStateEntitySystem);
  }
  XML_TRY(scan_.Keyword(name, kXmlKeywordPublic, result));
  if (result != 0) {
    return Error();
  }
  Take(name);
  XML_TRY(SkipWhitespace(following));
  return Emit(XmlStateEntityPublic);
}

XmlFailure XmlLexer::AfterSystemLiteral() {
  XmlRun following;
  XML_TRY(SkipWhitespace(following));
  if (following.Class == XmlClassGreater) {
    return Expect(XmlClassGreater, XmlStateEntityDeclClose);
  }
  XmlRun name;
  XML_TRY(scan_.Name(p_, name, following));
  INT32 result = -1;
  if (name.Class == XmlClassOther) {
    XML_TRY(scan_.Keyword(name, kXmlKeywordNdata, result));
  }
  if (result != 0) {
    return Error();
  }
  Take(name);
  return Emit(XmlStateNdata);
}

XmlFailure XmlLexer::PublicIdentifier() {
  XmlRun run;
  XML_TRY(scan_.PubidChars(p_, run));
  Take(run);
  return Emit(XmlStatePublicId);
}
