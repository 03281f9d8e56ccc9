// Building, searching and releasing trees.
#include <cstring>
#include <string>

#include "XmlTestSupport.h"

namespace {

using XmlTree = XmlPoolTest;

bool ListEmpty(const LIST_ENTRY *head) {
  return head->ForwardLink == head && head->BackLink == head;
}

XmlNode *NthChild(XmlNode *node, int n) {
  LIST_ENTRY *link = node->ChildrenListHead.ForwardLink;
  while (n-- > 0) {
    link = link->ForwardLink;
  }
  return reinterpret_cast<XmlNode *>(link);
}

// A chain of `depth` nested elements under a root.
XmlNode *Chain(UINTN depth) {
  XmlNode *root = nullptr;
  EXPECT_EQ(XmlAddNode(nullptr, "n", nullptr, &root), EFI_SUCCESS);
  XmlNode *node = root;
  for (UINTN i = 0; i < depth; i++) {
    EXPECT_EQ(XmlAddNode(node, "n", "v", &node), EFI_SUCCESS);
  }
  return root;
}

TEST_F(XmlTree, RootWithoutParentOrValueIsEmpty) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "Root", nullptr, tree.address()), EFI_SUCCESS);
  XmlNode *root = tree.get();
  EXPECT_STREQ(root->Name, "Root");
  EXPECT_EQ(root->Value, nullptr);
  EXPECT_EQ(root->ParentNode, nullptr);
  EXPECT_EQ(root->Link.ForwardLink, nullptr);
  EXPECT_EQ(root->Link.BackLink, nullptr);
  EXPECT_EQ(root->XmlDeclaration, nullptr);
  EXPECT_TRUE(ListEmpty(&root->ChildrenListHead));
  EXPECT_TRUE(ListEmpty(&root->AttributesListHead));
  EXPECT_EQ(root->NumChildren, 0u);
  EXPECT_EQ(root->NumAttributes, 0u);
}

TEST_F(XmlTree, ValuesAreStoredUnescaped) {
  struct Row {
    const char *value;
    const char *stored; // nullptr: no text
  } rows[] = {
      {nullptr, nullptr},       {"", nullptr},
      {"plain", "plain"},       {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
      {"a&b&#38;", "a&b&#38;"}, {"&amp;lt;", "&lt;"},
  };
  for (const Row &row : rows) {
    TreeGuard tree;
    ASSERT_EQ(XmlAddNode(nullptr, "E", row.value, tree.address()), EFI_SUCCESS);
    if (row.stored == nullptr) {
      EXPECT_EQ(tree.get()->Value, nullptr) << row.value;
    } else {
      EXPECT_STREQ(tree.get()->Value, row.stored);
    }
  }
}

TEST_F(XmlTree, ChildrenKeepCallOrder) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "P", nullptr, tree.address()), EFI_SUCCESS);
  XmlNode *children[3];
  const char *names[] = {"A", "B", "C"};
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(XmlAddNode(tree.get(), names[i], nullptr, &children[i]), EFI_SUCCESS);
    EXPECT_EQ(children[i]->ParentNode, tree.get());
  }
  EXPECT_EQ(tree.get()->NumChildren, 3u);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(NthChild(tree.get(), i), children[i]);
  }
  EXPECT_EQ(tree.get()->ChildrenListHead.BackLink, &children[2]->Link);
  EXPECT_EQ(children[0]->Link.BackLink, &tree.get()->ChildrenListHead);
}

TEST_F(XmlTree, AddNodeRefusesBadArgumentsAndLeavesAddressAlone) {
  XmlNode sentinel;
  XmlNode *out = &sentinel;
  EXPECT_EQ(XmlAddNode(nullptr, nullptr, "v", &out), EFI_INVALID_PARAMETER);
  EXPECT_EQ(out, &sentinel);
  EXPECT_EQ(XmlAddNode(nullptr, "", "v", &out), EFI_INVALID_PARAMETER);
  EXPECT_EQ(out, &sentinel);
  TreeGuard parent;
  ASSERT_EQ(XmlAddNode(nullptr, "P", nullptr, parent.address()), EFI_SUCCESS);
  EXPECT_EQ(XmlAddNode(parent.get(), "E", nullptr, nullptr), EFI_SUCCESS)
      << "the address for the node is optional";
  EXPECT_EQ(parent.get()->NumChildren, 1u);
}

