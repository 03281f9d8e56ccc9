/* XML tree library: an element tree with attributes, a compact writer and a
   lenient parser for 8-bit, UTF-16 and UCS-4 input.

   The library keeps no global state. Every record and string it makes comes
   from XmlPoolAllocate and goes back through XmlPoolFree; the user of the
   library links those two functions in (the firmware forwards them to the
   boot-services pool, host programs use xml/HostPool.cpp). A record's name
   and value are kept in the record's own block, one allocation per element
   or attribute, so callers read them but never free or replace them.

   Plain C so that C firmware can include it; C++ sees the same layout. */
#ifndef ZELM_XML_H_
#define ZELM_XML_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

/* Longest texts accepted when unescaping or escaping values. */
#define XML_ATTRIBUTE_VALUE_LIMIT 1024
#define XML_ELEMENT_VALUE_LIMIT 65535
/* The writer serialises levels 0 (the root) to 25. */
#define XML_MAX_WRITE_LEVEL 25
/* XmlFindChild compares at most this many characters of a name. */
#define XML_NAME_COMPARE_LIMIT 50

/* One element. Callers read every field and walk both lists directly;
   changes go through the operations below. */
typedef struct XmlNode {
  LIST_ENTRY Link;               /* entry in the parent's child list; zero on a root */
  LIST_ENTRY ChildrenListHead;   /* XmlNode entries in document order */
  LIST_ENTRY AttributesListHead; /* XmlAttribute entries in document order */
  struct XmlNode *ParentNode;    /* NULL on a root */
  UINT64 NumChildren;
  UINT64 NumAttributes;
  CHAR8 *Name;           /* never NULL or empty */
  CHAR8 *Value;          /* element text or NULL, never empty */
  CHAR8 *XmlDeclaration; /* on a parsed root: the document's declaration */
} XmlNode;

typedef struct XmlAttribute {
  LIST_ENTRY Link; /* entry in the owner's attribute list */
  CHAR8 *Name;
  CHAR8 *Value; /* unescaped, never NULL or empty */
  XmlNode *ParentNode;
} XmlAttribute;

EFI_STATIC_ASSERT(offsetof(XmlNode, Link) == 0, "list entry first");
EFI_STATIC_ASSERT(offsetof(XmlNode, ChildrenListHead) == 16, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, AttributesListHead) == 32, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, ParentNode) == 48, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, NumChildren) == 56, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, NumAttributes) == 64, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, Name) == 72, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, Value) == 80, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlNode, XmlDeclaration) == 88, "XmlNode layout");
EFI_STATIC_ASSERT(sizeof(XmlNode) == 96, "XmlNode layout");
EFI_STATIC_ASSERT(offsetof(XmlAttribute, Link) == 0, "list entry first");
EFI_STATIC_ASSERT(offsetof(XmlAttribute, Name) == 16, "XmlAttribute layout");
EFI_STATIC_ASSERT(offsetof(XmlAttribute, Value) == 24, "XmlAttribute layout");
EFI_STATIC_ASSERT(offsetof(XmlAttribute, ParentNode) == 32, "XmlAttribute layout");
EFI_STATIC_ASSERT(sizeof(XmlAttribute) == 40, "XmlAttribute layout");

/* Supplied by the user of the library. XmlPoolAllocate returns NULL when
   memory is exhausted; XmlPoolFree ignores NULL. */
VOID *XmlPoolAllocate(IN UINTN Size);
VOID XmlPoolFree(IN VOID *Buffer);

/* ---- Tree ---------------------------------------------------------------- */

/* Creates an element (appended as Parent's last child when Parent is given);
   Value is unescaped, NULL or "" means no text.
   INVALID_PARAMETER: Name NULL or empty, Value over 65535 characters.
   OUT_OF_RESOURCES: pool exhausted. On failure nothing is linked. */
EFI_STATUS XmlAddNode(IN XmlNode *Parent OPTIONAL, IN CONST CHAR8 *Name,
                      IN CONST CHAR8 *Value OPTIONAL, OUT XmlNode **NewNode OPTIONAL);

/* Appends an attribute; Value is unescaped.
   INVALID_PARAMETER: Node NULL, Name or Value NULL or empty, Value over 1024
   characters. OUT_OF_RESOURCES: pool exhausted. On failure Node is unchanged. */
