// Each library parses into the tree it normally builds and writes compact
// text into memory. Expat has no tree of its own, so its handlers build the
// smallest one that still holds names, attributes and text as copies.
#include "Libraries.h"

#include "xml/Xml.h"

#include <cstdlib>
#include <cstring>
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlversion.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

namespace zelm_bench {

namespace {

// ---- ours ------------------------------------------------------------------

XmlNode *OursTree(const std::string &text) {
  XmlNode *root = nullptr;
  if (EFI_ERROR(XmlParse(text.data(), text.size(), &root))) {
    return nullptr;
  }
  return root;
}

bool OursParse(const std::string &text) {
  XmlNode *root = OursTree(text);
  if (root == nullptr) {
    return false;
  }
  (VOID) XmlFreeTree(&root);
  return true;
}

size_t OursElements(const XmlNode *node) {
  size_t count = 1;
  for (const LIST_ENTRY *entry = node->ChildrenListHead.ForwardLink;
       entry != &node->ChildrenListHead; entry = entry->ForwardLink) {
    count += OursElements(reinterpret_cast<const XmlNode *>(entry));
  }
  return count;
}

size_t OursCount(const std::string &text) {
  XmlNode *root = OursTree(text);
  if (root == nullptr) {
    return 0;
  }
  size_t count = OursElements(root);
  (VOID) XmlFreeTree(&root);
  return count;
}

class OursWriter : public TreeWriter {
public:
  explicit OursWriter(XmlNode *root) : root_(root) {}
  ~OursWriter() override { (VOID) XmlFreeTree(&root_); }