TEST_F(XmlTree, ValueLimits) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "E", nullptr, tree.address()), EFI_SUCCESS);
  std::string longest(XML_ELEMENT_VALUE_LIMIT, 'x');
  EXPECT_EQ(XmlAddNode(tree.get(), "Ok", longest.c_str(), nullptr), EFI_SUCCESS);
  XmlNode *out = nullptr;
  EXPECT_EQ(XmlAddNode(tree.get(), "Long", (longest + "x").c_str(), &out), EFI_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tree.get()->NumChildren, 1u);

  std::string attribute(XML_ATTRIBUTE_VALUE_LIMIT, 'a');
  EXPECT_EQ(XmlAddAttribute(tree.get(), "ok", attribute.c_str()), EFI_SUCCESS);
  EXPECT_EQ(XmlAddAttribute(tree.get(), "long", (attribute + "a").c_str()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(tree.get()->NumAttributes, 1u);
}

TEST_F(XmlTree, AttributeArguments) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "E", nullptr, tree.address()), EFI_SUCCESS);
  struct Row {
    XmlNode *node;
    const char *name;
    const char *value;
    EFI_STATUS status;
  } rows[] = {
      {nullptr, "a", "v", EFI_INVALID_PARAMETER},
      {tree.get(), nullptr, "v", EFI_INVALID_PARAMETER},
      {tree.get(), "", "v", EFI_INVALID_PARAMETER},
      {tree.get(), "a", nullptr, EFI_INVALID_PARAMETER},
      {tree.get(), "a", "", EFI_INVALID_PARAMETER},
      {tree.get(), "a", "1&amp;2", EFI_SUCCESS},
      {tree.get(), "a", "dup", EFI_SUCCESS},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(XmlAddAttribute(row.node, row.name, row.value), row.status);
  }
  ASSERT_EQ(tree.get()->NumAttributes, 2u);
  // Names are read with a bound of a million characters.
  const std::string longest(1000000, 'n');
  const std::string tooLong = longest + "n";
  EXPECT_EQ(XmlAddAttribute(tree.get(), tooLong.c_str(), "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlAddNode(tree.get(), tooLong.c_str(), nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(tree.get()->NumAttributes, 2u);
  EXPECT_EQ(tree.get()->NumChildren, 0u);
  XmlNode *child = nullptr;
  ASSERT_EQ(XmlAddNode(tree.get(), longest.c_str(), nullptr, &child), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(child, longest.c_str(), "v"), EFI_SUCCESS);
  EXPECT_EQ(std::strlen(child->Name), longest.size());
  ASSERT_EQ(tree.get()->NumChildren, 1u);
  auto *first = reinterpret_cast<XmlAttribute *>(tree.get()->AttributesListHead.ForwardLink);
  EXPECT_STREQ(first->Name, "a");
  EXPECT_STREQ(first->Value, "1&2");
  EXPECT_EQ(first->ParentNode, tree.get());
}

TEST_F(XmlTree, FindChildComparesWholeNamesUpToFiftyCharacters) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", nullptr, tree.address()), EFI_SUCCESS);
  std::string fifty(50, 'k');
  XmlNode *identifier;
  XmlNode *id;
  XmlNode *longName;
  ASSERT_EQ(XmlAddNode(tree.get(), "Identifier", nullptr, &identifier), EFI_SUCCESS);
  ASSERT_EQ(XmlAddNode(tree.get(), "Id", nullptr, &id), EFI_SUCCESS);
  ASSERT_EQ(XmlAddNode(tree.get(), "Id", nullptr, nullptr), EFI_SUCCESS);
  ASSERT_EQ(XmlAddNode(tree.get(), (fifty + "A").c_str(), nullptr, &longName), EFI_SUCCESS);
  EXPECT_EQ(XmlFindChild(tree.get(), "Id"), id);
  EXPECT_EQ(XmlFindChild(tree.get(), "I"), nullptr);
  EXPECT_EQ(XmlFindChild(tree.get(), "Identifier"), identifier);
  EXPECT_EQ(XmlFindChild(tree.get(), (fifty + "B").c_str()), longName);
  EXPECT_EQ(XmlFindChild(tree.get(), fifty.c_str()), longName);
  EXPECT_EQ(XmlFindChild(tree.get(), fifty.substr(1).c_str()), nullptr);
  EXPECT_EQ(XmlFindChild(tree.get(), "R"), nullptr) << "only direct children";
  EXPECT_EQ(XmlFindChild(nullptr, "Id"), nullptr);
  EXPECT_EQ(XmlFindChild(tree.get(), nullptr), nullptr);
}