EFI_STATUS XmlAddAttribute(IN XmlNode *Node, IN CONST CHAR8 *Name, IN CONST CHAR8 *Value);

/* Releases everything Node owns, at any depth; the record stays allocated
   and empty. INVALID_PARAMETER: Node NULL. */
EFI_STATUS XmlFreeNodeContents(IN XmlNode *Node);

/* Releases a whole tree including the root record and sets *Root to NULL.
   INVALID_PARAMETER: Root or *Root NULL. Meant for roots: a node is not
   unlinked from a parent. */
EFI_STATUS XmlFreeTree(IN OUT XmlNode **Root);

/* First direct child whose name equals Name over at most 50 characters, or
   NULL (also for a NULL Node or Name). */
XmlNode *XmlFindChild(IN CONST XmlNode *Node, IN CONST CHAR8 *Name);

/* Walking the tree without touching its lists: the first child of Node,
   the child after Node under its parent (NULL after the last, and for a
   root), and the value of Node's first attribute named exactly Name. Each
   answers NULL for a NULL argument. */
XmlNode *XmlFirstChild(IN CONST XmlNode *Node);
XmlNode *XmlNextSibling(IN CONST XmlNode *Node);
CONST CHAR8 *XmlFindAttribute(IN CONST XmlNode *Node, IN CONST CHAR8 *Name);

/* Diagnostic walk before serialising; this build has no diagnostic output
   and leaves the tree untouched. */
VOID XmlDebugDump(IN CONST XmlNode *Node, IN UINTN Level);

/* ---- Writer and escaping --------------------------------------------------- */

/* Serialises the tree under Root compactly into one pool buffer that the
   caller frees with XmlPoolFree; *Size counts the terminating NUL. Reserved
   has no effect. INVALID_PARAMETER: NULL argument, an attribute value empty
   or over 1024 characters, an element value over 65535. BAD_BUFFER_SIZE: a
   node below level 25. OUT_OF_RESOURCES: pool exhausted. On failure *Size
   and *Text are untouched. */
EFI_STATUS XmlTreeToString(IN CONST XmlNode *Root, IN UINTN Reserved, OUT UINTN *Size,
                           OUT CHAR8 **Text);

/* Characters of Text after escaping the five predefined entities; 0 for a
   NULL or empty text and for one longer than Limit. */
UINTN XmlEscapedLength(IN CONST CHAR8 *Text, IN UINTN Limit);

/* New pool string with < > " ' & written as entity references.
   INVALID_PARAMETER: Result NULL, Text empty or over Limit.
   OUT_OF_RESOURCES: pool exhausted. */
EFI_STATUS XmlEscape(IN CONST CHAR8 *Text, IN UINTN Limit, OUT CHAR8 **Result);

/* Characters of Text after replacing the five entity references; 0 for a
   NULL or empty text and for one longer than Limit. */
UINTN XmlUnescapedLength(IN CONST CHAR8 *Text, IN UINTN Limit);

/* New pool string with the five entity references replaced (one pass; any
   other ampersand is kept). INVALID_PARAMETER: Result NULL, Text empty or
   over Limit. OUT_OF_RESOURCES: pool exhausted. */
EFI_STATUS XmlUnescape(IN CONST CHAR8 *Text, IN UINTN Limit, OUT CHAR8 **Result);

/* ---- Parser ----------------------------------------------------------------- */

/* Parses Length bytes of Text (no NUL needed) into a new tree at *Root.
   Lenient: SUCCESS once the input is used up after a start tag, and SUCCESS
   with the tree so far (possibly NULL) at a syntax error.
   INVALID_PARAMETER: NULL Text or Root, Length 0 or above 0xFFFFFFFF, no
   start tag, an end tag that does not match, an empty attribute value, or
   characters that cannot be decoded. BUFFER_TOO_SMALL: a name, attribute
   value or end-tag name of 260 bytes or more. UNSUPPORTED: a declared
   encoding the input cannot have, a parameter-entity reference.
   OUT_OF_RESOURCES: pool exhausted. On failure *Root is NULL. */
EFI_STATUS XmlParse(IN CONST CHAR8 *Text, IN UINTN Length, OUT XmlNode **Root);

EFI_EXTERN_C_END

#endif /* ZELM_XML_H_ */
