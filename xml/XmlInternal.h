// Helpers shared by the files of the XML library: byte and string routines,
// the list convention of the tree, and byte-counted forms of the tree
// operations that the parser uses to avoid copying tokens twice.
#ifndef ZELM_XML_INTERNAL_H_
#define ZELM_XML_INTERNAL_H_

#include "Xml.h"

// The parse loop's hot steps are inlined into it for speed; an image built
// for size keeps them as calls.
#if defined(__OPTIMIZE_SIZE__)
#define XML_HOT_INLINE
#define XML_HOT_FLATTEN
#else
#define XML_HOT_INLINE __attribute__((always_inline))
#define XML_HOT_FLATTEN __attribute__((flatten))
#endif

// Names handed to XmlAddNode / XmlAddAttribute longer than this are refused,
// the bound every string copy of the firmware uses.
constexpr UINTN kXmlStringLimit = 1000000;

inline VOID XmlCopyBytes(VOID *dest, const VOID *src, UINTN size) {
  UINT8 *to = static_cast<UINT8 *>(dest);
  const UINT8 *from = static_cast<const UINT8 *>(src);
  // Names and texts are short: copied inline, in words that may overlap.
  if (size >= 8 && size <= 64) {
    UINT64 word;
    for (UINTN i = 0; i + 8 < size; i += 8) {
      __builtin_memcpy(&word, from + i, 8);
      __builtin_memcpy(to + i, &word, 8);
    }
    __builtin_memcpy(&word, from + size - 8, 8);
    __builtin_memcpy(to + size - 8, &word, 8);
  } else if (size >= 4 && size < 8) {
    UINT32 head;
    UINT32 tail;
    __builtin_memcpy(&head, from, 4);
    __builtin_memcpy(&tail, from + size - 4, 4);
    __builtin_memcpy(to, &head, 4);
    __builtin_memcpy(to + size - 4, &tail, 4);
  } else if (size < 4) {
    for (UINTN i = 0; i < size; i++) {
      to[i] = from[i];
    }
  } else {
    __builtin_memcpy(dest, src, size);
  }
}

inline VOID XmlZeroBytes(VOID *dest, UINTN size) {
  if (size != 0) {
    __builtin_memset(dest, 0, size);
  }
}

// The high bit of each of the eight bytes of word that equals c, and
// possibly of bytes above the lowest such byte: the lowest flagged byte is
// always a true one.
inline UINT64 XmlBytesOf(UINT64 word, UINT8 c) {
  constexpr UINT64 kOnes = 0x0101010101010101ULL;
  UINT64 x = word ^ (c * kOnes);
  return (x - kOnes) & ~x & (kOnes << 7);
}

// Length of a NUL-terminated string, or limit + 1 when it has more than
// limit characters (so callers can refuse it without reading further).
inline UINTN XmlBoundedLength(const CHAR8 *text, UINTN limit) {
  UINTN n = 0;
  while (n <= limit && text[n] != '\0') {
    n++;
  }
  return n;
}

// Length of a NUL-terminated string (the firmware image has no strlen).
inline UINTN XmlStringLength(const CHAR8 *text) {
  UINTN n = 0;
  while (text[n] != '\0') {
    n++;
  }
  return n;
}

inline bool XmlBytesEqual(const VOID *a, const VOID *b, UINTN size) {
  const UINT8 *x = static_cast<const UINT8 *>(a);
  const UINT8 *y = static_cast<const UINT8 *>(b);
  // Names are short: compared in words that may overlap.
  if (size >= 8) {
    UINT64 u;
    UINT64 v;
    for (UINTN i = 0; i + 8 < size; i += 8) {
      __builtin_memcpy(&u, x + i, 8);
      __builtin_memcpy(&v, y + i, 8);
      if (u != v) {
        return false;
      }
    }
    __builtin_memcpy(&u, x + size - 8, 8);
    __builtin_memcpy(&v, y + size - 8, 8);
    return u == v;
  }
  if (size >= 4) {
    UINT32 u[2];
    UINT32 v[2];
    __builtin_memcpy(&u[0], x, 4);
    __builtin_memcpy(&u[1], x + size - 4, 4);
    __builtin_memcpy(&v[0], y, 4);
    __builtin_memcpy(&v[1], y + size - 4, 4);
    return u[0] == v[0] && u[1] == v[1];
  }
  for (UINTN i = 0; i < size; i++) {
    if (x[i] != y[i]) {
      return false;
    }
  }
  return true;
}

// Bytes before the first NUL within [text, text + size).
inline UINTN XmlLengthToNul(const UINT8 *text, UINTN size) {
  UINTN n = 0;
  while (n < size && text[n] != 0) {
    n++;
  }
  return n;
}

inline VOID XmlListInit(LIST_ENTRY *head) {
  head->ForwardLink = head;
  head->BackLink = head;
}

inline bool XmlListEmpty(const LIST_ENTRY *head) {
  return head->ForwardLink == head;
}

inline VOID XmlListInsertTail(LIST_ENTRY *head, LIST_ENTRY *entry) {
  entry->ForwardLink = head;
  entry->BackLink = head->BackLink;
  head->BackLink->ForwardLink = entry;
  head->BackLink = entry;
}

