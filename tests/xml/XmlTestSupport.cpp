#include "XmlTestSupport.h"

#include "xml/XmlInternal.h"

#include <cstdio>

namespace {

std::string StatusString(EFI_STATUS status) {
  char text[40];
  std::snprintf(text, sizeof(text), "<status 0x%llX>", static_cast<unsigned long long>(status));
  return text;
}

} // namespace

std::string Serialize(const XmlNode *root) {
  UINTN size = 0;
  CHAR8 *text = nullptr;
  EFI_STATUS status = XmlTreeToString(root, 0, &size, &text);
  if (EFI_ERROR(status)) {
    return StatusString(status);
  }
  std::string result(text, size - 1);
  EXPECT_EQ(text[size - 1], '\0');
  XmlPoolFree(text);
  return result;
}

EFI_STATUS ParseBytes(const std::string &bytes, TreeGuard &tree) {
  ExactBuffer input(bytes);
  XmlNode **root = tree.address();
  EFI_STATUS status = XmlParse(input.data(), input.size(), root);
  if (EFI_ERROR(status)) {
    EXPECT_EQ(*root, nullptr) << "a failed parse left a tree";
  }
  return status;
}

namespace {

std::string WrittenOrStatus(EFI_STATUS status, const TreeGuard &tree) {
  if (EFI_ERROR(status)) {
    return StatusString(status);
  }
  if (tree.get() == nullptr) {
    return "<null>";
  }
  return Serialize(tree.get());
}

} // namespace

// The parser reads plain ASCII markup on a fast path; the general tokenizer
// alone must read every input to the same result.
std::string ParseAndWrite(const std::string &bytes) {
  TreeGuard tree;
  std::string result = WrittenOrStatus(ParseBytes(bytes, tree), tree);
  ExactBuffer input(bytes);
  TreeGuard general;
  EFI_STATUS status = XmlParseWith(input.data(), input.size(), general.address(), true);
  EXPECT_EQ(WrittenOrStatus(status, general), result) << "general tokenizer disagrees";
  return result;
}

std::string Widen(const std::string &ascii, int unitBytes, bool bigEndian, bool mark) {
  std::string out;
  auto put = [&](unsigned value) {
    for (int i = 0; i < unitBytes; i++) {
      int shift = bigEndian ? 8 * (unitBytes - 1 - i) : 8 * i;
      out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
  };
  if (mark) {
    put(0xFEFF);
  }
  for (unsigned char c : ascii) {
    put(c);
  }
  return out;
}
