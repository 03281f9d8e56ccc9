// Fuzz target for the simulator's store-file reader: any bytes as
// "store.bin" in a store directory.
//
// Checked on every input: a file that does not load is left exactly as it
// was and the platform gets none of it; a file that loads enrols what its
// fifth byte names (and the local key), and saving it gives a file that
// loads to the same variables and saves to the same bytes again.
#include <zelm/ZelmAuthentication.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/HostPlatform.h"
#include "tools/zelm-sim/SimStore.h"

namespace {

using fuzz::Check;

const std::string &Dir() {
  // In the working directory, one per process, removed at exit.
  static const std::string *dir = [] {
    auto *d = new std::string("zelm-fuzz-store-" + std::to_string(getpid()));
    std::filesystem::create_directories(*d);
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Dir(), ignored);
    });
    return d;
  }();
  return *dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = Dir() + "/store.bin";
  const std::string file(reinterpret_cast<const char *>(data), size);
  Check(sim::WriteFileAtomically(path, file));
  sim::SimStore store(Dir());
  host::Platform platform;
  std::string error;
  if (!store.Open(platform, &error)) {
    Check(!error.empty());
    std::string after;
    Check(sim::ReadFile(path, &after) && after == file);
    Check(platform.SerializeVariables() == host::Platform().SerializeVariables());
    return 0;
  }
  Check(size >= 5 && memcmp(data, "ZSIM", 4) == 0);
  Check(platform.authentication.Enrolled() == (data[4] | ZELM_IDENTITY_LOCAL));
  const std::vector<UINT8> variables = platform.SerializeVariables();
  Check(store.Save(platform, &error));
  std::string saved;
  Check(sim::ReadFile(path, &saved));
  host::Platform again;
  Check(store.Open(again, &error));
  Check(again.SerializeVariables() == variables);
  Check(again.authentication.Enrolled() == platform.authentication.Enrolled());
  Check(store.Save(again, &error));
  std::string resaved;
  Check(sim::ReadFile(path, &resaved) && resaved == saved);
  return 0;
}
