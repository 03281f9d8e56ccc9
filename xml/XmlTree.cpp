// The element tree: creating nodes and attributes, finding children and
// releasing trees of any depth.
#include "XmlInternal.h"

namespace {

// One allocation per element or attribute: the record, the lengths of its
// strings, its value and its name (XmlInlineLengths).
UINTN InlineBlockSize(UINTN recordSize, UINTN nameLength, UINTN valueLength) {
  return recordSize + sizeof(XmlInlineLengths) + (valueLength != 0 ? valueLength + 1 : 0) +
         nameLength + 1;
}

// Element text the parser replaced after the record was made.
bool ValueHasOwnBlock(const XmlNode *node) {
  return node->Value != nullptr && node->Value != XmlInlineStrings(node, sizeof(XmlNode));
}

// Releases a node's attributes, declaration and a value of its own block
// (names and attribute strings are inline); its children are the caller's.
// The record itself is left as it is, for the caller to clear or free.
VOID FreeOwnData(XmlNode *node) {
  LIST_ENTRY *head = &node->AttributesListHead;
  for (LIST_ENTRY *link = head->ForwardLink; link != head;) {
    LIST_ENTRY *next = link->ForwardLink;
    XmlPoolFree(link);
    link = next;
  }
  if (node->XmlDeclaration != nullptr) {
    XmlPoolFree(node->XmlDeclaration);
  }
  if (ValueHasOwnBlock(node)) {
    XmlPoolFree(node->Value);
  }
}

// How a value reaches its record: unescaped (the tree operations) or as
// its bytes (element text read by the parser).
enum class ValueForm { Unescaped, Verbatim };

// Length the value will have in the record; 0 for none. False when the
// value is refused (over the limit).
bool StoredValueLength(const CHAR8 *value, UINTN length, UINTN limit, ValueForm form,
                       UINTN &stored) {
  stored = 0;
  if (length == 0) {
    return true;
  }
  stored = form == ValueForm::Unescaped ? XmlUnescapedLengthBytes(value, length, limit) : length;
  return stored != 0;
}

VOID StoreValue(CHAR8 *out, const CHAR8 *value, UINTN length, UINTN stored, ValueForm form) {
  if (form == ValueForm::Unescaped) {
    XmlUnescapeInto(out, value, length);
  } else {
    XmlCopyBytes(out, value, length);
  }
  out[stored] = '\0';
}

} // namespace

