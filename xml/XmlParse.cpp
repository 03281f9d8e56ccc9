// The tree builder: runs the tokenizer over the input and reacts to the
// eight token kinds that carry the document's elements, attributes, text and
// declaration. Lenient by design: packet code checks the structure itself.
#include "XmlFastPath.h"

namespace {

// Names, attribute values and end-tag names must stay below this many bytes.
constexpr UINT64 kNameBufferSize = 260;

// Bytes of a token's text up to its first NUL; tokens of UTF-8 input have
// none (the decoder refuses the byte 00).
UINTN TextLength(const UINT8 *text, UINTN length, bool plain) {
  return plain ? length : XmlLengthToNul(text, length);
}

// Bytes trimmed from both ends of element text: NUL and whitespace.
struct TrimTable {
  bool Trimmed[256];
};

constexpr TrimTable MakeTrimTable() {
  TrimTable table{};
  table.Trimmed[0] = true;
  for (UINT32 c = 1; c < 128; c++) {
    table.Trimmed[c] = kXmlAscii.Classes[c] == XmlClassSpace;
  }
  return table;
}

constexpr TrimTable kTrim = MakeTrimTable();

bool IsTrimmed(UINT8 c) {
  return kTrim.Trimmed[c];
}

EFI_STATUS StatusOfFailure(XmlFailure failure) {
  switch (failure) {
  case XmlFailure::EndOfInput:
  case XmlFailure::InvalidSequence:
  case XmlFailure::UnterminatedLiteral:
    return EFI_INVALID_PARAMETER;
  case XmlFailure::NotImplemented:
  case XmlFailure::UnknownEncoding:
    return EFI_UNSUPPORTED;
  default:
    return EFI_DEVICE_ERROR;
  }
}

// Everything a parse has built; released on every exit unless handed out.
//
// An element's record is made once its text is known (at its end tag, its
// first child or its first attribute), so that name and text share one pool
// block; until then the element is pending: its name and text are ranges of
// the input, which outlives the parse.
class TreeBuilder {
public:
  TreeBuilder() = default;
  TreeBuilder(const TreeBuilder &) = delete;
  TreeBuilder &operator=(const TreeBuilder &) = delete;

  ~TreeBuilder() {
    if (root_ != nullptr) {
      (VOID) XmlFreeTree(&root_);
    }
    ReleaseDetached();
    XmlPoolFree(declaration_);
  }

  bool elementSeen() const { return elementSeen_; }

  // Hands the tree to the caller; a pending element is made first.
  [[nodiscard]] EFI_STATUS Release(XmlNode **root) {
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    *root = root_;
    root_ = nullptr;
    return EFI_SUCCESS;
  }

  [[nodiscard]] EFI_STATUS Declaration(const UINT8 *documentStart, const XmlToken &token) {
    // Only a declaration at the very start of the document is the
    // document's own (XML 1.0 production [23]); it is copied exactly, from
    // its "<" through "?>", whatever characters and lines it spans.
    if (!declarationAtStart_ || declarationTaken_) {
      return EFI_SUCCESS;
    }
    return DeclarationThrough(documentStart, token.Start + token.ByteLength);
  }

  // The declaration at the start, from its "<" to end, read whole.
  [[nodiscard]] EFI_STATUS DeclarationThrough(const UINT8 *documentStart, const UINT8 *end) {
    declarationTaken_ = true;
    UINTN length = static_cast<UINTN>(end - documentStart);
    declaration_ = XmlCopyString(reinterpret_cast<const CHAR8 *>(documentStart), length);
    return declaration_ == nullptr ? EFI_OUT_OF_RESOURCES : EFI_SUCCESS;
  }

  // The first token opens a declaration.
  VOID DeclarationAtStart() { declarationAtStart_ = true; }

  [[nodiscard]] EFI_STATUS StartElement(const XmlToken &token, bool plain) {
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    if (token.ByteLength >= kNameBufferSize) {
      return EFI_BUFFER_TOO_SMALL;
    }
    pending_ = true;
    pendingName_ = reinterpret_cast<const CHAR8 *>(token.Start);
    pendingNameLength_ = TextLength(token.Start, token.ByteLength, plain);
    pendingText_ = nullptr;
    pendingTextLength_ = 0;
    elementSeen_ = true;
    return EFI_SUCCESS;
  }