  size_t Write() override {
    UINTN size = 0;
    CHAR8 *text = nullptr;
    if (EFI_ERROR(XmlTreeToString(root_, 0, &size, &text))) {
      return 0;
    }
    XmlPoolFree(text);
    return size - 1; // the NUL
  }

private:
  XmlNode *root_;
};

std::unique_ptr<TreeWriter> OursMakeWriter(const std::string &text) {
  XmlNode *root = OursTree(text);
  if (root == nullptr) {
    return nullptr;
  }
  return std::make_unique<OursWriter>(root);
}

// ---- expat -----------------------------------------------------------------

struct MiniAttribute {
  char *name;
  char *value;
  MiniAttribute *next;
};

struct MiniNode {
  char *name;
  char *text;
  MiniAttribute *attributes;
  MiniAttribute *lastAttribute;
  MiniNode *parent;
  MiniNode *firstChild;
  MiniNode *lastChild;
  MiniNode *next;
};

char *CopyOf(const char *text, size_t length) {
  char *copy = static_cast<char *>(std::malloc(length + 1));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void FreeMiniTree(MiniNode *node) {
  while (node != nullptr) {
    FreeMiniTree(node->firstChild);
    for (MiniAttribute *attribute = node->attributes; attribute != nullptr;) {
      MiniAttribute *next = attribute->next;
      std::free(attribute->name);
      std::free(attribute->value);
      std::free(attribute);
      attribute = next;
    }
    std::free(node->name);
    std::free(node->text);
    MiniNode *next = node->next;
    std::free(node);
    node = next;
  }
}

struct MiniBuilder {
  MiniNode *root = nullptr;
  MiniNode *current = nullptr;
  std::string text; // character data since the last tag

  // Like our tree, an element keeps its last run of text that is not only
  // white space.
  void TakeText() {
    if (current != nullptr && text.find_first_not_of(" \t\r\n") != std::string::npos) {
      std::free(current->text);
      current->text = CopyOf(text.data(), text.size());
    }
    text.clear();
  }

  static void XMLCALL Start(void *data, const XML_Char *name, const XML_Char **attributes) {
    MiniBuilder *builder = static_cast<MiniBuilder *>(data);
    builder->TakeText();
    MiniNode *node = static_cast<MiniNode *>(std::calloc(1, sizeof(MiniNode)));
    node->name = CopyOf(name, std::strlen(name));
    for (size_t i = 0; attributes[i] != nullptr; i += 2) {
      MiniAttribute *attribute =
          static_cast<MiniAttribute *>(std::calloc(1, sizeof(MiniAttribute)));
      attribute->name = CopyOf(attributes[i], std::strlen(attributes[i]));
      attribute->value = CopyOf(attributes[i + 1], std::strlen(attributes[i + 1]));
      if (node->lastAttribute == nullptr) {
        node->attributes = attribute;
      } else {
        node->lastAttribute->next = attribute;
      }
      node->lastAttribute = attribute;
    }
    MiniNode *parent = builder->current;
    node->parent = parent;
    if (parent == nullptr) {
      if (builder->root == nullptr) {
        builder->root = node;
      } else {
        FreeMiniTree(node); // expat reports a second root as an error anyway
        return;
      }
    } else if (parent->lastChild == nullptr) {
      parent->firstChild = node;
      parent->lastChild = node;
    } else {
      parent->lastChild->next = node;
      parent->lastChild = node;
    }
    builder->current = node;
  }

  static void XMLCALL End(void *data, const XML_Char *) {
    MiniBuilder *builder = static_cast<MiniBuilder *>(data);
    builder->TakeText();
    if (builder->current != nullptr) {
      builder->current = builder->current->parent;
    }
  }

  static void XMLCALL Characters(void *data, const XML_Char *text, int length) {
    static_cast<MiniBuilder *>(data)->text.append(text, static_cast<size_t>(length));
  }
};

MiniNode *ExpatTree(const std::string &text) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) {
    return nullptr;
  }
  MiniBuilder builder;
  XML_SetUserData(parser, &builder);
  XML_SetElementHandler(parser, MiniBuilder::Start, MiniBuilder::End);
  XML_SetCharacterDataHandler(parser, MiniBuilder::Characters);
  bool parsed =
      XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  if (!parsed) {
    FreeMiniTree(builder.root);
    return nullptr;
  }
  return builder.root;
}

bool ExpatParse(const std::string &text) {
  MiniNode *root = ExpatTree(text);
  FreeMiniTree(root);
  return root != nullptr;
}

size_t MiniElements(const MiniNode *node) {
  size_t count = 0;
  for (; node != nullptr; node = node->next) {
    count += 1 + MiniElements(node->firstChild);
  }
  return count;
}

size_t ExpatCount(const std::string &text) {
  MiniNode *root = ExpatTree(text);
  size_t count = MiniElements(root);
  FreeMiniTree(root);
  return count;
}

// ---- libxml2 ---------------------------------------------------------------

xmlDocPtr LibxmlTree(const std::string &text) {
  return xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0);
}

bool LibxmlParse(const std::string &text) {
  xmlDocPtr document = LibxmlTree(text);
  if (document == nullptr) {
    return false;
  }
  xmlFreeDoc(document);
  return true;
}

size_t LibxmlElements(const xmlNode *node) {
  size_t count = 0;
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      count += 1 + LibxmlElements(node->children);
    }
  }
  return count;
}

size_t LibxmlCount(const std::string &text) {
  xmlDocPtr document = LibxmlTree(text);
  if (document == nullptr) {
    return 0;
  }
  size_t count = LibxmlElements(document->children);
  xmlFreeDoc(document);
  return count;
}

class LibxmlWriter : public TreeWriter {
public:
  explicit LibxmlWriter(xmlDocPtr document) : document_(document) {}
  ~LibxmlWriter() override { xmlFreeDoc(document_); }

  size_t Write() override {
    xmlChar *text = nullptr;
    int size = 0;
    xmlDocDumpMemory(document_, &text, &size);
    if (text == nullptr) {
      return 0;
    }
    xmlFree(text);
    return static_cast<size_t>(size);
  }

private:
  xmlDocPtr document_;
};

