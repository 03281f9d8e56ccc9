// The benchmark's input documents: generated the same way on every run and
// kept as files under bench/corpus so that a run can be repeated elsewhere
// and checked against them.
#ifndef ZELM_BENCH_CORPUS_H_
#define ZELM_BENCH_CORPUS_H_

#include <string>
#include <vector>

namespace zelm_bench {

struct Document {
  std::string name; // also the corpus file name, without ".xml"
  std::string text;
};

// The largest settings packet the driver accepts (24 KiB), a typical 2 KiB
// one and an 8 KiB results document, in that order.
std::vector<Document> GenerateDocuments();

// Writes every document as <directory>/<name>.xml; false on an I/O error.
bool WriteCorpus(const std::string &directory, const std::vector<Document> &documents);

// Compares the documents with the files under directory; on a difference
// returns false and describes it in *problem.
bool CheckCorpus(const std::string &directory, const std::vector<Document> &documents,
                 std::string *problem);

} // namespace zelm_bench

#endif