  // Inside an element, open or pending.
  bool Inside() const { return pending_ || current_ != nullptr; }

  [[nodiscard]] EFI_STATUS Text(const XmlToken &token, bool plain) {
    if (!Inside()) {
      return EFI_SUCCESS;
    }
    const UINT8 *start = token.Start;
    const UINT8 *end = token.Start + token.ByteLength;
    Trim(start, end);
    if (start == end) {
      return EFI_SUCCESS;
    }
    // An element keeps its last piece of text.
    UINTN length = TextLength(start, static_cast<UINTN>(end - start), plain);
    if (pending_) {
      pendingText_ = reinterpret_cast<const CHAR8 *>(start);
      pendingTextLength_ = length;
      return EFI_SUCCESS;
    }
    CHAR8 *value = XmlCopyString(reinterpret_cast<const CHAR8 *>(start), length);
    if (value == nullptr) {
      return EFI_OUT_OF_RESOURCES;
    }
    XmlReplaceValue(current_, value);
    return EFI_SUCCESS;
  }

  [[nodiscard]] EFI_STATUS AttributeName(const XmlToken &token, bool plain) {
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    if (token.ByteLength >= kNameBufferSize) {
      return EFI_BUFFER_TOO_SMALL;
    }
    attributeName_ = reinterpret_cast<const CHAR8 *>(token.Start);
    attributeNameLength_ = TextLength(token.Start, token.ByteLength, plain);
    return EFI_SUCCESS;
  }

  [[nodiscard]] EFI_STATUS AttributeValue(const XmlToken &token, bool plain) {
    if (token.ByteLength >= kNameBufferSize) {
      return EFI_BUFFER_TOO_SMALL;
    }
    if (current_ == nullptr) {
      return EFI_SUCCESS;
    }
    UINTN length = TextLength(token.Start, token.ByteLength, plain);
    return XmlAddAttributeBytes(current_, attributeName_, attributeNameLength_,
                                reinterpret_cast<const CHAR8 *>(token.Start), length);
  }

  // The name of the element an end tag must close, if any.
  bool OpenName(const CHAR8 *&name, UINTN &length) const {
    if (pending_) {
      name = pendingName_;
      length = pendingNameLength_;
      return true;
    }
    if (current_ != nullptr) {
      name = current_->Name;
      length = XmlNameLength(current_);
      return true;
    }
    return false;
  }

  [[nodiscard]] EFI_STATUS EndElement(const XmlToken &token, bool plain) {
    // A pending element's name is still at hand in the input.
    const CHAR8 *open = pending_ ? pendingName_ : nullptr;
    UINTN openLength = pendingNameLength_;
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    if (token.ByteLength >= kNameBufferSize) {
      return EFI_BUFFER_TOO_SMALL;
    }
    if (current_ == nullptr) {
      return EFI_SUCCESS;
    }
    if (open == nullptr) {
      open = current_->Name;
      openLength = XmlNameLength(current_);
    }
    UINTN length = TextLength(token.Start, token.ByteLength, plain);
    if (openLength != length || !XmlBytesEqual(open, token.Start, length)) {
      return EFI_INVALID_PARAMETER;
    }
    Close();
    return EFI_SUCCESS;
  }

  // An element inside the open one that holds only text (UTF-8, so
  // without NUL), made and closed at once as its tokens would.
  [[nodiscard]] EFI_STATUS Leaf(const UINT8 *name, UINTN nameLength, const UINT8 *text,
                                UINTN textLength) {
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    const UINT8 *end = text + textLength;
    Trim(text, end);
    return XmlCreateNode(current_, reinterpret_cast<const CHAR8 *>(name), nameLength,
                         reinterpret_cast<const CHAR8 *>(text), static_cast<UINTN>(end - text),
                         true, nullptr);
  }

  [[nodiscard]] EFI_STATUS EmptyElementClose() {
    EFI_STATUS status = MakePending();
    if (EFI_ERROR(status)) {
      return status;
    }
    if (current_ != nullptr) {
      Close();
    }
    return EFI_SUCCESS;
  }

private:
  static VOID Trim(const UINT8 *&start, const UINT8 *&end) {
    while (start < end && IsTrimmed(*start)) {
      start++;
    }
    while (end > start && IsTrimmed(end[-1])) {
      end--;
    }
  }

