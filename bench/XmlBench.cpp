// zelm-bench: times our XML library against expat, libxml2, pugixml and
// tinyxml2 on packets of the driver's sizes, parsing into a tree and writing
// a tree to text, and measures the pool our parser needs.
//
//   zelm-bench [Google Benchmark flags]   run (defaults: 10 repetitions of
//                                         at least 0.05 s each, in random
//                                         order across the benchmarks)
//   zelm-bench --write-corpus DIR         write the generated inputs to DIR
//
// After the benchmark table it prints, for scripts:
//   ratio parse <peer> <ours / peer>     geometric mean over the inputs
//   ratio write <peer> <ours / peer>
//   pool-bytes-per-input-byte <x>        24 KiB packet, tree alive
//   pool-allocations <n>
//   efi-size <bytes>                     the firmware image zelm.efi
#include "Corpus.h"
#include "Libraries.h"

#include "xml/HostPool.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace {

using zelm_bench::Document;
using zelm_bench::Libraries;
using zelm_bench::Library;

const char *const kOperations[] = {"parse", "write"};

// The speed we aim for: our time over the peer's at most this; 0 for none.
double TargetRatio(const std::string &operation, const std::string &peer) {
  if (operation == "parse") {
    return peer == "pugixml" ? 1.0 : 0.15;
  }
  return peer == "pugixml" ? 0.7 : 0;
}

std::string BenchmarkName(const char *operation, const Library &library, const Document &document) {
  return std::string(operation) + "/" + library.name + "/" + document.name;
}

double Minimum(const std::vector<double> &values) {
  return *std::min_element(values.begin(), values.end());
}

// Prints the minimum of the repetitions only (the figure the ratios use) and
// keeps every repetition's time for them.
class Reporter : public benchmark::ConsoleReporter {
public:
  Reporter() : benchmark::ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    std::vector<Run> shown;
    for (const Run &run : runs) {
      if (run.error_occurred) {
        shown.push_back(run);
        continue;
      }
      if (run.run_type == Run::RT_Iteration) {
        times_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime());
        if (run.repetitions <= 1) {
          shown.push_back(run);
        }
      } else if (run.aggregate_name == "min") {
        shown.push_back(run);
      }
    }
    if (!shown.empty()) {
      ConsoleReporter::ReportRuns(shown);
    }
  }

  // Minimum time in microseconds, or a negative value when it did not run.
  double Time(const std::string &name) const {
    auto found = times_.find(name);
    return found == times_.end() || found->second.empty() ? -1 : Minimum(found->second);
  }

private:
  std::map<std::string, std::vector<double>> times_;
};

void RegisterBenchmarks(const std::vector<Document> &documents) {
  for (const Document &document : documents) {
    for (const Library &library : Libraries()) {
      benchmark::RegisterBenchmark(BenchmarkName("parse", library, document).c_str(),
                                   [&library, &document](benchmark::State &state) {
                                     for (auto _ : state) {
                                       bool parsed = library.parse(document.text);
                                       benchmark::DoNotOptimize(parsed);
                                     }
                                   })
          ->Unit(benchmark::kMicrosecond)
          ->ComputeStatistics("min", Minimum);
    }
    for (const Library &library : Libraries()) {
      if (library.makeWriter == nullptr) {
        continue;
      }
      benchmark::RegisterBenchmark(BenchmarkName("write", library, document).c_str(),
                                   [&library, &document](benchmark::State &state) {
                                     // One tree, written again and again.
                                     auto writer = library.makeWriter(document.text);
                                     for (auto _ : state) {
                                       size_t written = writer->Write();
                                       benchmark::DoNotOptimize(written);
                                     }
                                   })
          ->Unit(benchmark::kMicrosecond)
          ->ComputeStatistics("min", Minimum);
    }
  }
}

std::string CpuName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        return line.substr(line.find_first_not_of(" \t", colon + 1));
      }
    }
  }
  return "unknown";
}

std::string Compiler() {
#if defined(__clang__)
  return "clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + "." +
         std::to_string(__clang_patchlevel__);
#else
  return __VERSION__;
#endif
}