EFI_STATUS XmlCreateNode(XmlNode *parent, const CHAR8 *name, UINTN nameLength, const CHAR8 *value,
                         UINTN valueLength, bool verbatim, XmlNode **newNode) {
  if (newNode != nullptr) {
    *newNode = nullptr;
  }
  if (nameLength == 0) {
    return EFI_INVALID_PARAMETER;
  }
  ValueForm form = verbatim ? ValueForm::Verbatim : ValueForm::Unescaped;
  UINTN stored;
  if (!StoredValueLength(value, valueLength, XML_ELEMENT_VALUE_LIMIT, form, stored)) {
    return EFI_INVALID_PARAMETER;
  }
  XmlNode *node =
      static_cast<XmlNode *>(XmlPoolAllocate(InlineBlockSize(sizeof(XmlNode), nameLength, stored)));
  if (node == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  *XmlLengthsOf(node, sizeof(XmlNode)) = {static_cast<UINT32>(stored),
                                          static_cast<UINT32>(nameLength)};
  CHAR8 *strings = XmlInlineStrings(node, sizeof(XmlNode));
  node->Value = nullptr;
  if (stored != 0) {
    node->Value = strings;
    StoreValue(strings, value, valueLength, stored, form);
    strings += stored + 1;
  }
  node->Name = strings;
  XmlCopyBytes(strings, name, nameLength);
  strings[nameLength] = '\0';
  node->Link.ForwardLink = nullptr;
  node->Link.BackLink = nullptr;
  XmlListInit(&node->ChildrenListHead);
  XmlListInit(&node->AttributesListHead);
  node->ParentNode = parent;
  node->NumChildren = 0;
  node->NumAttributes = 0;
  node->XmlDeclaration = nullptr;
  if (parent != nullptr) {
    XmlListInsertTail(&parent->ChildrenListHead, &node->Link);
    parent->NumChildren++;
  }
  if (newNode != nullptr) {
    *newNode = node;
  }
  return EFI_SUCCESS;
}

VOID XmlReplaceValue(XmlNode *node, CHAR8 *value) {
  if (ValueHasOwnBlock(node)) {
    XmlPoolFree(node->Value);
  }
  node->Value = value;
}

CHAR8 *XmlCopyString(const CHAR8 *text, UINTN size) {
  CHAR8 *copy = static_cast<CHAR8 *>(XmlPoolAllocate(size + 1));
  if (copy != nullptr) {
    XmlCopyBytes(copy, text, size);
    copy[size] = '\0';
  }
  return copy;
}

EFI_STATUS XmlAddNode(XmlNode *Parent, const CHAR8 *Name, const CHAR8 *Value, XmlNode **NewNode) {
  if (Name == nullptr || Name[0] == '\0') {
    return EFI_INVALID_PARAMETER;
  }
  UINTN nameLength = XmlBoundedLength(Name, kXmlStringLimit);
  if (nameLength > kXmlStringLimit) {
    if (NewNode != nullptr) {
      *NewNode = nullptr;
    }
    return EFI_INVALID_PARAMETER;
  }
  // One character past the limit is enough for the unescaping to refuse it.
  UINTN valueLength = Value == nullptr ? 0 : XmlBoundedLength(Value, XML_ELEMENT_VALUE_LIMIT);
  return XmlCreateNode(Parent, Name, nameLength, Value, valueLength, false, NewNode);
}

EFI_STATUS XmlAddAttributeBytes(XmlNode *node, const CHAR8 *name, UINTN nameLength,
                                const CHAR8 *value, UINTN valueLength) {
  if (node == nullptr || nameLength == 0 || valueLength == 0) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN stored;
  if (!StoredValueLength(value, valueLength, XML_ATTRIBUTE_VALUE_LIMIT, ValueForm::Unescaped,
                         stored)) {
    return EFI_INVALID_PARAMETER;
  }
  XmlAttribute *attribute = static_cast<XmlAttribute *>(
      XmlPoolAllocate(InlineBlockSize(sizeof(XmlAttribute), nameLength, stored)));
  if (attribute == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  *XmlLengthsOf(attribute, sizeof(XmlAttribute)) = {static_cast<UINT32>(stored),
                                                    static_cast<UINT32>(nameLength)};
  attribute->Value = XmlInlineStrings(attribute, sizeof(XmlAttribute));
  StoreValue(attribute->Value, value, valueLength, stored, ValueForm::Unescaped);
  attribute->Name = attribute->Value + stored + 1;
  XmlCopyBytes(attribute->Name, name, nameLength);
  attribute->Name[nameLength] = '\0';
  XmlListInsertTail(&node->AttributesListHead, &attribute->Link);
  node->NumAttributes++;
  attribute->ParentNode = node;
  return EFI_SUCCESS;
}

EFI_STATUS XmlAddAttribute(XmlNode *Node, const CHAR8 *Name, const CHAR8 *Value) {
  if (Node == nullptr || Name == nullptr || Name[0] == '\0' || Value == nullptr ||
      Value[0] == '\0') {
    return EFI_INVALID_PARAMETER;
  }
  UINTN nameLength = XmlBoundedLength(Name, kXmlStringLimit);
  if (nameLength > kXmlStringLimit) {
    return EFI_INVALID_PARAMETER;
  }
  // One character past the limit is enough for the unescaping to refuse it.
  UINTN valueLength = XmlBoundedLength(Value, XML_ATTRIBUTE_VALUE_LIMIT);
  return XmlAddAttributeBytes(Node, Name, nameLength, Value, valueLength);
}

EFI_STATUS XmlFreeNodeContents(XmlNode *Node) {
  if (Node == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Each released child hands its own children to the front of this list,
  // so the walk needs neither recursion nor a stack at any depth.
  LIST_ENTRY *head = &Node->ChildrenListHead;
  while (!XmlListEmpty(head)) {
    XmlNode *child = XmlNodeFromLink(head->ForwardLink);
    LIST_ENTRY *after = child->Link.ForwardLink;
    LIST_ENTRY *grandchildren = &child->ChildrenListHead;
    if (!XmlListEmpty(grandchildren)) {
      LIST_ENTRY *last = grandchildren->BackLink;
      last->ForwardLink = after;
      after->BackLink = last;
      after = grandchildren->ForwardLink;
    }
    head->ForwardLink = after;
    after->BackLink = head;
    FreeOwnData(child);
    XmlPoolFree(child);
  }
  Node->NumChildren = 0;
  FreeOwnData(Node);
  XmlListInit(&Node->AttributesListHead);
  Node->NumAttributes = 0;
  Node->XmlDeclaration = nullptr;
  Node->Name = nullptr;
  Node->Value = nullptr;
  Node->ParentNode = nullptr;
  return EFI_SUCCESS;
}

EFI_STATUS XmlFreeTree(XmlNode **Root) {
  if (Root == nullptr || *Root == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS status = XmlFreeNodeContents(*Root);
  XmlPoolFree(*Root);
  *Root = nullptr;
  return status;
}

XmlNode *XmlFirstChild(const XmlNode *Node) {
  if (Node == nullptr || Node->ChildrenListHead.ForwardLink == &Node->ChildrenListHead) {
    return nullptr;
  }
  return const_cast<XmlNode *>(XmlNodeFromLink(Node->ChildrenListHead.ForwardLink));
}

XmlNode *XmlNextSibling(const XmlNode *Node) {
  if (Node == nullptr || Node->ParentNode == nullptr ||
      Node->Link.ForwardLink == &Node->ParentNode->ChildrenListHead) {
    return nullptr;
  }
  return const_cast<XmlNode *>(XmlNodeFromLink(Node->Link.ForwardLink));
}

const CHAR8 *XmlFindAttribute(const XmlNode *Node, const CHAR8 *Name) {
  if (Node == nullptr || Name == nullptr) {
    return nullptr;
  }
  const LIST_ENTRY *head = &Node->AttributesListHead;
  for (const LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
    const auto *attribute = reinterpret_cast<const XmlAttribute *>(link);
    UINTN i = 0;
    while (attribute->Name[i] == Name[i] && Name[i] != '\0') {
      i++;
    }
    if (attribute->Name[i] == Name[i]) {
      return attribute->Value;
    }
  }
  return nullptr;
}

XmlNode *XmlFindChild(const XmlNode *Node, const CHAR8 *Name) {
  if (Node == nullptr || Name == nullptr) {
    return nullptr;
  }
  const LIST_ENTRY *head = &Node->ChildrenListHead;
  for (const LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
    const CHAR8 *candidate = XmlNodeFromLink(link)->Name;
    if (candidate == nullptr) {
      continue; // a child emptied with XmlFreeNodeContents
    }
    UINTN i = 0;
    while (i < XML_NAME_COMPARE_LIMIT && candidate[i] == Name[i] && Name[i] != '\0') {
      i++;
    }
    if (i == XML_NAME_COMPARE_LIMIT || candidate[i] == Name[i]) {
      return const_cast<XmlNode *>(XmlNodeFromLink(link));
    }
  }
  return nullptr;
}

VOID XmlDebugDump(const XmlNode *Node, UINTN Level) {
  (VOID) Node;
  (VOID) Level;
}
