#include "tools/zelm-sim/SimXml.h"

#include "host/HostFirmware.h"
#include "support/FirmwareTables.h"
#include "xml/Xml.h"

namespace sim {

namespace {

// The XML library allocates from the boot-services pool through the
// driver's table pointer. Outside a boot the simulator lends it a
// firmware double of its own for the length of one parse.
class ScratchPool {
public:
  ScratchPool() : firmware_(platform_), saved_(gBS) { gBS = firmware_.BootServices(); }
  ~ScratchPool() { gBS = saved_; }
  ScratchPool(const ScratchPool &) = delete;
  ScratchPool &operator=(const ScratchPool &) = delete;

private:
  host::Platform platform_;
  host::Firmware firmware_;
  EFI_BOOT_SERVICES *saved_;
};

std::string Text(const CHAR8 *text) {
  return text != nullptr ? std::string(text) : std::string();
}

XmlNode *NodeOf(LIST_ENTRY *link) {
  return reinterpret_cast<XmlNode *>(link); // the link is the node's first field
}

// Copies Node's name, text and attributes (not its children).
XmlElement Shallow(const XmlNode *node) {
  XmlElement element;
  element.name = Text(node->Name);
  element.value = Text(node->Value);
  // The parser keeps element text verbatim; the writer escaped it, so it
  // is unescaped as the library unescapes (a text beyond its limit stays
  // as it is).
  CHAR8 *plain = nullptr;
  if (element.value.find('&') != std::string::npos &&
      !EFI_ERROR(XmlUnescape(node->Value, XML_ELEMENT_VALUE_LIMIT, &plain))) {
    element.value = Text(plain);
    XmlPoolFree(plain);
  }
  const LIST_ENTRY *head = &node->AttributesListHead;
  for (const LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
    const auto *attribute = reinterpret_cast<const XmlAttribute *>(link);
    element.attributes.emplace_back(Text(attribute->Name), Text(attribute->Value));
  }
  return element;
}

// The whole tree under Root, level by level without recursion.
XmlElement Copy(XmlNode *root) {
  XmlElement out = Shallow(root);
  struct Pending {
    XmlNode *node;
    XmlElement *element;
    size_t depth;
  };
  std::vector<Pending> work = {{root, &out, 1}};
  while (!work.empty()) {
    Pending next = work.back();
    work.pop_back();
    if (next.depth >= kMaxXmlDepth) {
      continue;
    }
    LIST_ENTRY *head = &next.node->ChildrenListHead;
    // Children are all copied before any pointer into the vector is kept.
    for (LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
      next.element->children.push_back(Shallow(NodeOf(link)));
    }
    size_t k = 0;
    for (LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink, k++) {
      work.push_back({NodeOf(link), &next.element->children[k], next.depth + 1});
    }
  }
  return out;
}

} // namespace

const XmlElement *XmlElement::Child(const std::string &childName) const {
  for (const XmlElement &child : children) {
    if (child.name == childName) {
      return &child;
    }
  }
  return nullptr;
}

std::string XmlElement::ChildText(const std::string &childName) const {
  const XmlElement *child = Child(childName);
  return child != nullptr ? child->value : std::string();
}

std::string XmlElement::Attribute(const std::string &attributeName) const {
  for (const auto &[name, value] : attributes) {
    if (name == attributeName) {
      return value;
    }
  }
  return {};
}

std::optional<XmlElement> ReadXml(const std::string &text, bool *complete) {
  if (complete != nullptr) {
    *complete = false;
  }
  if (text.empty() || host::Firmware::Current() != nullptr) {
    return std::nullopt;
  }
  ScratchPool pool;
  XmlNode *root = nullptr;
  EFI_STATUS status = XmlParse(text.data(), text.size(), &root);
  if (complete != nullptr) {
    *complete = !EFI_ERROR(status) && root != nullptr;
  }
  if (root == nullptr) {
    return std::nullopt;
  }
  XmlElement element = Copy(root);
  (void)XmlFreeTree(&root);
  return element;
}

} // namespace sim
