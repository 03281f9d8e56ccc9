// Every state of the tokenizer, which is also the kind of the token that
// leads into it. The general tokenizer's rules, the tree builder and the
// declaration check all name states from here; no state is a bare number.
#ifndef ZELM_XML_STATES_H_
#define ZELM_XML_STATES_H_

#include "XmlInternal.h"

// Plain (unscoped) so that a state converts to the INT32 that tokens and
// the tokenizer state carry.
enum XmlState : INT32 {
  XmlStateError = 0,        // kind of a token that does not fit the grammar
  XmlStateUnterminated = 1, // a processing instruction or CDATA section the input cut off
  XmlStateText = 2,         // character data up to the next "<" or the end
  XmlStateStart = 3,        // the start of the document
  XmlStateEndOfDocument = 4,

  // Start tags.
  XmlStateTagOpen = 5,        // "<"
  XmlStateElementName = 6,    // the element name (its local part)
  XmlStateElementPrefix = 22, // a prefix before ":"
  XmlStateElementColon = 23,  // ":"
  XmlStateTagSpace = 33,      // whitespace inside a tag
  XmlStateStartTagClose = 26, // ">"
  XmlStateEmptyClose = 27,    // "/>"
  // Attributes.
  XmlStateAttributeName = 28, // the attribute name (its local part)
  XmlStateAttributePrefix = 24,
  XmlStateAttributeColon = 25,
  XmlStateAttributeEquals = 29,
  XmlStateAttributeQuote = 31, // the opening quote
  XmlStateAttributeValue = 30, // the characters between the quotes
  XmlStateAttributeEnd = 32,   // the closing quote
  // Namespace declarations: "xmlns" or "xmlns:" and a prefix.
  XmlStateXmlns = 8,
  XmlStateXmlnsPrefixed = 7, // "xmlns" before ":"
  XmlStateXmlnsColon = 10,
  XmlStateNamespacePrefix = 9,
  XmlStateNamespaceEquals = 11,
  XmlStateNamespaceQuote = 12,
  XmlStateNamespaceValue = 14,
  XmlStateNamespaceEnd = 13,
  // Attributes with the "xml" prefix.
  XmlStateXmlPrefix = 15,
  XmlStateXmlColon = 16,
  XmlStateXmlAttributeName = 17,
  XmlStateXmlAttributeEquals = 18,
  XmlStateXmlAttributeQuote = 19,
  XmlStateXmlAttributeValue = 20,
  XmlStateXmlAttributeEnd = 21,

  // End tags.
  XmlStateEndTagOpen = 34,   // "</"
  XmlStateEndTagName = 35,   // the name (its local part)
  XmlStateEndTagPrefix = 38, // a prefix before ":"
  XmlStateEndTagColon = 39,
  XmlStateEndTagClose = 37, // optional whitespace and ">"

  // Processing instructions.
  XmlStateInstructionOpen = 40,   // "<?"
  XmlStateInstructionTarget = 42, // its name
  XmlStateInstructionSpace = 44,
  XmlStateInstructionBody = 43, // up to the first "?>"
  XmlStateInstructionClose = 41,

  // Comments and CDATA sections.
  XmlStateCommentOpen = 45, // "<!--"
  XmlStateCommentBody = 46, // up to the first "--"
  XmlStateCommentClose = 47,
  XmlStateCdataOpen = 48, // "<![CDATA["
  XmlStateCdataBody = 49, // up to the first "]]>"
  XmlStateCdataClose = 50,

  // The XML declaration and its pseudo-attributes.
  XmlStateDeclarationOpen = 51, // "<?xml"
  XmlStateDeclarationSpace = 53,
  XmlStatePseudoEncoding = 55, // the names "encoding", "standalone", "version"
  XmlStatePseudoStandalone = 56,
  XmlStatePseudoVersion = 57,
  XmlStatePseudoEquals = 54,
  XmlStatePseudoQuote = 58,
  XmlStatePseudoValue = 59,
  XmlStatePseudoEnd = 60,
  XmlStateDeclarationClose = 52, // "?>"

