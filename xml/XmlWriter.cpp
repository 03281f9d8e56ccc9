// Compact serialisation of a tree: a measuring pass sizes one buffer, a
// writing pass fills it. Both walk the tree without recursion.
#include "XmlInternal.h"

namespace {

struct Frame {
  const XmlNode *node;
  const LIST_ENTRY *next; // next child to visit
};

// Depth-first walk in document order. The visitor sees Start for every node,
// then either Empty (no text, no children) or Text, the children and End.
template <typename Visitor> EFI_STATUS Walk(const XmlNode *root, Visitor &visitor) {
  Frame stack[XML_MAX_WRITE_LEVEL + 1];
  UINTN depth = 0;
  const XmlNode *node = root;
  for (;;) {
    if (depth > XML_MAX_WRITE_LEVEL) {
      return EFI_BAD_BUFFER_SIZE;
    }
    EFI_STATUS status = visitor.Start(node);
    if (EFI_ERROR(status)) {
      return status;
    }
    bool hasChildren = !XmlListEmpty(&node->ChildrenListHead);
    if (node->Value == nullptr && !hasChildren) {
      status = visitor.Empty();
    } else {
      status = visitor.Text(node);
      if (!EFI_ERROR(status) && !hasChildren) {
        status = visitor.End(node);
      }
    }
    if (EFI_ERROR(status)) {
      return status;
    }
    if (hasChildren) {
      const LIST_ENTRY *first = node->ChildrenListHead.ForwardLink;
      stack[depth++] = {node, first->ForwardLink};
      node = XmlNodeFromLink(first);
      continue;
    }
    for (;;) {
      if (depth == 0) {
        return EFI_SUCCESS;
      }
      Frame &frame = stack[depth - 1];
      if (frame.next != &frame.node->ChildrenListHead) {
        node = XmlNodeFromLink(frame.next);
        frame.next = frame.next->ForwardLink;
        break;
      }
      status = visitor.End(frame.node);
      if (EFI_ERROR(status)) {
        return status;
      }
      depth--;
    }
  }
}

// The high bit of every byte of word that is one of the five characters
// written as entity references (and possibly of bytes above the lowest
// such byte).
UINT64 SpecialBytes(UINT64 word) {
  constexpr UINT8 kSpecials[] = {'"', '&', '\'', '<', '>'};
  UINT64 found = 0;
  for (UINT8 c : kSpecials) {
    found |= XmlBytesOf(word, c);
  }
  return found;
}

#if defined(__SSE2__) && !defined(__OPTIMIZE_SIZE__)
typedef char XmlBytes16 __attribute__((vector_size(16)));
#endif

// Offset of the first character of text[0, length) that needs escaping,
// or length. Sixteen bytes at a time where the processor compares them at
// once (not in the image built for size), then eight.
XML_HOT_INLINE UINTN PlainRunLength(const CHAR8 *text, UINTN length) {
  UINTN i = 0;
#if defined(__SSE2__) && !defined(__OPTIMIZE_SIZE__)
  for (; i + 16 <= length; i += 16) {
    XmlBytes16 bytes;
    __builtin_memcpy(&bytes, text + i, 16);
    XmlBytes16 found =
        (bytes == '"') | (bytes == '&') | (bytes == '\'') | (bytes == '<') | (bytes == '>');
    UINT32 mask = static_cast<UINT32>(__builtin_ia32_pmovmskb128(found));
    if (mask != 0) {
      return i + static_cast<UINTN>(__builtin_ctz(mask));
    }
  }
#endif
  for (; i + 8 <= length; i += 8) {
    UINT64 word;
    __builtin_memcpy(&word, text + i, 8);
    UINT64 found = SpecialBytes(word);
    if (found != 0) {
      return i + static_cast<UINTN>(__builtin_ctzll(found)) / 8;
    }
  }
  // The last bytes as one word that overlaps bytes already found plain.
  if (i < length && length >= 8) {
    UINT64 word;
    __builtin_memcpy(&word, text + length - 8, 8);
    UINT64 found = SpecialBytes(word);
    return found != 0 ? length - 8 + static_cast<UINTN>(__builtin_ctzll(found)) / 8 : length;
  }
  while (i < length && kXmlEscapeExtra.extra[static_cast<UINT8>(text[i])] == 0) {
    i++;
  }
  return i;
}

// Escaped length of a value of the given length; false when the value is
// empty or longer than limit (the writer refuses it, as escaping it would).
XML_HOT_INLINE bool EscapedValueLength(const CHAR8 *value, UINTN length, UINTN limit,
                                       UINTN &escaped) {
  if (length == 0 || length > limit) {
    return false;
  }
  escaped = length;
  for (UINTN i = PlainRunLength(value, length); i < length;) {
    escaped += kXmlEscapeExtra.extra[static_cast<UINT8>(value[i])];
    i++;
    i += PlainRunLength(value + i, length - i);
  }
  return true;
}

// Which values need no escaping, by their order in the walk, so that the
// writing pass copies those without looking at them again; values past the
// first kTrackedValues are looked at in both passes.
struct PlainValues {
  static constexpr UINTN kTrackedValues = 2048;
  UINT64 bits[kTrackedValues / 64] = {};
  UINTN count = 0; // values seen so far

