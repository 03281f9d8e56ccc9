// Fuzz target for the XML library: XmlParse on any bytes, then
// XmlTreeToString and XmlFreeTree on what it built.
//
// Checked on every input: the general tokenizer alone (without the fast
// path for plain ASCII markup) gives the same status and the same tree; the
// tree's counters match its lists and parent links; a written tree parses back to the same tree
// (element text comes back in its escaped form, since the parser keeps text verbatim); a rerun that
// fails one allocation of the parse reports OUT_OF_RESOURCES with no tree; nothing leaks (the
// pool's counters, and LeakSanitizer).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/HostPool.h"
#include "xml/Xml.h"
#include "xml/XmlInternal.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    abort();
  }
}

const XmlNode *NodeOf(const LIST_ENTRY *link) {
  return reinterpret_cast<const XmlNode *>(link);
}

// Structure invariants, without recursion (trees may be very deep).
void CheckTree(const XmlNode *root) {
  Check(root->ParentNode == nullptr);
  const XmlNode *node = root;
  for (;;) {
    Check(node->Name != nullptr && node->Name[0] != '\0');
    Check(node->Value == nullptr || node->Value[0] != '\0');
    UINT64 attributes = 0;
    const LIST_ENTRY *head = &node->AttributesListHead;
    for (const LIST_ENTRY *l = head->ForwardLink; l != head; l = l->ForwardLink) {
      const XmlAttribute *a = reinterpret_cast<const XmlAttribute *>(l);
      Check(a->ParentNode == node && a->Name != nullptr && a->Value != nullptr && a->Value[0]);
      Check(l->ForwardLink->BackLink == l);
      attributes++;
    }
    Check(attributes == node->NumAttributes);
    UINT64 children = 0;
    head = &node->ChildrenListHead;
    for (const LIST_ENTRY *l = head->ForwardLink; l != head; l = l->ForwardLink) {
      Check(NodeOf(l)->ParentNode == node && l->ForwardLink->BackLink == l);
      children++;
    }
    Check(children == node->NumChildren);
    // Next node in document order.
    if (children != 0) {
      node = NodeOf(node->ChildrenListHead.ForwardLink);
      continue;
    }
    while (node != root) {
      const XmlNode *parent = node->ParentNode;
      if (node->Link.ForwardLink != &parent->ChildrenListHead) {
        node = NodeOf(node->Link.ForwardLink);
        break;
      }
      node = parent;
    }
    if (node == root) {
      return;
    }
  }
}

bool SameText(const CHAR8 *a, const CHAR8 *b) {
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  return strcmp(a, b) == 0;
}

// How two trees must agree: exactly, or as a tree and the tree that reading
// back its written text gives (element text escaped once, and attributes
// named "xmlns" gone).
enum class Agreement { Exact, WrittenAndRead };

// Same structure, names, attributes and declaration.
void CheckSameTree(const XmlNode *first, const XmlNode *second, Agreement agreement) {
  bool exact = agreement == Agreement::Exact;
  const XmlNode *a = first;
  const XmlNode *b = second;
  for (;;) {
    Check(SameText(a->Name, b->Name) && SameText(a->XmlDeclaration, b->XmlDeclaration));
    Check(a->NumChildren == b->NumChildren);
    if (a->Value == nullptr || exact) {
      Check(SameText(a->Value, b->Value));
    } else {
      CHAR8 *escaped = nullptr;
      Check(XmlEscape(a->Value, XML_ELEMENT_VALUE_LIMIT, &escaped) == EFI_SUCCESS);
      Check(SameText(escaped, b->Value));
      XmlPoolFree(escaped);
    }
    // An attribute whose local name is "xmlns" (written from "p:xmlns")
    // reads back as a namespace declaration, which the tree does not keep.
    const LIST_ENTRY *ha = &a->AttributesListHead;
    const LIST_ENTRY *hb = &b->AttributesListHead;
    const LIST_ENTRY *lb = hb->ForwardLink;
    for (const LIST_ENTRY *la = ha->ForwardLink; la != ha; la = la->ForwardLink) {
      const XmlAttribute *x = reinterpret_cast<const XmlAttribute *>(la);
      if (!exact && strcmp(x->Name, "xmlns") == 0) {
        continue;
      }
      Check(lb != hb);
      const XmlAttribute *y = reinterpret_cast<const XmlAttribute *>(lb);
      Check(SameText(x->Name, y->Name) && SameText(x->Value, y->Value));
      lb = lb->ForwardLink;
    }
    Check(lb == hb);
    if (a->NumChildren != 0) {
      a = NodeOf(a->ChildrenListHead.ForwardLink);
      b = NodeOf(b->ChildrenListHead.ForwardLink);
      continue;
    }
    while (a != first) {
      const XmlNode *pa = a->ParentNode;
      const XmlNode *pb = b->ParentNode;
      if (a->Link.ForwardLink != &pa->ChildrenListHead) {
        a = NodeOf(a->Link.ForwardLink);
        b = NodeOf(b->Link.ForwardLink);
        break;
      }
      a = pa;
      b = pb;
    }
    if (a == first) {
      return;
    }
  }
}

