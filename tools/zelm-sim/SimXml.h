// Reading XML the way the driver reads it: the project's own parser
// (XmlParse), the tree copied into plain values. Packets, result packets and
// the published documents are all read so.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_XML_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_XML_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct XmlElement {
  std::string name;
  std::string value; // the element's text, entity references replaced; empty when none
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlElement> children;

  // The first child named Name, or NULL.
  const XmlElement *Child(const std::string &childName) const;
  // The text of the first child named Name, or empty.
  std::string ChildText(const std::string &childName) const;
  // The value of the first attribute named Name, or empty.
  std::string Attribute(const std::string &attributeName) const;
};

// The root of Text as XmlParse reads it (a lenient parse gives the tree up
// to the first error), or empty when it yields no tree. Elements below
// kMaxXmlDepth are left out: nothing the simulator reads is deeper. Runs
// the parser on a pool of its own, so no boot may be running. *Complete,
// when given, tells whether the whole text parsed.
constexpr size_t kMaxXmlDepth = 32;
std::optional<XmlElement> ReadXml(const std::string &text, bool *complete = nullptr);

} // namespace sim

#endif
