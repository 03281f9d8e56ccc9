// Encoding detection (XML 1.0 Appendix F): the table row that the first
// bytes select, then the declared encoding checked on a copy of the state.
#include "XmlDeclarationCheck.h"

namespace {

const XmlEncodingRow &RowOf(const XmlTokenizerState &state) {
  for (const XmlEncodingRow &candidate : kXmlEncodingTable) {
    if (candidate.SignatureLength <= state.InputLength &&
        XmlBytesEqual(state.InputStart, candidate.Signature, candidate.SignatureLength)) {
      return candidate;
    }
  }
  return kXmlEncodingTable[0];
}

} // namespace

XmlFailure XmlDetectEncoding(XmlTokenizerState *State, UINTN *PrefixLength) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (PrefixLength == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  const XmlEncodingRow &row = RowOf(*State);
  State->Decoder = row.Decoder;
  State->EncodingId = row.EncodingId;
  *PrefixLength = row.SkipLength;

  // Read the declaration on a copy so that the real position stays put.
  XmlTokenizerState copy = *State;
  copy.Position = State->InputStart + row.SkipLength;
  copy.State = kXmlInitialState;
  copy.TrackPosition = FALSE;
  XmlDeclarationCheck check(copy, row);
  for (;;) {
    XmlToken token;
    // A failure here is met again, and reported, by the main parse.
    if (XmlNextToken(&copy, &token, TRUE) != XmlFailure::None) {
      return XmlFailure::None;
    }
    if (check.Token(token)) {
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
