// Escaping and unescaping of the five predefined entities of XML 1.0
// (section 4.6): &lt; &gt; &quot; &apos; &amp;.
#include "XmlInternal.h"

namespace {

struct Entity {
  const CHAR8 *text; // after the ampersand
  UINT8 length;
  CHAR8 character;
};

// In the order in which they are recognised.
constexpr Entity kEntities[] = {
    {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}, {"amp;", 4, '&'},
};

// The entity whose name follows an ampersand at text[0], or NULL; never
// looks past remaining bytes.
const Entity *MatchEntity(const CHAR8 *text, UINTN remaining) {
  for (const Entity &entity : kEntities) {
    if (entity.length <= remaining && XmlBytesEqual(text, entity.text, entity.length)) {
      return &entity;
    }
  }
  return nullptr;
}

// Offset of the first "&" of text[from, length), or length; eight bytes a
// step.
UINTN NextAmpersand(const CHAR8 *text, UINTN from, UINTN length) {
  UINTN i = from;
  for (; i + 8 <= length; i += 8) {
    UINT64 word;
    __builtin_memcpy(&word, text + i, 8);
    UINT64 found = XmlBytesOf(word, '&');
    if (found != 0) {
      return i + static_cast<UINTN>(__builtin_ctzll(found)) / 8;
    }
  }
  while (i < length && text[i] != '&') {
    i++;
  }
  return i;
}

// Escaped length of a byte-counted text (no limit applied).
UINTN XmlEscapedLengthBytes(const CHAR8 *text, UINTN length) {
  UINTN total = length;
  for (UINTN i = 0; i < length; i++) {
    total += kXmlEscapeExtra.extra[static_cast<UINT8>(text[i])];
  }
  return total;
}

// Writes the escaped form of text at out, which has room for exactly
// XmlEscapedLengthBytes(text, length) bytes; returns the end of what was
// written.
CHAR8 *XmlEscapeInto(CHAR8 *out, const CHAR8 *text, UINTN length) {
  UINTN plainStart = 0;
  for (UINTN i = 0; i < length; i++) {
    UINT8 c = static_cast<UINT8>(text[i]);
    if (kXmlEscapeExtra.extra[c] == 0) {
      continue;
    }
    XmlCopyBytes(out, text + plainStart, i - plainStart);
    out += i - plainStart;
    plainStart = i + 1;
    const CHAR8 *reference = XmlEscapeReference(c);
    UINTN referenceLength = kXmlEscapeExtra.extra[c] + 1U;
    XmlCopyBytes(out, reference, referenceLength);
    out += referenceLength;
  }
  XmlCopyBytes(out, text + plainStart, length - plainStart);
  return out + (length - plainStart);
}

} // namespace

UINTN XmlEscapedLength(const CHAR8 *Text, UINTN Limit) {
  if (Text == nullptr) {
    return 0;
  }
  UINTN length = XmlBoundedLength(Text, Limit);
  if (length == 0 || length > Limit) {
    return 0;
  }
  return XmlEscapedLengthBytes(Text, length);
}

EFI_STATUS XmlEscape(const CHAR8 *Text, UINTN Limit, CHAR8 **Result) {
  if (Result == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN escaped = XmlEscapedLength(Text, Limit);
  if (escaped == 0) {
    return EFI_INVALID_PARAMETER;
  }
  CHAR8 *copy = static_cast<CHAR8 *>(XmlPoolAllocate(escaped + 1));
  if (copy == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN length = XmlBoundedLength(Text, Limit);
  CHAR8 *end = XmlEscapeInto(copy, Text, length);
  if (static_cast<UINTN>(end - copy) != escaped) {
    XmlPoolFree(copy);
    return EFI_DEVICE_ERROR;
  }
  *end = '\0';
  *Result = copy;
  return EFI_SUCCESS;
}

UINTN XmlUnescapedLengthBytes(const CHAR8 *text, UINTN length, UINTN limit) {
  if (length == 0 || length > limit) {
    return 0;
  }
  UINTN total = length;
  for (UINTN i = NextAmpersand(text, 0, length); i < length; i = NextAmpersand(text, i, length)) {
    const Entity *entity = MatchEntity(text + i + 1, length - i - 1);
    i++;
    if (entity != nullptr) {
      total -= entity->length;
      i += entity->length;
    }
  }
  return total;
}

UINTN XmlUnescapeInto(CHAR8 *out, const CHAR8 *text, UINTN length) {
  UINTN produced = 0;
  UINTN i = 0;
  while (i < length) {
    // The plain run up to the next reference, copied as a block.
    UINTN ampersand = NextAmpersand(text, i, length);
    XmlCopyBytes(out + produced, text + i, ampersand - i);
    produced += ampersand - i;
    i = ampersand;
    if (i == length) {
      break;
    }
    const Entity *entity = MatchEntity(text + i + 1, length - i - 1);
    out[produced++] = entity != nullptr ? entity->character : '&';
    i += entity != nullptr ? 1U + entity->length : 1U;
  }
  return produced;
}

EFI_STATUS XmlUnescapeBytes(const CHAR8 *text, UINTN length, UINTN limit, CHAR8 **result) {
  if (result == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN unescaped = XmlUnescapedLengthBytes(text, length, limit);
  if (unescaped == 0) {
    return EFI_INVALID_PARAMETER;
  }
  CHAR8 *copy = static_cast<CHAR8 *>(XmlPoolAllocate(unescaped + 1));
  if (copy == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  copy[XmlUnescapeInto(copy, text, length)] = '\0';
  *result = copy;
  return EFI_SUCCESS;
}

UINTN XmlUnescapedLength(const CHAR8 *Text, UINTN Limit) {
  if (Text == nullptr) {
    return 0;
  }
  return XmlUnescapedLengthBytes(Text, XmlBoundedLength(Text, Limit), Limit);
}

EFI_STATUS XmlUnescape(const CHAR8 *Text, UINTN Limit, CHAR8 **Result) {
  if (Result == nullptr || Text == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return XmlUnescapeBytes(Text, XmlBoundedLength(Text, Limit), Limit, Result);
}
