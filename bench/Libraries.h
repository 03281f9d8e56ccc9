// Our XML library and its peers behind the same two operations, so that the
// benchmark times each of them the same way.
#ifndef ZELM_BENCH_LIBRARIES_H_
#define ZELM_BENCH_LIBRARIES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zelm_bench {

// A parsed tree kept for writing it out again and again.
class TreeWriter {
public:
  virtual ~TreeWriter() = default;
  // Serialises the tree to text in memory and releases the text; returns
  // the text's length, 0 on failure.
  virtual size_t Write() = 0;
};

struct Library {
  const char *name;
  // Parses text into the library's tree and releases the tree again; false
  // when the text does not parse.
  bool (*parse)(const std::string &text);
  // Elements in the tree built from text; 0 when it does not parse. Checks
  // that every library reads the whole document.
  size_t (*countElements)(const std::string &text);
  // A parsed tree of text for writing, or null when the text does not parse;
  // the member itself is null for a library without a writer.
  std::unique_ptr<TreeWriter> (*makeWriter)(const std::string &text);
};

// Ours first, then the peers.
const std::vector<Library> &Libraries();

// One line naming every library's version.
std::string LibraryVersions();

} // namespace zelm_bench

#endif