std::unique_ptr<TreeWriter> LibxmlMakeWriter(const std::string &text) {
  xmlDocPtr document = LibxmlTree(text);
  if (document == nullptr) {
    return nullptr;
  }
  return std::make_unique<LibxmlWriter>(document);
}

// ---- pugixml ---------------------------------------------------------------

bool PugiParse(const std::string &text) {
  pugi::xml_document document;
  return static_cast<bool>(document.load_buffer(text.data(), text.size()));
}

size_t PugiElements(const pugi::xml_node &node) {
  size_t count = 0;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      count += 1 + PugiElements(child);
    }
  }
  return count;
}

size_t PugiCount(const std::string &text) {
  pugi::xml_document document;
  if (!document.load_buffer(text.data(), text.size())) {
    return 0;
  }
  return PugiElements(document);
}

struct StringSink : pugi::xml_writer {
  void write(const void *data, size_t size) override {
    text.append(static_cast<const char *>(data), size);
  }
  std::string text;
};

class PugiWriter : public TreeWriter {
public:
  bool Load(const std::string &text) {
    return static_cast<bool>(document_.load_buffer(text.data(), text.size()));
  }

  size_t Write() override {
    StringSink sink;
    document_.save(sink, "", pugi::format_raw);
    return sink.text.size();
  }

private:
  pugi::xml_document document_;
};

std::unique_ptr<TreeWriter> PugiMakeWriter(const std::string &text) {
  auto writer = std::make_unique<PugiWriter>();
  if (!writer->Load(text)) {
    return nullptr;
  }
  return writer;
}

// ---- tinyxml2 --------------------------------------------------------------

bool TinyParse(const std::string &text) {
  tinyxml2::XMLDocument document;
  return document.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS;
}

size_t TinyElements(const tinyxml2::XMLNode *node) {
  size_t count = 0;
  for (const tinyxml2::XMLElement *child = node->FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    count += 1 + TinyElements(child);
  }
  return count;
}

size_t TinyCount(const std::string &text) {
  tinyxml2::XMLDocument document;
  if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
    return 0;
  }
  return TinyElements(&document);
}

class TinyWriter : public TreeWriter {
public:
  bool Load(const std::string &text) {
    return document_.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS;
  }

  size_t Write() override {
    tinyxml2::XMLPrinter printer(nullptr, true);
    document_.Print(&printer);
    return static_cast<size_t>(printer.CStrSize() - 1); // the NUL
  }

private:
  tinyxml2::XMLDocument document_;
};

std::unique_ptr<TreeWriter> TinyMakeWriter(const std::string &text) {
  auto writer = std::make_unique<TinyWriter>();
  if (!writer->Load(text)) {
    return nullptr;
  }
  return writer;
}

} // namespace

const std::vector<Library> &Libraries() {
  static const std::vector<Library> libraries = [] {
    xmlInitParser();
    return std::vector<Library>{
        {"ours", OursParse, OursCount, OursMakeWriter},
        {"expat", ExpatParse, ExpatCount, nullptr},
        {"libxml2", LibxmlParse, LibxmlCount, LibxmlMakeWriter},
        {"pugixml", PugiParse, PugiCount, PugiMakeWriter},
        {"tinyxml2", TinyParse, TinyCount, TinyMakeWriter},
    };
  }();
  return libraries;
}

std::string LibraryVersions() {
  return std::string(XML_ExpatVersion()) + ", libxml2 " + LIBXML_DOTTED_VERSION + ", pugixml " +
         std::to_string(PUGIXML_VERSION / 1000) + "." +
         std::to_string(PUGIXML_VERSION % 1000 / 10) + ", tinyxml2 " +
         std::to_string(TIXML2_MAJOR_VERSION) + "." + std::to_string(TIXML2_MINOR_VERSION) + "." +
         std::to_string(TIXML2_PATCH_VERSION);
}

} // namespace zelm_bench
