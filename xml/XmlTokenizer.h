// The tokenizer: a state machine whose state number is also the kind of the
// token just produced, and the scanners it reads characters with. Tokens are
// positions and lengths into the input; nothing is copied.
#ifndef ZELM_XML_TOKENIZER_H_
#define ZELM_XML_TOKENIZER_H_

#include "XmlInput.h"
#include "XmlStates.h"

// A run of characters that a scanner found. A run at the end of input has
// class 3, its start at the input end, length 0 and count 0.
struct XmlRun {
  UINT32 Class;
  const UINT8 *Start;
  UINT64 Length; // bytes
  UINT32 EncodingId;
  UINT64 Count; // characters
};

struct XmlToken {
  const UINT8 *Start;
  UINT64 ByteLength;
  UINT32 EncodingId;
  UINT64 CharCount;
  INT32 Kind; // the state entered after this token
  BOOLEAN Error;
};

struct XmlTokenizerState;

using XmlFoldFunction = UINT32 (*)(UINT32 CodePoint);
using XmlRunCompare = XmlFailure (*)(XmlTokenizerState *State, const XmlRun *A, const XmlRun *B,
                                     INT32 *Result);
using XmlKeywordCompare = XmlFailure (*)(XmlTokenizerState *State, const XmlRun *Run,
                                         const XmlKeyword *Keyword, INT32 *Result,
                                         XmlFoldFunction Fold);
// May return a decoder to use instead of the detected one.
using XmlEncodingMismatch = XmlDecoder (*)(XmlTokenizerState *State, const XmlRun *DeclaredName);

struct XmlInputDescriptor {
  UINT32 Size; // 56
  const UINT8 *Text;
  UINT32 Length;
  BOOLEAN TrackPosition;
  VOID *ReservedHook;
  XmlRunCompare RunCompare;         // NULL: XmlCompareRuns
  XmlKeywordCompare KeywordCompare; // NULL: XmlCompareKeyword
  XmlEncodingMismatch EncodingMismatch;
};
static_assert(sizeof(XmlInputDescriptor) == 56, "descriptor size handed to the tokenizer");

struct XmlTokenizerState {
  const UINT8 *InputStart;
  UINT64 InputLength;
  VOID *Reserved;
  const UINT8 *InputEnd;
  const UINT8 *Position;
  XmlDecoder Decoder;
  UINT32 EncodingId;
  XmlRun LastChar;
  INT32 State;
  XmlRunCompare RunCompare;
  XmlEncodingMismatch EncodingMismatch;
  XmlKeywordCompare KeywordCompare;
  VOID *ReservedHook;
  UINT32 QuoteClass; // 9 or 10 while a literal is read
  BOOLEAN TrackPosition;
  UINT32 Line;   // 1-based, in characters
  UINT32 Column; // 1-based, in characters
};

// Fills the state from the descriptor: position at the start, line and
// column 1, state 3, UTF-8 until detection. NullState/InvalidParameter for
// missing arguments or a descriptor of another size.
[[nodiscard]] XmlFailure XmlTokenizerInit(XmlTokenizerState *State,
                                          const XmlInputDescriptor *Descriptor);

// Chooses the decoder from the encoding table and reports the byte-order
// mark length in *PrefixLength; checks the declared encoding, if any, on a
// copy of the state. UnknownEncoding: a declared encoding the row does not
// accept (and no handler gave a decoder).
[[nodiscard]] XmlFailure XmlDetectEncoding(XmlTokenizerState *State, UINTN *PrefixLength);
// The same, telling where a leading declaration that the check read
// whole, with the detected decoder, ends (just past its "?>"; null for
// none): a parse that reads it exactly so may go on from there.
[[nodiscard]] XmlFailure XmlDetectEncodingWith(XmlTokenizerState *State, UINTN *PrefixLength,
                                               const UINT8 **DeclarationEnd);

// Produces the token at the current position; commits it when Commit is set.
// Returns a scanner's failure, NotImplemented for a parameter-entity
// reference, UnterminatedLiteral, BadState for a state without rules.
[[nodiscard]] XmlFailure XmlNextToken(XmlTokenizerState *State, XmlToken *Token, BOOLEAN Commit);

// Moves past the token, counts lines and columns when tracking, and enters
// the token's kind. BadState for a token outside the input.
[[nodiscard]] XmlFailure XmlCommitToken(XmlTokenizerState *State, const XmlToken *Token);

// Handed each token before it is committed; returns false to stop.
using XmlTokenCallback = bool (*)(VOID *Context, const XmlToken &Token);

// Runs the tokenizer from the current position: each token goes to
// Callback, then is committed, until Callback returns false (None) or the
// tokenizer fails (that failure). Tokens with the error flag and the
// end-of-document token reach Callback like any other.
[[nodiscard]] XmlFailure XmlRunTokenizer(XmlTokenizerState *State, XmlTokenCallback Callback,
                                         VOID *Context);

// ---- Scanners --------------------------------------------------------------
// Each reads from At (a position inside the input) with the state's decoder;
// none moves the state's position. Each returns None or the decoder's
// failure. The end of input shows as an end run, not a failure.

// One character; also remembered as the state's last character read.
[[nodiscard]] XmlFailure XmlScanChar(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run);
// Whitespace run (class 13, possibly empty) and the character after it.
[[nodiscard]] XmlFailure XmlScanWhitespace(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run,
                                           XmlRun *Following);
// Characters up to the next "<" (Following, class 7) or the end.
[[nodiscard]] XmlFailure XmlScanText(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run,
                                     XmlRun *Following);
// The next Count characters, one run each; end runs past the end.
[[nodiscard]] XmlFailure XmlScanChars(XmlTokenizerState *State, const UINT8 *At, XmlRun *Runs,
                                      UINTN Count);
// A name (kind 12), or kind 0 and length 0 with Following describing the
// character that cannot start one.
[[nodiscard]] XmlFailure XmlScanName(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run,
                                     XmlRun *Following);
// Characters up to the next ">" or "[".
[[nodiscard]] XmlFailure XmlScanToMarkupEnd(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run);
// Public-identifier characters (XML 1.0 production [13]).
[[nodiscard]] XmlFailure XmlScanPubidChars(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run);
// Characters up to the first of Class (Following). Following has class 3
// when the scan starts at the end, class 0 when it runs off the end.
[[nodiscard]] XmlFailure XmlScanUntilClass(XmlTokenizerState *State, const UINT8 *At, XmlRun *Run,
                                           UINT32 Class, XmlRun *Following);
// Scans a name and compares it with the keyword; *Result -1 without a name.
[[nodiscard]] XmlFailure XmlMatchKeyword(XmlTokenizerState *State, const UINT8 *At,
                                         const XmlKeyword *Keyword, XmlRun *Run, INT32 *Result);

// Default keyword comparison: the run's characters against the keyword's
// UTF-16 units, both folded when Fold is given. *Result 0 when equal.
// Reads only within the run and the keyword. InvalidParameter for a folded
// keyword unit above FFFF.
[[nodiscard]] XmlFailure XmlCompareKeyword(XmlTokenizerState *State, const XmlRun *Run,
                                           const XmlKeyword *Keyword, INT32 *Result,
                                           XmlFoldFunction Fold);

// Default run comparison: byte-wise for equal lengths, else the shorter is
// the lesser. InvalidParameter for an encoding id outside 1..5.
[[nodiscard]] XmlFailure XmlCompareRuns(XmlTokenizerState *State, const XmlRun *A, const XmlRun *B,
                                        INT32 *Result);

#endif
