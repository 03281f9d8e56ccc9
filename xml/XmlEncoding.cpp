// Encoding detection (XML 1.0 Appendix F): the table row that the first
// bytes select, then the declared encoding checked on a copy of the state.
#include "XmlDeclarationCheck.h"
#include "XmlFastPath.h"

namespace {

// The declaration check as the fast path's sink: it sees every token.
struct CheckSink {
  static constexpr UINT64 kKinds = ~0ULL;
  static constexpr bool kTreeOnly = false;
  XmlDeclarationCheck &check;
  bool ReactInside(const XmlToken &token) { return check.Token(token); }
  bool OpenName(const CHAR8 *&, UINTN &) const { return false; }
};

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
  return XmlDetectEncodingWith(State, PrefixLength, nullptr);
}

XmlFailure XmlDetectEncodingWith(XmlTokenizerState *State, UINTN *PrefixLength,
                                 const UINT8 **DeclarationEnd) {
  if (DeclarationEnd != nullptr) {
    *DeclarationEnd = nullptr;
  }
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
  bool replaced = false;
  // Built for size, the general tokenizer alone reads the declaration.
  for (;;) {
    bool fast = xml_fast::kBuilt && copy.Decoder == XmlDecodeUtf8 &&
                copy.KeywordCompare == XmlCompareKeyword;
    CheckSink sink{check};
    bool going = !fast || xml_fast::Reader<CheckSink>(copy, sink).Run();
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
      // Read from the start with one decoder, the declaration need not be
      // read again.
      if (DeclarationEnd != nullptr && !replaced) {
        *DeclarationEnd = check.end();
      }
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
    replaced = true;
    check.Resume();
  }
}