  VOID Note(bool plain) {
    if (plain && count < kTrackedValues) {
      bits[count / 64] |= 1ULL << (count % 64);
    }
    count++;
  }

  bool NextIsPlain() {
    UINTN index = count++;
    return index < kTrackedValues && ((bits[index / 64] >> (index % 64)) & 1) != 0;
  }
};

class Measurer {
public:
  explicit Measurer(PlainValues &plain) : plain_(plain) {}

  UINTN total = 0;

  EFI_STATUS Start(const XmlNode *node) {
    if (node->Name == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (node->XmlDeclaration != nullptr) {
      total += XmlStringLength(node->XmlDeclaration);
    }
    // The name counts twice when an end tag will repeat it.
    UINTN nameLength = XmlNameLength(node);
    bool endTag = node->Value != nullptr || !XmlListEmpty(&node->ChildrenListHead);
    total += (endTag ? 2 * nameLength : nameLength) + 1;
    const LIST_ENTRY *head = &node->AttributesListHead;
    for (const LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
      const XmlAttribute *attribute = XmlAttributeFromLink(link);
      UINTN escaped;
      if (!EscapedValueLength(attribute->Value, XmlValueLength(attribute),
                              XML_ATTRIBUTE_VALUE_LIMIT, escaped)) {
        return EFI_INVALID_PARAMETER;
      }
      plain_.Note(escaped == XmlValueLength(attribute));
      total += XmlNameLength(attribute) + 4 + escaped;
    }
    return EFI_SUCCESS;
  }

  EFI_STATUS Empty() {
    total += 3;
    return EFI_SUCCESS;
  }

  EFI_STATUS Text(const XmlNode *node) {
    total += 1;
    if (node->Value != nullptr) {
      UINTN escaped;
      if (!EscapedValueLength(node->Value, XmlValueLength(node), XML_ELEMENT_VALUE_LIMIT,
                              escaped)) {
        return EFI_INVALID_PARAMETER;
      }
      plain_.Note(escaped == XmlValueLength(node));
      total += escaped;
    }
    return EFI_SUCCESS;
  }

  EFI_STATUS End(const XmlNode *) {
    total += 3;
    return EFI_SUCCESS;
  }

private:
  PlainValues &plain_;
};

// Appends into the measured buffer; every append is bounded by its end.
class Writer {
public:
  Writer(CHAR8 *buffer, UINTN size, PlainValues &plain)
      : cursor_(buffer), end_(buffer + size), plain_(plain) {
    plain_.count = 0;
  }

  CHAR8 *cursor() const { return cursor_; }

  EFI_STATUS Start(const XmlNode *node) {
    EFI_STATUS status;
    if (node->XmlDeclaration != nullptr) {
      status = PutString(node->XmlDeclaration);
      if (EFI_ERROR(status)) {
        return status;
      }
    }
    status = PutTagged('<', node->Name, XmlNameLength(node), 0);
    if (EFI_ERROR(status)) {
      return status;
    }
    const LIST_ENTRY *head = &node->AttributesListHead;
    for (const LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
      const XmlAttribute *attribute = XmlAttributeFromLink(link);
      status = PutTagged(' ', attribute->Name, XmlNameLength(attribute), '=');
      if (EFI_ERROR(status)) {
        return status;
      }
      status = PutChar('"');
      if (EFI_ERROR(status)) {
        return status;
      }
      status = PutEscaped(attribute->Value, XmlValueLength(attribute));
      if (EFI_ERROR(status)) {
        return status;
      }
      status = PutChar('"');
      if (EFI_ERROR(status)) {
        return status;
      }
    }
    return EFI_SUCCESS;
  }

