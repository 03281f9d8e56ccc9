// The check of the encoding that a leading XML declaration names against
// the encodings the detected table row accepts (XML 1.0 section 4.3.3).
#ifndef ZELM_XML_DECLARATION_CHECK_H_
#define ZELM_XML_DECLARATION_CHECK_H_

#include "XmlTokenizer.h"

// Fed the committed tokens from the start of the document. Stops (Token
// returns false) at the end of the declaration, at anything that is not
// one, and at a declared name that is not accepted (mismatch()).
class XmlDeclarationCheck {
public:
  XmlDeclarationCheck(XmlTokenizerState &copy, const XmlEncodingRow &row)
      : copy_(copy), row_(row) {}

  bool Token(const XmlToken &token);

  bool mismatch() const { return mismatch_; }
  const XmlRun &declared() const { return declared_; }
  // Just past the declaration's "?>" once its tokens were all read; null
  // before.
  const UINT8 *end() const { return end_; }

  // Reading goes on after the mismatch handler gave another decoder.
  VOID Resume() { mismatch_ = false; }

private:
  bool Accepted(const XmlRun &name, bool &accepted);

  XmlTokenizerState &copy_;
  const XmlEncodingRow &row_;
  XmlRun declared_ = {};
  const UINT8 *end_ = nullptr;
  bool first_ = true;
  bool encodingNamed_ = false;
  bool mismatch_ = false;
};

#endif