  // Makes the pending element's record and makes it the current element.
  [[nodiscard]] EFI_STATUS MakePending() {
    if (!pending_) {
      return EFI_SUCCESS;
    }
    pending_ = false;
    XmlNode *node;
    EFI_STATUS status = XmlCreateNode(current_, pendingName_, pendingNameLength_, pendingText_,
                                      pendingTextLength_, true, &node);
    if (EFI_ERROR(status)) {
      return status;
    }
    if (root_ == nullptr) {
      root_ = node;
      root_->XmlDeclaration = declaration_;
      declaration_ = nullptr;
    } else if (current_ == nullptr) {
      // A second top-level element is parsed like the first but kept apart
      // and released as soon as it closes.
      detached_ = node;
    }
    current_ = node;
    return EFI_SUCCESS;
  }

  VOID Close() {
    XmlNode *closed = current_;
    current_ = closed->ParentNode;
    if (current_ == nullptr && closed == detached_) {
      ReleaseDetached();
    }
  }

  VOID ReleaseDetached() {
    if (detached_ != nullptr) {
      (VOID) XmlFreeTree(&detached_);
    }
  }

  XmlNode *root_ = nullptr;
  XmlNode *detached_ = nullptr;
  XmlNode *current_ = nullptr;
  CHAR8 *declaration_ = nullptr;
  const CHAR8 *attributeName_ = nullptr;
  UINTN attributeNameLength_ = 0;
  const CHAR8 *pendingName_ = nullptr;
  UINTN pendingNameLength_ = 0;
  const CHAR8 *pendingText_ = nullptr;
  UINTN pendingTextLength_ = 0;
  bool pending_ = false;
  bool elementSeen_ = false;
  bool declarationAtStart_ = false;
  bool declarationTaken_ = false;
};

// The tree builder's loop: reacts to each token before it is committed.
struct ParseRun {
  ParseRun(const UINT8 *start, UINTN inputLength, bool plainInput)
      : documentStart(start), length(inputLength), plain(plainInput) {}

  static bool OnToken(VOID *context, const XmlToken &token) {
    return static_cast<ParseRun *>(context)->React(token);
  }

  bool OpenName(const CHAR8 *&name, UINTN &length) const { return builder.OpenName(name, length); }

  // The fast path hands over only the tokens the builder reacts to.
  static constexpr UINT64 kKinds = kXmlTreeKinds;
  // Text trimmed to nothing leaves the tree as it is; elements of text
  // alone may come whole.
  static constexpr bool kTreeOnly = true;

  // The root, and an element named too long for the builder, go token by
  // token: their tokens carry the checks.
  xml_fast::LeafOutcome Leaf(const UINT8 *name, UINTN nameLength, const UINT8 *text,
                             UINTN textLength) {
    if (!builder.Inside() || nameLength >= kNameBufferSize) {
      return xml_fast::LeafOutcome::Declined;
    }
    status = builder.Leaf(name, nameLength, text, textLength);
    return EFI_ERROR(status) ? xml_fast::LeafOutcome::Stopped : xml_fast::LeafOutcome::Taken;
  }

  // False ends the parse; status then tells how.
  XML_HOT_INLINE bool React(const XmlToken &token) {
    if (token.Error) {
      return false;
    }
    // The byte-order mark is not counted, so with one the count never
    // reaches the length and the end-of-document token ends the loop.
    if (static_cast<UINTN>(token.Start + token.ByteLength - documentStart) >= length) {
      if (!builder.elementSeen()) {
        status = EFI_INVALID_PARAMETER;
      }
      return false;
    }
    return ReactInside(token);
  }

