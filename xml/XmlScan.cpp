// The scanners as callable functions, and the default run and keyword
// comparisons.
#include "XmlScan.h"

namespace {

bool InInput(const XmlTokenizerState *state, const UINT8 *at) {
  return at != nullptr && at >= state->InputStart && at <= state->InputEnd;
}

// Runs body with a scanner over the state.
template <typename Body>
XmlFailure WithScanner(XmlTokenizerState *state, const UINT8 *at, Body body) {
  if (state == nullptr) {
    return XmlFailure::NullState;
  }
  if (!InInput(state, at) || state->Decoder == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlScanner scanner(*state);
  return body(scanner);
}

} // namespace

XmlFailure XmlScanChar(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  return WithScanner(State, At, [&](auto &scanner) { return scanner.Char(At, *Run); });
}

XmlFailure XmlScanWhitespace(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run,
                             XmlRun *Following) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlRun ignored;
  XmlRun &following = Following != nullptr ? *Following : ignored;
  return WithScanner(State, At,
                     [&](auto &scanner) { return scanner.Whitespace(At, *Run, following); });
}

XmlFailure XmlScanText(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run, XmlRun *Following) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlRun ignored;
  XmlRun &following = Following != nullptr ? *Following : ignored;
  return WithScanner(State, At, [&](auto &scanner) { return scanner.Text(At, *Run, following); });
}

XmlFailure XmlScanChars(XmlTokenizerState *State, const UINT8 *At, XmlRun *Runs, UINTN Count) {
  if (Runs == nullptr && Count != 0) {
    return XmlFailure::InvalidParameter;
  }
  return WithScanner(State, At, [&](auto &scanner) {
    const UINT8 *p = At;
    for (UINTN i = 0; i < Count; i++) {
      XmlFailure failure = scanner.Peek(p, Runs[i]);
      if (failure != XmlFailure::None) {
        return failure;
      }
      p += Runs[i].Length;
    }
    return XmlFailure::None;
  });
}

XmlFailure XmlScanName(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run, XmlRun *Following) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlRun ignored;
  XmlRun &following = Following != nullptr ? *Following : ignored;
  return WithScanner(State, At, [&](auto &scanner) { return scanner.Name(At, *Run, following); });
}

XmlFailure XmlScanToMarkupEnd(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlRun following;
  return WithScanner(State, At, [&](auto &scanner) {
    return scanner.UntilClass(At, XmlClassGreater, *Run, following, XmlClassLeftBracket);
  });
}

XmlFailure XmlScanPubidChars(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  return WithScanner(State, At, [&](auto &scanner) { return scanner.PubidChars(At, *Run); });
}

XmlFailure XmlScanUntilClass(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run, UINT32 Class,
                             XmlRun *Following) {
  if (Run == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  XmlRun ignored;
  XmlRun &following = Following != nullptr ? *Following : ignored;
  return WithScanner(State, At,
                     [&](auto &scanner) { return scanner.UntilClass(At, Class, *Run, following); });
}

XmlFailure XmlMatchKeyword(XmlTokenizerState *State, const UINT8 *At, const XmlKeyword *Keyword,
                           XmlRun *Run, INT32 *Result) {
  if (Keyword == nullptr || Run == nullptr || Result == nullptr) {
    return XmlFailure::InvalidParameter;
  }
  return WithScanner(
      State, At, [&](auto &scanner) { return scanner.MatchKeyword(At, *Keyword, *Run, *Result); });
}

XmlFailure XmlCompareKeyword(XmlTokenizerState *State, const XmlRun *Run, const XmlKeyword *Keyword,
                             INT32 *Result, XmlFoldFunction Fold) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (Run == nullptr || Keyword == nullptr || Result == nullptr || State->Decoder == nullptr ||
      (Keyword->Text == nullptr && Keyword->ByteLength != 0)) {
    return XmlFailure::InvalidParameter;
  }
  // The run must lie inside the input; decoding stops at the run's end and
  // the keyword is read only up to its length.
  if (!InInput(State, Run->Start) ||
      Run->Length > static_cast<UINT64>(State->InputEnd - Run->Start)) {
    return XmlFailure::InvalidParameter;
  }
  const UINT8 *p = Run->Start;
  const UINT8 *end = Run->Start + Run->Length;
  UINT64 units = Keyword->ByteLength / 2;
  UINT64 i = 0;
  while (p < end && i < units) {
    XmlChar c = State->Decoder(p, end);
    if (c.Failure != XmlFailure::None) {
      return c.Failure;
    }
    UINT32 a = static_cast<UINT32>(c.Code);
    UINT32 b = Keyword->Text[i];
    if (Fold != nullptr) {
      a = Fold(a);
      b = Fold(b);
      if (b > 0xFFFF) {
        return XmlFailure::InvalidParameter;
      }
    }
    if (a != b) {
      *Result = a > b ? 1 : -1;
      return XmlFailure::None;
    }
    p = c.Next;
    i++;
  }
  if (p == end && i == units) {
    *Result = 0;
  } else {
    *Result = i < units ? 1 : -1;
  }
  return XmlFailure::None;
}

XmlFailure XmlCompareRuns(XmlTokenizerState *State, const XmlRun *A, const XmlRun *B,
                          INT32 *Result) {
  if (State == nullptr) {
    return XmlFailure::NullState;
  }
  if (A == nullptr || B == nullptr || Result == nullptr || State->EncodingId < XmlEncodingUcs4Le ||
      State->EncodingId > XmlEncodingUtf8) {
    return XmlFailure::InvalidParameter;
  }
  if (A->Length != B->Length) {
    *Result = A->Length < B->Length ? -1 : 1;
    return XmlFailure::None;
  }
  INT32 result = 0;
  for (UINT64 i = 0; i < A->Length && result == 0; i++) {
    if (A->Start[i] != B->Start[i]) {
      result = A->Start[i] < B->Start[i] ? -1 : 1;
    }
  }
  *Result = result;
  return XmlFailure::None;
}
