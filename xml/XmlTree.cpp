// The element tree: creating nodes and attributes, finding children and
// releasing trees of any depth.
#include "XmlInternal.h"

namespace {

// Releases a node's attributes and strings; its children are the caller's.
VOID FreeOwnData(XmlNode *node) {
  LIST_ENTRY *head = &node->AttributesListHead;
  while (!XmlListEmpty(head)) {
    XmlAttribute *attribute = reinterpret_cast<XmlAttribute *>(head->ForwardLink);
    XmlPoolFree(attribute->Name);
    XmlPoolFree(attribute->Value);
    attribute->Name = nullptr;
    attribute->Value = nullptr;
    attribute->ParentNode = nullptr;
    XmlListRemove(&attribute->Link);
    node->NumAttributes--;
    XmlPoolFree(attribute);
  }
  XmlPoolFree(node->XmlDeclaration);
  XmlPoolFree(node->Name);
  XmlPoolFree(node->Value);
  node->XmlDeclaration = nullptr;
  node->Name = nullptr;
  node->Value = nullptr;
}

// The common part of XmlAddNode and the parser's element creation. value is
// a NUL-terminated text to unescape, or NULL.
EFI_STATUS CreateNode(XmlNode *parent, const CHAR8 *name, UINTN nameLength, const CHAR8 *value,
                      XmlNode **newNode) {
  if (newNode != nullptr) {
    *newNode = nullptr;
  }
  XmlNode *node = static_cast<XmlNode *>(XmlPoolAllocate(sizeof(XmlNode)));
  if (node == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  XmlZeroBytes(node, sizeof(XmlNode));
  node->Name = XmlCopyString(name, nameLength);
  if (node->Name == nullptr) {
    XmlPoolFree(node);
    return EFI_OUT_OF_RESOURCES;
  }
  if (value != nullptr && value[0] != '\0') {
    UINTN valueLength = XmlBoundedLength(value, XML_ELEMENT_VALUE_LIMIT);
    EFI_STATUS status = XmlUnescapeBytes(value, valueLength, XML_ELEMENT_VALUE_LIMIT, &node->Value);
    if (EFI_ERROR(status)) {
      XmlPoolFree(node->Name);
      XmlPoolFree(node);
      return status;
    }
  }
  node->ParentNode = parent;
  XmlListInit(&node->ChildrenListHead);
  XmlListInit(&node->AttributesListHead);
  if (parent != nullptr) {
    XmlListInsertTail(&parent->ChildrenListHead, &node->Link);
    parent->NumChildren++;
  }
  if (newNode != nullptr) {
    *newNode = node;
  }
  return EFI_SUCCESS;
}

} // namespace

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
  return CreateNode(Parent, Name, nameLength, Value, NewNode);
}

EFI_STATUS XmlAddNodeBytes(XmlNode *parent, const CHAR8 *name, UINTN nameLength,
                           XmlNode **newNode) {
  if (nameLength == 0) {
    return EFI_INVALID_PARAMETER;
  }
  return CreateNode(parent, name, nameLength, nullptr, newNode);
}

EFI_STATUS XmlAddAttributeBytes(XmlNode *node, const CHAR8 *name, UINTN nameLength,
                                const CHAR8 *value, UINTN valueLength) {
  if (node == nullptr || nameLength == 0 || valueLength == 0) {
    return EFI_INVALID_PARAMETER;
  }
  XmlAttribute *attribute = static_cast<XmlAttribute *>(XmlPoolAllocate(sizeof(XmlAttribute)));
  if (attribute == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  XmlZeroBytes(attribute, sizeof(XmlAttribute));
  attribute->Name = XmlCopyString(name, nameLength);
  if (attribute->Name == nullptr) {
    XmlPoolFree(attribute);
    return EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status =
      XmlUnescapeBytes(value, valueLength, XML_ATTRIBUTE_VALUE_LIMIT, &attribute->Value);
  if (EFI_ERROR(status)) {
    XmlPoolFree(attribute->Name);
    XmlPoolFree(attribute);
    return status;
  }
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
    XmlListRemove(&child->Link);
    Node->NumChildren--;
    LIST_ENTRY *grandchildren = &child->ChildrenListHead;
    if (!XmlListEmpty(grandchildren)) {
      LIST_ENTRY *first = grandchildren->ForwardLink;
      LIST_ENTRY *last = grandchildren->BackLink;
      last->ForwardLink = head->ForwardLink;
      head->ForwardLink->BackLink = last;
      first->BackLink = head;
      head->ForwardLink = first;
      Node->NumChildren += child->NumChildren;
      XmlListInit(grandchildren);
      child->NumChildren = 0;
    }
    FreeOwnData(child);
    XmlPoolFree(child);
  }
  FreeOwnData(Node);
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