  // The document type declaration (XmlDoctype.cpp).
  XmlStateDoctypeOpen = 64, // "<!DOCTYPE"
  XmlStateDoctypeSpace = 65,
  XmlStateDoctypeName = 66,
  XmlStateExternalId = 67, // up to ">" or "[", unchecked
  XmlStateDoctypeClose = 71,
  // The internal subset.
  XmlStateSubsetOpen = 68, // "["
  XmlStateSubsetSpace = 69,
  XmlStateSubsetClose = 70, // "]"
  XmlStateElementDeclOpen = 72,
  XmlStateElementDeclBody = 73,
  XmlStateElementDeclClose = 74,
  XmlStateNotationDeclOpen = 120,
  XmlStateNotationDeclBody = 121,
  XmlStateNotationDeclClose = 122,
  // Attribute-list declarations.
  XmlStateAttlistOpen = 75,
  XmlStateAttlistElement = 76,
  XmlStateAttlistElementPrefix = 77,
  XmlStateAttlistElementColon = 78,
  XmlStateAttlistSpace = 79,
  XmlStateAttdefName = 80,
  XmlStateAttdefPrefix = 81,
  XmlStateAttdefColon = 82,
  XmlStateTypeCdata = 83,
  XmlStateTypeId = 84,
  XmlStateTypeIdref = 85,
  XmlStateTypeIdrefs = 86,
  XmlStateTypeEntity = 87,
  XmlStateTypeEntities = 88,
  XmlStateTypeNmtoken = 89,
  XmlStateTypeNmtokens = 90,
  XmlStateTypeNotation = 94,
  XmlStateEnumerationOpen = 91, // "("
  XmlStateEnumerationBody = 92,
  XmlStateEnumerationClose = 93, // ")"
  XmlStateDefaultRequired = 95,
  XmlStateDefaultImplied = 96,
  XmlStateDefaultFixed = 97,
  XmlStateDefaultQuote = 98,
  XmlStateDefaultValue = 99,
  XmlStateDefaultEnd = 100,
  XmlStateAttlistClose = 101,
  // Entity declarations.
  XmlStateEntityDeclOpen = 102,
  XmlStateParameterEntity = 104, // "%"
  XmlStateGeneralEntity = 105,   // whitespace before the name
  XmlStateEntityName = 103,
  XmlStateEntitySystem = 106,
  XmlStateEntityPublic = 110, // "PUBLIC" and the whitespace after it
  XmlStatePublicIdQuote = 111,
  XmlStatePublicId = 112,
  XmlStatePublicIdEnd = 113,
  XmlStateSystemLiteralQuote = 107,
  XmlStateSystemLiteral = 108,
  XmlStateSystemLiteralEnd = 109,
  XmlStateNdata = 114,
  XmlStateNdataName = 115,
  XmlStateEntityValueQuote = 116,
  XmlStateEntityValue = 117,
  XmlStateEntityValueEnd = 118,
  XmlStateEntityDeclClose = 119,

  XmlStateCount = 123, // states are below this
};

constexpr INT32 kXmlInitialState = XmlStateStart;

// The first state of the document type declaration: every state from here
// up belongs to it, the content state after it included.
constexpr INT32 kXmlFirstDoctypeState = XmlStateDoctypeOpen;

// States in which content follows: after text, at the start, after a start
// tag, an empty-element tag, an end tag, a processing instruction, a
// comment, a CDATA section, the declaration and the document type.
constexpr bool XmlIsContentState(INT32 state) {
  switch (state) {
  case XmlStateText:
  case XmlStateStart:
  case XmlStateStartTagClose:
  case XmlStateEmptyClose:
  case XmlStateEndTagClose:
  case XmlStateInstructionClose:
  case XmlStateCommentClose:
  case XmlStateCdataClose:
  case XmlStateDeclarationClose:
  case XmlStateDoctypeClose:
    return true;
  default:
    return false;
  }
}

// Content states where the end of input is a syntax error: nothing but the
// start, a declaration or a document type was read.
constexpr bool XmlIsEarlyEnd(INT32 state) {
  return state == XmlStateStart || state == XmlStateDeclarationClose ||
         state == XmlStateDoctypeClose;
}

// The kinds the tree builder reacts to: the eight that carry the document,
// and the declaration's opening, which tells where the declaration starts.
constexpr UINT64 kXmlTreeKinds =
    1ULL << XmlStateText | 1ULL << XmlStateEndOfDocument | 1ULL << XmlStateElementName |
    1ULL << XmlStateEmptyClose | 1ULL << XmlStateAttributeName | 1ULL << XmlStateAttributeValue |
    1ULL << XmlStateEndTagName | 1ULL << XmlStateDeclarationClose | 1ULL << XmlStateDeclarationOpen;

constexpr bool XmlIsTreeKind(INT32 kind) {
  return kind >= 0 && kind < 64 && ((kXmlTreeKinds >> kind) & 1) != 0;
}

#endif