TEST_F(XmlTree, WalkingHelpersFollowDocumentOrderAndCompareAttributeNamesExactly) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", nullptr, tree.address()), EFI_SUCCESS);
  XmlNode *first;
  XmlNode *second;
  ASSERT_EQ(XmlAddNode(tree.get(), "A", nullptr, &first), EFI_SUCCESS);
  ASSERT_EQ(XmlAddNode(tree.get(), "B", "text", &second), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "Append", "True"), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "Default", "3"), EFI_SUCCESS);
  ASSERT_EQ(XmlAddAttribute(tree.get(), "Append", "second"), EFI_SUCCESS);
  EXPECT_EQ(XmlFirstChild(tree.get()), first);
  EXPECT_EQ(XmlNextSibling(first), second);
  EXPECT_EQ(XmlNextSibling(second), nullptr);
  EXPECT_EQ(XmlNextSibling(tree.get()), nullptr) << "a root has no siblings";
  EXPECT_EQ(XmlFirstChild(first), nullptr);
  EXPECT_EQ(XmlFirstChild(nullptr), nullptr);
  EXPECT_EQ(XmlNextSibling(nullptr), nullptr);
  EXPECT_STREQ(XmlFindAttribute(tree.get(), "Append"), "True") << "the first of that name";
  EXPECT_STREQ(XmlFindAttribute(tree.get(), "Default"), "3");
  EXPECT_EQ(XmlFindAttribute(tree.get(), "Appen"), nullptr);
  EXPECT_EQ(XmlFindAttribute(tree.get(), "AppendX"), nullptr);
  EXPECT_EQ(XmlFindAttribute(tree.get(), "append"), nullptr);
  EXPECT_EQ(XmlFindAttribute(first, "Append"), nullptr);
  EXPECT_EQ(XmlFindAttribute(nullptr, "Append"), nullptr);
  EXPECT_EQ(XmlFindAttribute(tree.get(), nullptr), nullptr);
}