  EFI_STATUS Empty() { return PutBytes(" />", 3); }

  EFI_STATUS Text(const XmlNode *node) {
    EFI_STATUS status = PutChar('>');
    if (EFI_ERROR(status)) {
      return status;
    }
    if (node->Value != nullptr) {
      status = PutEscaped(node->Value, XmlValueLength(node));
      if (EFI_ERROR(status)) {
        return status;
      }
    }
    return EFI_SUCCESS;
  }

  EFI_STATUS End(const XmlNode *node) {
    UINTN length = XmlNameLength(node);
    if (static_cast<UINTN>(end_ - cursor_) < length + 3) {
      return EFI_BUFFER_TOO_SMALL;
    }
    cursor_[0] = '<';
    cursor_[1] = '/';
    XmlCopyBytes(cursor_ + 2, node->Name, length);
    cursor_[length + 2] = '>';
    cursor_ += length + 3;
    return EFI_SUCCESS;
  }

private:
  [[nodiscard]] EFI_STATUS PutChar(CHAR8 c) {
    if (cursor_ == end_) {
      return EFI_BUFFER_TOO_SMALL;
    }
    *cursor_++ = c;
    return EFI_SUCCESS;
  }

  [[nodiscard]] EFI_STATUS PutBytes(const CHAR8 *text, UINTN length) {
    if (static_cast<UINTN>(end_ - cursor_) < length) {
      return EFI_BUFFER_TOO_SMALL;
    }
    XmlCopyBytes(cursor_, text, length);
    cursor_ += length;
    return EFI_SUCCESS;
  }

  // A name with the character before it and the one after it (none for 0),
  // under one bound check.
  [[nodiscard]] EFI_STATUS PutTagged(CHAR8 before, const CHAR8 *name, UINTN length, CHAR8 after) {
    UINTN size = length + (before != 0 ? 1 : 0) + (after != 0 ? 1 : 0);
    if (static_cast<UINTN>(end_ - cursor_) < size) {
      return EFI_BUFFER_TOO_SMALL;
    }
    if (before != 0) {
      *cursor_++ = before;
    }
    XmlCopyBytes(cursor_, name, length);
    cursor_ += length;
    if (after != 0) {
      *cursor_++ = after;
    }
    return EFI_SUCCESS;
  }

  [[nodiscard]] EFI_STATUS PutString(const CHAR8 *text) {
    return PutBytes(text, XmlStringLength(text));
  }

  // Escapes while copying, a plain run at a time; the measuring pass has
  // checked the value against its limit.
  [[nodiscard]] XML_HOT_INLINE EFI_STATUS PutEscaped(const CHAR8 *value, UINTN length) {
    EFI_STATUS status;
    if (plain_.NextIsPlain()) {
      return PutBytes(value, length);
    }
    UINTN i = 0;
    for (;;) {
      UINTN run = PlainRunLength(value + i, length - i);
      status = PutBytes(value + i, run);
      if (EFI_ERROR(status)) {
        return status;
      }
      i += run;
      if (i == length) {
        return EFI_SUCCESS;
      }
      UINT8 c = static_cast<UINT8>(value[i++]);
      status = PutBytes(XmlEscapeReference(c), kXmlEscapeExtra.extra[c] + 1U);
      if (EFI_ERROR(status)) {
        return status;
      }
    }
  }

  CHAR8 *cursor_;
  CHAR8 *end_;
  PlainValues &plain_;
};

} // namespace

EFI_STATUS XmlTreeToString(const XmlNode *Root, UINTN Reserved, UINTN *Size, CHAR8 **Text) {
  (VOID) Reserved;
  if (Root == nullptr || Size == nullptr || Text == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  PlainValues plain;
  Measurer measurer(plain);
  EFI_STATUS status = Walk(Root, measurer);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN total = measurer.total;
  CHAR8 *buffer = static_cast<CHAR8 *>(XmlPoolAllocate(total + 1));
  if (buffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  buffer[0] = '\0';
  Writer writer(buffer, total, plain);
  status = Walk(Root, writer);
  if (!EFI_ERROR(status) && writer.cursor() != buffer + total) {
    status = EFI_DEVICE_ERROR;
  }
  if (EFI_ERROR(status)) {
    XmlPoolFree(buffer);
    return status;
  }
  buffer[total] = '\0';
  *Size = total + 1;
  *Text = buffer;
  return EFI_SUCCESS;
}