// Every library must read each document completely, and every writer must
// produce text, or the times compare different work.
bool CheckLibraries(const std::vector<Document> &documents) {
  bool good = true;
  for (const Document &document : documents) {
    size_t expected = Libraries()[1].countElements(document.text);
    std::printf("%-14s %6zu bytes, %4zu elements\n", document.name.c_str(), document.text.size(),
                expected);
    for (const Library &library : Libraries()) {
      size_t count = library.countElements(document.text);
      if (count == 0 || count != expected) {
        std::fprintf(stderr, "zelm-bench: %s reads %zu elements of %s, expat %zu\n", library.name,
                     count, document.name.c_str(), expected);
        good = false;
      }
      if (library.makeWriter != nullptr) {
        auto writer = library.makeWriter(document.text);
        if (writer == nullptr || writer->Write() == 0) {
          std::fprintf(stderr, "zelm-bench: %s does not write %s\n", library.name,
                       document.name.c_str());
          good = false;
        }
      }
    }
  }
  return good;
}

struct PoolUse {
  UINTN peakBytes = 0;
  UINTN allocations = 0;
  UINTN temporaryFrees = 0; // blocks freed before the parse returned
  bool leaked = false;
};

PoolUse MeasurePool(const Document &document) {
  PoolUse use;
  XmlHostPoolReset();
  XmlNode *root = nullptr;
  EFI_STATUS status = XmlParse(document.text.data(), document.text.size(), &root);
  XmlHostPoolStats stats = XmlHostPoolGetStats();
  use.peakBytes = stats.PeakBytes;
  use.allocations = stats.Allocations;
  use.temporaryFrees = stats.Frees;
  if (!EFI_ERROR(status) && root != nullptr) {
    (VOID) XmlFreeTree(&root);
  }
  use.leaked = XmlHostPoolOutstanding() != 0;
  XmlHostPoolReset();
  return use;
}

// Size in bytes of the firmware image built beside the benchmark, or -1.
long long ImageSize(const char *path) {
  std::ifstream image(path, std::ios::binary | std::ios::ate);
  return image ? static_cast<long long>(image.tellg()) : -1;
}

double GeometricMean(const std::vector<double> &values) {
  double logSum = 0;
  for (double value : values) {
    logSum += std::log(value);
  }
  return std::exp(logSum / static_cast<double>(values.size()));
}