TEST_F(XmlTree, FreeTreeReleasesEverythingAndClearsThePointer) {
  XmlNode *root = Chain(5);
  ASSERT_EQ(XmlAddAttribute(NthChild(root, 0), "a", "b"), EFI_SUCCESS);
  ASSERT_EQ(XmlAddNode(root, "second", "x", nullptr), EFI_SUCCESS);
  EXPECT_GT(XmlHostPoolOutstanding(), 0u);
  EXPECT_EQ(XmlFreeTree(&root), EFI_SUCCESS);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(XmlHostPoolOutstanding(), 0u);
  EXPECT_EQ(XmlFreeTree(&root), EFI_INVALID_PARAMETER);
  EXPECT_EQ(XmlFreeTree(nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(XmlTree, FreeNodeContentsKeepsTheEmptyRecord) {
  XmlNode *root = Chain(3);
  XmlNode *child = NthChild(root, 0);
  ASSERT_EQ(XmlAddAttribute(child, "a", "b"), EFI_SUCCESS);
  ASSERT_EQ(XmlFreeNodeContents(child), EFI_SUCCESS);
  EXPECT_EQ(child->Name, nullptr);
  EXPECT_EQ(child->Value, nullptr);
  EXPECT_EQ(child->ParentNode, nullptr);
  EXPECT_EQ(child->NumChildren, 0u);
  EXPECT_EQ(child->NumAttributes, 0u);
  EXPECT_TRUE(ListEmpty(&child->ChildrenListHead));
  EXPECT_TRUE(ListEmpty(&child->AttributesListHead));
  EXPECT_EQ(XmlFreeNodeContents(nullptr), EFI_INVALID_PARAMETER);
  // Only the root and the emptied child record remain (names live in them).
  EXPECT_EQ(XmlHostPoolOutstanding(), 2u);
  child->Link.BackLink->ForwardLink = child->Link.ForwardLink;
  child->Link.ForwardLink->BackLink = child->Link.BackLink;
  root->NumChildren--;
  XmlPoolFree(child);
  EXPECT_EQ(XmlFreeTree(&root), EFI_SUCCESS);
}

// Releasing recursed once per level; a tree as deep as a large input can
// make must not exhaust the stack.
TEST_F(XmlTree, FreeingAVeryDeepTreeNeedsNoStack) {
  XmlNode *root = Chain(1000000);
  EXPECT_EQ(XmlFreeTree(&root), EFI_SUCCESS);
  EXPECT_EQ(XmlHostPoolOutstanding(), 0u);
}

TEST_F(XmlTree, FreeingAWideAndDeepTree) {
  XmlNode *root = nullptr;
  ASSERT_EQ(XmlAddNode(nullptr, "r", nullptr, &root), EFI_SUCCESS);
  for (int i = 0; i < 50; i++) {
    XmlNode *node = root;
    for (int depth = 0; depth < 40; depth++) {
      ASSERT_EQ(XmlAddNode(node, "c", depth % 2 ? "t" : nullptr, &node), EFI_SUCCESS);
      ASSERT_EQ(XmlAddAttribute(node, "k", "v"), EFI_SUCCESS);
    }
  }
  EXPECT_EQ(XmlFreeTree(&root), EFI_SUCCESS);
}

// Every allocation of a build step failing in turn: the step reports
// OUT_OF_RESOURCES, the tree stays as it was, nothing leaks.
TEST_F(XmlTree, ExhaustedPoolLeavesTheTreeUnchanged) {
  TreeGuard tree;
  ASSERT_EQ(XmlAddNode(nullptr, "R", nullptr, tree.address()), EFI_SUCCESS);
  for (UINTN n = 1;; n++) {
    UINTN before = XmlHostPoolOutstanding();
    XmlHostPoolFailAt(n);
    XmlNode *node = nullptr;
    EFI_STATUS status = XmlAddNode(tree.get(), "Child", "a&amp;b", &node);
    XmlHostPoolFailAt(0);
    if (status == EFI_SUCCESS) {
      EXPECT_EQ(n, 2u) << "node, name and value share one block";
      break;
    }
    EXPECT_EQ(status, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(tree.get()->NumChildren, 0u);
    EXPECT_EQ(XmlHostPoolOutstanding(), before);
  }
  XmlNode *child = XmlFindChild(tree.get(), "Child");
  ASSERT_NE(child, nullptr);
  for (UINTN n = 1;; n++) {
    UINTN before = XmlHostPoolOutstanding();
    XmlHostPoolFailAt(n);
    EFI_STATUS status = XmlAddAttribute(child, "name", "v");
    XmlHostPoolFailAt(0);
    if (status == EFI_SUCCESS) {
      break;
    }
    EXPECT_EQ(status, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(child->NumAttributes, 0u);
    EXPECT_TRUE(ListEmpty(&child->AttributesListHead));
    EXPECT_EQ(XmlHostPoolOutstanding(), before);
  }
}

} // namespace
