// The rules of the states outside the document type declaration: one
// table, read by the general tokenizer (XmlTokenizer.cpp) and by the fast
// path for plain ASCII markup (XmlFastPath.h).
#ifndef ZELM_XML_RULES_H_
#define ZELM_XML_RULES_H_

#include "XmlLexer.h"

struct XmlMarkupRules {
  XmlRule Rule[kXmlFirstDoctypeState];
};

// States without a rule here keep BadState.
constexpr XmlMarkupRules XmlMakeMarkupRules() {
  XmlMarkupRules rules{};
  XmlRule *r = rules.Rule;
  for (INT32 state = 0; state < kXmlFirstDoctypeState; state++) {
    if (XmlIsContentState(state)) {
      r[state] = XmlStepRule(XmlStep::Content);
    }
  }
  r[XmlStateEndOfDocument] = XmlStepRule(XmlStep::EndOfDocument);
  // Start tags.
  r[XmlStateTagOpen] = XmlNameRule(XmlStateElementName, XmlStateElementPrefix);
  r[XmlStateElementPrefix] = XmlExpectRule(XmlClassColon, XmlStateElementColon);
  r[XmlStateElementColon] = XmlNameRule(XmlStateElementName);
  r[XmlStateElementName] = XmlStepRule(XmlStep::ElementNameEnd);
  r[XmlStateTagSpace] = XmlStepRule(XmlStep::AttributePosition);
  r[XmlStateAttributeEnd] = XmlStepRule(XmlStep::AttributePosition);
  r[XmlStateNamespaceEnd] = XmlStepRule(XmlStep::AttributePosition);
  r[XmlStateXmlAttributeEnd] = XmlStepRule(XmlStep::AttributePosition);
  // Attributes.
  r[XmlStateAttributePrefix] = XmlExpectRule(XmlClassColon, XmlStateAttributeColon);
  r[XmlStateAttributeColon] = XmlNameRule(XmlStateAttributeName);
  r[XmlStateAttributeName] = XmlWhitespaceThenRule(XmlClassEquals, XmlStateAttributeEquals);
  r[XmlStateAttributeEquals] = XmlQuoteRule(XmlStateAttributeQuote);
  r[XmlStateAttributeQuote] = XmlUntilRule(kXmlLiteralQuote, XmlStateAttributeValue);
  r[XmlStateAttributeValue] = XmlExpectRule(kXmlLiteralQuote, XmlStateAttributeEnd);
  // Namespace declarations.
  r[XmlStateXmlnsPrefixed] = XmlExpectRule(XmlClassColon, XmlStateXmlnsColon);
  r[XmlStateXmlnsColon] = XmlNameRule(XmlStateNamespacePrefix);
  r[XmlStateXmlns] = XmlWhitespaceThenRule(XmlClassEquals, XmlStateNamespaceEquals);
  r[XmlStateNamespacePrefix] = XmlWhitespaceThenRule(XmlClassEquals, XmlStateNamespaceEquals);
  r[XmlStateNamespaceEquals] = XmlQuoteRule(XmlStateNamespaceQuote);
  r[XmlStateNamespaceQuote] = XmlUntilRule(kXmlLiteralQuote, XmlStateNamespaceValue);
  r[XmlStateNamespaceValue] = XmlExpectRule(kXmlLiteralQuote, XmlStateNamespaceEnd);
  // Attributes with the "xml" prefix.
  r[XmlStateXmlPrefix] = XmlExpectRule(XmlClassColon, XmlStateXmlColon);
  r[XmlStateXmlColon] = XmlNameRule(XmlStateXmlAttributeName);
  r[XmlStateXmlAttributeName] = XmlWhitespaceThenRule(XmlClassEquals, XmlStateXmlAttributeEquals);
  r[XmlStateXmlAttributeEquals] = XmlQuoteRule(XmlStateXmlAttributeQuote);
  r[XmlStateXmlAttributeQuote] = XmlUntilRule(kXmlLiteralQuote, XmlStateXmlAttributeValue);
  r[XmlStateXmlAttributeValue] = XmlExpectRule(kXmlLiteralQuote, XmlStateXmlAttributeEnd);
  // End tags.
  r[XmlStateEndTagOpen] = XmlNameRule(XmlStateEndTagName, XmlStateEndTagPrefix);
  r[XmlStateEndTagPrefix] = XmlExpectRule(XmlClassColon, XmlStateEndTagColon);
  r[XmlStateEndTagColon] = XmlNameRule(XmlStateEndTagName);
  r[XmlStateEndTagName] = XmlWhitespaceThenRule(XmlClassGreater, XmlStateEndTagClose);
  // Processing instructions.
  r[XmlStateInstructionOpen] = XmlNameRule(XmlStateInstructionTarget);
  r[XmlStateInstructionTarget] = XmlStepRule(XmlStep::InstructionTarget);
  r[XmlStateInstructionSpace] = XmlStepRule(XmlStep::InstructionBody);
  r[XmlStateInstructionBody] =
      XmlSequenceRule(XmlClassQuestion, XmlClassGreater, XmlClassNone, XmlStateInstructionClose);
  // Comments and CDATA sections.
  r[XmlStateCommentOpen] = XmlStepRule(XmlStep::CommentBody);
  r[XmlStateCommentBody] =
      XmlSequenceRule(XmlClassHyphen, XmlClassHyphen, XmlClassGreater, XmlStateCommentClose);
  r[XmlStateCdataOpen] = XmlStepRule(XmlStep::CdataBody);
  r[XmlStateCdataBody] = XmlSequenceRule(XmlClassRightBracket, XmlClassRightBracket,
                                         XmlClassGreater, XmlStateCdataClose);
  // The XML declaration.
  r[XmlStateDeclarationOpen] = XmlRuleOf(XmlStep::RequiredWhitespace, XmlStateDeclarationSpace);
  r[XmlStateDeclarationSpace] = XmlStepRule(XmlStep::DeclarationPosition);
  r[XmlStatePseudoEnd] = XmlStepRule(XmlStep::DeclarationPosition);
  r[XmlStatePseudoEncoding] = XmlWhitespaceThenRule(XmlClassEquals, XmlStatePseudoEquals);
  r[XmlStatePseudoStandalone] = XmlWhitespaceThenRule(XmlClassEquals, XmlStatePseudoEquals);
  r[XmlStatePseudoVersion] = XmlWhitespaceThenRule(XmlClassEquals, XmlStatePseudoEquals);
  r[XmlStatePseudoEquals] = XmlQuoteRule(XmlStatePseudoQuote);
  r[XmlStatePseudoQuote] = XmlStepRule(XmlStep::PseudoValue);
  r[XmlStatePseudoValue] = XmlExpectRule(kXmlLiteralQuote, XmlStatePseudoEnd);
  return rules;
}

inline constexpr XmlMarkupRules kXmlMarkupRules = XmlMakeMarkupRules();

inline constexpr XmlKeywordState kXmlDeclarationNames[] = {
    {&kXmlKeywordEncoding, XmlStatePseudoEncoding},
    {&kXmlKeywordVersion, XmlStatePseudoVersion},
    {&kXmlKeywordStandalone, XmlStatePseudoStandalone}};

#endif