// One table per operation: microseconds per document for each library, then
// our ratio to each peer. Returns the ratios by peer.
std::map<std::string, double> PrintOperation(const char *operation, const Reporter &reporter,
                                             const std::vector<Document> &documents) {
  std::printf("\n%s, microseconds per document (minimum over the repetitions, CPU time)\n",
              std::strcmp(operation, "parse") == 0 ? "Parse into a tree and release it"
                                                   : "Write a parsed tree to text in memory");
  std::printf("%-14s %7s", "document", "bytes");
  for (const Library &library : Libraries()) {
    std::printf(" %10s", library.name);
  }
  std::printf("\n");
  std::map<std::string, std::vector<double>> ratios;
  for (const Document &document : documents) {
    std::printf("%-14s %7zu", document.name.c_str(), document.text.size());
    double ours = reporter.Time(BenchmarkName(operation, Libraries()[0], document));
    for (const Library &library : Libraries()) {
      double time = reporter.Time(BenchmarkName(operation, library, document));
      if (time < 0) {
        std::printf(" %10s", "-");
        continue;
      }
      std::printf(" %10.2f", time);
      if (&library != &Libraries()[0] && ours > 0 && time > 0) {
        ratios[library.name].push_back(ours / time);
      }
    }
    std::printf("\n");
  }
  std::map<std::string, double> means;
  std::printf("%-22s", "ours/peer, geo. mean");
  for (const Library &library : Libraries()) {
    auto found = ratios.find(library.name);
    if (&library == &Libraries()[0] || found == ratios.end()) {
      std::printf(" %10s", "");
      continue;
    }
    means[library.name] = GeometricMean(found->second);
    std::printf(" %10.2f", means[library.name]);
  }
  std::printf("\n%-22s", "target");
  for (const Library &library : Libraries()) {
    double target = TargetRatio(operation, library.name);
    auto found = means.find(library.name);
    if (target == 0 || found == means.end()) {
      std::printf(" %10s", "");
      continue;
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%s<=%.2f", found->second <= target ? "met " : "MISS ",
                  target);
    std::printf(" %10s", text);
  }
  std::printf("\n");
  return means;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<Document> documents = zelm_bench::GenerateDocuments();
  if (argc == 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
    if (!zelm_bench::WriteCorpus(argv[2], documents)) {
      std::fprintf(stderr, "zelm-bench: cannot write the corpus to %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  std::string problem;
  if (!zelm_bench::CheckCorpus(ZELM_BENCH_CORPUS_DIR, documents, &problem)) {
    std::fprintf(stderr,
                 "zelm-bench: %s\nAfter changing the generator, rewrite the corpus with "
                 "zelm-bench --write-corpus %s\n",
                 problem.c_str(), ZELM_BENCH_CORPUS_DIR);
    return 1;
  }

  // Defaults first so that flags given on the command line win. The
  // repetitions of all benchmarks run interleaved, so a slow spell of the
  // machine meets ours and the peers alike instead of one library's runs.
  char repetitions[] = "--benchmark_repetitions=10";
  char minTime[] = "--benchmark_min_time=0.05";
  char interleaving[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char *> args = {argv[0], repetitions, minTime, interleaving};
  args.insert(args.end(), argv + 1, argv + argc);
  args.push_back(nullptr);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 1;
  }

  std::printf("CPU: %s\nCompiler: %s (zelm-bench and the XML library built as %s)\n",
              CpuName().c_str(), Compiler().c_str(), ZELM_BENCH_BUILD_TYPE);
  std::printf("Peers: %s\n", zelm_bench::LibraryVersions().c_str());
  std::printf("(A warning of Google Benchmark that its library was built as DEBUG is about "
              "that package, not the code timed.)\n");
  if (!CheckLibraries(documents)) {
    return 1;
  }
  std::vector<PoolUse> pool;
  for (const Document &document : documents) {
    pool.push_back(MeasurePool(document));
  }
  std::printf("\n");
  std::fflush(stdout);

  RegisterBenchmarks(documents);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::map<std::string, double> ratios[2];
  for (int i = 0; i < 2; i++) {
    ratios[i] = PrintOperation(kOperations[i], reporter, documents);
  }
  std::printf("\nPool for our parse, tree alive (requested bytes; the pool's own headers "
              "not counted)\n");
  std::printf("%-14s %7s %11s %10s %12s %12s\n", "document", "bytes", "peak bytes", "per byte",
              "allocations", "freed early");
  for (size_t i = 0; i < documents.size(); i++) {
    std::printf(
        "%-14s %7zu %11llu %10.2f %12llu %12llu%s\n", documents[i].name.c_str(),
        documents[i].text.size(), static_cast<unsigned long long>(pool[i].peakBytes),
        static_cast<double>(pool[i].peakBytes) / static_cast<double>(documents[i].text.size()),
        static_cast<unsigned long long>(pool[i].allocations),
        static_cast<unsigned long long>(pool[i].temporaryFrees), pool[i].leaked ? "  LEAK" : "");
  }
  double perByte =
      static_cast<double>(pool[0].peakBytes) / static_cast<double>(documents[0].text.size());
  std::printf("target <= 3.0 pool bytes per input byte: %s\n\n", perByte <= 3.0 ? "met" : "MISS");

  for (int i = 0; i < 2; i++) {
    for (const Library &library : Libraries()) {
      auto found = ratios[i].find(library.name);
      if (found != ratios[i].end()) {
        std::printf("ratio %s %s %.2f\n", kOperations[i], library.name, found->second);
      }
    }
  }
  std::printf("pool-bytes-per-input-byte %.2f\n", perByte);
  std::printf("pool-allocations %llu\n", static_cast<unsigned long long>(pool[0].allocations));
  // Flash for the driver is scarce: 96 KiB at most, 64 KiB the aim.
  long long imageSize = ImageSize(ZELM_BENCH_EFI_IMAGE);
  if (imageSize < 0) {
    std::fprintf(stderr, "zelm-bench: cannot read %s\n", ZELM_BENCH_EFI_IMAGE);
    return 1;
  }
  std::printf("efi-size %lld (target <= %d: %s)\n", imageSize, 96 * 1024,
              imageSize <= 96 * 1024 ? "met" : "MISS");
  return pool[0].leaked ? 1 : 0;
}
