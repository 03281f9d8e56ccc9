// Follows the tokens of a leading XML declaration to its encoding name.
#include "XmlDeclarationCheck.h"

bool XmlDeclarationCheck::Token(const XmlToken &token) {
  if (first_) {
    first_ = false;
    return !token.Error && token.Kind == XmlStateDeclarationOpen;
  }
  if (!token.Error && token.Kind == XmlStateDeclarationClose) {
    end_ = token.Start + token.ByteLength;
    return false;
  }
  if (token.Error || token.Kind == XmlStateUnterminated || token.Kind == XmlStateEndOfDocument) {
    return false;
  }
  if (token.Kind == XmlStatePseudoEncoding) {
    encodingNamed_ = true;
    return true;
  }
  if (token.Kind != XmlStatePseudoValue || !encodingNamed_) {
    return true;
  }
  encodingNamed_ = false;
  declared_ = {XmlClassOther, token.Start, token.ByteLength, token.EncodingId, token.CharCount};
  bool accepted = false;
  if (!Accepted(declared_, accepted)) {
    return false;
  }
  mismatch_ = !accepted;
  return accepted;
}

// False when the comparison itself fails: the main parse meets that again.
bool XmlDeclarationCheck::Accepted(const XmlRun &name, bool &accepted) {
  for (UINTN i = 0; i < row_.NameCount; i++) {
    INT32 result = 1;
    if (copy_.KeywordCompare(&copy_, &name, row_.Names[i], &result, XmlToUpper) !=
        XmlFailure::None) {
      return false;
    }
    if (result == 0) {
      accepted = true;
      return true;
    }
  }
  accepted = false;
  return true;
}
