// Owns one XML tree until released or destroyed.
#ifndef ZELM_SUPPORT_XML_TREE_GUARD_H_
#define ZELM_SUPPORT_XML_TREE_GUARD_H_

#include "xml/Xml.h"

class XmlTreeGuard {
public:
  XmlTreeGuard() = default;
  XmlTreeGuard(const XmlTreeGuard &) = delete;
  XmlTreeGuard &operator=(const XmlTreeGuard &) = delete;
  ~XmlTreeGuard() { reset(); }

  XmlNode *get() const { return root_; }
  // Where a parse stores its tree; an earlier tree is released first.
  XmlNode **out() {
    reset();
    return &root_;
  }
  XmlNode *release() {
    XmlNode *root = root_;
    root_ = nullptr;
    return root;
  }
  void reset() {
    if (root_ != nullptr) {
      (VOID) XmlFreeTree(&root_);
    }
  }

private:
  XmlNode *root_ = nullptr;
};

#endif