// The list entry is the first field of both records.
inline XmlNode *XmlNodeFromLink(LIST_ENTRY *link) {
  return reinterpret_cast<XmlNode *>(link);
}
inline const XmlNode *XmlNodeFromLink(const LIST_ENTRY *link) {
  return reinterpret_cast<const XmlNode *>(link);
}
inline const XmlAttribute *XmlAttributeFromLink(const LIST_ENTRY *link) {
  return reinterpret_cast<const XmlAttribute *>(link);
}

// A record's pool block holds, after the record, the lengths of its inline
// strings and then the strings: the value (when it has one inline) and the
// name. Names are never replaced, so a name's length is always at hand; an
// element value the parser replaced later lives in a block of its own.
struct XmlInlineLengths {
  UINT32 Value; // 0 when the record has no inline value
  UINT32 Name;
};

inline XmlInlineLengths *XmlLengthsOf(const VOID *record, UINTN recordSize) {
  return reinterpret_cast<XmlInlineLengths *>(
      const_cast<UINT8 *>(static_cast<const UINT8 *>(record)) + recordSize);
}

inline CHAR8 *XmlInlineStrings(const VOID *record, UINTN recordSize) {
  return reinterpret_cast<CHAR8 *>(XmlLengthsOf(record, recordSize) + 1);
}

inline UINTN XmlNameLength(const XmlNode *node) {
  return XmlLengthsOf(node, sizeof(XmlNode))->Name;
}

inline UINTN XmlValueLength(const XmlNode *node) {
  return node->Value == XmlInlineStrings(node, sizeof(XmlNode))
             ? XmlLengthsOf(node, sizeof(XmlNode))->Value
             : XmlStringLength(node->Value);
}

inline UINTN XmlNameLength(const XmlAttribute *attribute) {
  return XmlLengthsOf(attribute, sizeof(XmlAttribute))->Name;
}

inline UINTN XmlValueLength(const XmlAttribute *attribute) {
  return XmlLengthsOf(attribute, sizeof(XmlAttribute))->Value;
}

// Extra bytes each character needs when escaped (XML 1.0 section 4.6).
struct XmlEscapeTable {
  UINT8 extra[256];
};

constexpr XmlEscapeTable XmlMakeEscapeTable() {
  XmlEscapeTable table{};
  table.extra[static_cast<UINT8>('"')] = 5;
  table.extra[static_cast<UINT8>('\'')] = 5;
  table.extra[static_cast<UINT8>('&')] = 4;
  table.extra[static_cast<UINT8>('<')] = 3;
  table.extra[static_cast<UINT8>('>')] = 3;
  return table;
}

inline constexpr XmlEscapeTable kXmlEscapeExtra = XmlMakeEscapeTable();

// The entity reference written for a character that needs escaping.
inline const CHAR8 *XmlEscapeReference(UINT8 c) {
  switch (c) {
  case '"':
    return "&quot;";
  case '\'':
    return "&apos;";
  case '&':
    return "&amp;";
  case '<':
    return "&lt;";
  default:
    return "&gt;";
  }
}

// New pool string holding size bytes of text and a NUL; NULL when the pool
// is exhausted.
[[nodiscard]] CHAR8 *XmlCopyString(const CHAR8 *text, UINTN size);

// XmlAddNode with byte-counted name and value (valueLength 0: no text). A
// verbatim value is stored as its bytes, without the unescaping or the
// length limit of XmlAddNode: element text as the parser reads it.
[[nodiscard]] EFI_STATUS XmlCreateNode(XmlNode *parent, const CHAR8 *name, UINTN nameLength,
                                       const CHAR8 *value, UINTN valueLength, bool verbatim,
                                       XmlNode **newNode);

// Gives node a value of its own pool block, releasing the one it had.
VOID XmlReplaceValue(XmlNode *node, CHAR8 *value);

// XmlAddAttribute with byte-counted name and value.
[[nodiscard]] EFI_STATUS XmlAddAttributeBytes(XmlNode *node, const CHAR8 *name, UINTN nameLength,
                                              const CHAR8 *value, UINTN valueLength);

// Unescaping over a byte-counted text: 0 when the text is empty or longer
// than limit.
UINTN XmlUnescapedLengthBytes(const CHAR8 *text, UINTN length, UINTN limit);

// Writes text with its entity references replaced at out, which has room
// for XmlUnescapedLengthBytes of it; returns the bytes written.
UINTN XmlUnescapeInto(CHAR8 *out, const CHAR8 *text, UINTN length);

// New pool string with the entity references of text replaced.
[[nodiscard]] EFI_STATUS XmlUnescapeBytes(const CHAR8 *text, UINTN length, UINTN limit,
                                          CHAR8 **result);

// XmlParse; generalOnly reads every token through XmlRunTokenizer, the
// tokenizer's public loop with its callback and commit, which must build the
// same tree as the parser's own loop (the fuzzer and the tests compare the
// two).
[[nodiscard]] EFI_STATUS XmlParseWith(const CHAR8 *text, UINTN length, XmlNode **root,
                                      bool generalOnly);

#endif