  // A token without the error flag that ends before the input does.
  XML_HOT_INLINE bool ReactInside(const XmlToken &token) {
    if (!XmlIsTreeKind(token.Kind)) {
      return true;
    }
    switch (token.Kind) {
    case XmlStateDeclarationOpen:
      if (token.Start == documentStart) {
        builder.DeclarationAtStart();
      }
      break;
    case XmlStateDeclarationClose:
      status = builder.Declaration(documentStart, token);
      break;
    case XmlStateElementName:
      status = builder.StartElement(token, plain);
      break;
    case XmlStateText:
      status = builder.Text(token, plain);
      break;
    case XmlStateAttributeName:
      status = builder.AttributeName(token, plain);
      break;
    case XmlStateAttributeValue:
      status = builder.AttributeValue(token, plain);
      break;
    case XmlStateEndTagName:
      status = builder.EndElement(token, plain);
      break;
    case XmlStateEmptyClose:
      status = builder.EmptyElementClose();
      break;
    case XmlStateEndOfDocument:
      return false;
    default:
      break;
    }
    return !EFI_ERROR(status);
  }

  TreeBuilder builder;
  EFI_STATUS status = EFI_SUCCESS;
  const UINT8 *documentStart; // where the first token starts
  UINTN length;
  bool plain; // no token holds a NUL
};

// The fast path makes the tokens of plain ASCII markup and hands each other
// one to the general tokenizer. The position moves without the checks of
// XmlCommitToken: every token lies inside the input.
XmlFailure RunParse(XmlTokenizerState &state, ParseRun &run, bool fast) {
  for (;;) {
    if (fast && !xml_fast::Reader<ParseRun>(state, run).Run()) {
      return XmlFailure::None;
    }
    XmlToken token;
    XmlFailure failure = XmlLexer(state, token).Next();
    if (failure != XmlFailure::None) {
      return failure;
    }
    if (!run.React(token)) {
      return XmlFailure::None;
    }
    state.Position = token.Start + token.ByteLength;
    state.State = token.Kind;
  }
}

} // namespace

EFI_STATUS XmlParse(const CHAR8 *Text, UINTN Length, XmlNode **Root) {
  return XmlParseWith(Text, Length, Root, false);
}

EFI_STATUS XmlParseWith(const CHAR8 *Text, UINTN Length, XmlNode **Root, bool generalOnly) {
  if (Root == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Root = nullptr;
  if (Text == nullptr || Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  // The tokenizer counts the input in 32 bits.
  if (Length > 0xFFFFFFFFULL) {
    return EFI_INVALID_PARAMETER;
  }
  XmlInputDescriptor descriptor = {};
  descriptor.Size = sizeof(descriptor);
  descriptor.Text = reinterpret_cast<const UINT8 *>(Text);
  descriptor.Length = static_cast<UINT32>(Length);
  // Line and column numbers serve diagnostics only; the tree needs none.
  descriptor.TrackPosition = FALSE;
  XmlTokenizerState state;
  XmlFailure failure = XmlTokenizerInit(&state, &descriptor);
  UINTN prefixLength = 0;
  const UINT8 *declarationEnd = nullptr;
  if (failure == XmlFailure::None) {
    failure = XmlDetectEncodingWith(&state, &prefixLength, &declarationEnd);
  }
  if (failure != XmlFailure::None) {
    return StatusOfFailure(failure);
  }
  state.Position += prefixLength;

  bool utf8 = state.Decoder == XmlDecodeUtf8;
  ParseRun run(state.Position, Length, utf8);
  // Built for size, the general tokenizer alone reads the document: the
  // fast path's code would cost the image more than its speed gains a boot.
  bool fast = xml_fast::kBuilt && utf8 && state.KeywordCompare == XmlCompareKeyword;
  // The encoding check read the declaration with the same tokens the fast
  // path makes; the tree needs only its text. One that ends the input is
  // left to the tokens, which refuse a document without an element.
  if (fast && !generalOnly && declarationEnd != nullptr && declarationEnd < state.InputEnd) {
    EFI_STATUS status = run.builder.DeclarationThrough(state.Position, declarationEnd);
    if (EFI_ERROR(status)) {
      return status;
    }
    state.Position = declarationEnd;
    state.State = XmlStateDeclarationClose;
  }
  failure =
      generalOnly ? XmlRunTokenizer(&state, ParseRun::OnToken, &run) : RunParse(state, run, fast);
  if (failure != XmlFailure::None) {
    return StatusOfFailure(failure);
  }
  if (EFI_ERROR(run.status)) {
    return run.status;
  }
  return run.builder.Release(Root);
}