// True when the input is read as UTF-8 (no UTF-16 or UCS-4 signature), so
// that the written text is the same characters again.
bool ReadAsUtf8(const uint8_t *data, size_t size) {
  static const uint8_t kOther[][4] = {{0xFE, 0xFF},
                                      {0xFF, 0xFE},
                                      {0x00, 0x3C, 0x00, 0x3F},
                                      {0x3C, 0x00, 0x3F, 0x00},
                                      {0x00, 0x00, 0x00, 0x3C},
                                      {0x3C, 0x00, 0x00, 0x00}};
  static const size_t kLength[] = {2, 2, 4, 4, 4, 4};
  for (size_t i = 0; i < 6; i++) {
    if (size >= kLength[i] && memcmp(data, kOther[i], kLength[i]) == 0) {
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  XmlHostPoolReset();
  const CHAR8 *text = reinterpret_cast<const CHAR8 *>(data);
  XmlNode *root = reinterpret_cast<XmlNode *>(1);
  EFI_STATUS status = XmlParse(text, size, &root);
  UINTN parseAllocations = XmlHostPoolGetStats().Allocations;
  XmlNode *general = reinterpret_cast<XmlNode *>(1);
  Check(XmlParseWith(text, size, &general, true) == status);
  if (root == nullptr || general == nullptr) {
    Check(root == general);
  } else {
    CheckSameTree(root, general, Agreement::Exact);
    XmlFreeTree(&general);
  }
  if (EFI_ERROR(status)) {
    Check(root == nullptr && XmlHostPoolOutstanding() == 0);
  } else if (root != nullptr) {
    CheckTree(root);
    UINTN written = 0;
    CHAR8 *output = nullptr;
    EFI_STATUS writeStatus = XmlTreeToString(root, 0, &written, &output);
    if (!EFI_ERROR(writeStatus)) {
      Check(written == strlen(output) + 1);
      if (ReadAsUtf8(data, size)) {
        XmlNode *again = nullptr;
        EFI_STATUS reread = XmlParse(output, written - 1, &again);
        // Escaping can push an attribute value past the parser's 259 bytes.
        Check(reread == EFI_SUCCESS || reread == EFI_BUFFER_TOO_SMALL);
        if (reread == EFI_SUCCESS) {
          Check(again != nullptr);
          CheckSameTree(root, again, Agreement::WrittenAndRead);
          XmlFreeTree(&again);
        }
      }
      XmlPoolFree(output);
    } else {
      Check(writeStatus == EFI_BAD_BUFFER_SIZE || writeStatus == EFI_INVALID_PARAMETER);
    }
    Check(XmlFreeTree(&root) == EFI_SUCCESS && root == nullptr);
  }
  Check(XmlHostPoolOutstanding() == 0);

  // Fail one of the parse's allocations, chosen by the input.
  if (parseAllocations != 0) {
    UINTN hash = 5381;
    for (size_t i = 0; i < size; i++) {
      hash = hash * 33 + data[i];
    }
    XmlHostPoolReset();
    XmlHostPoolFailAt(1 + hash % parseAllocations);
    root = reinterpret_cast<XmlNode *>(1);
    status = XmlParse(text, size, &root);
    Check(status == EFI_OUT_OF_RESOURCES && root == nullptr);
    Check(XmlHostPoolOutstanding() == 0);
  }
  return 0;
}
