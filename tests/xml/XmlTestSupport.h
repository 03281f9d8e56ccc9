// Shared helpers for the XML library tests: a fixture that fails a test on
// any pool block left behind, and small wrappers that keep inputs in
// exactly-sized heap buffers so that the sanitizer sees any over-read.
#ifndef ZELM_TESTS_XML_TEST_SUPPORT_H_
#define ZELM_TESTS_XML_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "xml/HostPool.h"
#include "xml/Xml.h"

class XmlPoolTest : public ::testing::Test {
protected:
  void SetUp() override { XmlHostPoolReset(); }
  void TearDown() override {
    XmlHostPoolFailAt(0);
    EXPECT_EQ(XmlHostPoolOutstanding(), 0u) << "pool blocks leaked";
  }
};

// Input bytes in a heap block of exactly their size.
class ExactBuffer {
public:
  explicit ExactBuffer(const std::string &bytes)
      : size_(bytes.size()), data_(new char[bytes.size() == 0 ? 1 : bytes.size()]) {
    bytes.copy(data_.get(), bytes.size());
  }
  const CHAR8 *data() const { return data_.get(); }
  size_t size() const { return size_; }

private:
  size_t size_;
  std::unique_ptr<char[]> data_;
};

// Releases a tree at the end of a scope.
class TreeGuard {
public:
  explicit TreeGuard(XmlNode *root = nullptr) : root_(root) {}
  ~TreeGuard() { reset(); }
  TreeGuard(const TreeGuard &) = delete;
  TreeGuard &operator=(const TreeGuard &) = delete;
  XmlNode *get() const { return root_; }
  XmlNode **address() {
    reset();
    return &root_;
  }
  void reset() {
    if (root_ != nullptr) {
      XmlFreeTree(&root_);
    }
  }

private:
  XmlNode *root_;
};

// XmlTreeToString as a string; "<error:...>" text on failure.
std::string Serialize(const XmlNode *root);

// XmlParse on an exact copy of the bytes.
EFI_STATUS ParseBytes(const std::string &bytes, TreeGuard &tree);

// Parses and serialises: the written text, "<null>" for SUCCESS with no
// tree, or "<status 0x...>" for a failure.
std::string ParseAndWrite(const std::string &bytes);

// Input in UTF-16 or UCS-4 from ASCII text, with an optional byte-order mark.
std::string Widen(const std::string &ascii, int unitBytes, bool bigEndian, bool mark);

#endif
