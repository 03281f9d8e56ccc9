// Fuzz target for the simulator's store-file reader: any bytes as
// "store.bin" in a store directory.
//
// Checked on every input: a file that does not load is left exactly as it
// was and the platform gets none of it; a file that loads (either layout)
// enrols the local key at least, and saving it gives a file that loads to
// the same variables and enrolment and saves to the same bytes again.
#include <zelm/ZelmAuthentication.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/HostPlatform.h"
#include "tools/zelm-sim/SimFiles.h"
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

// Opens the store directory exclusively into Platform; the lock goes with
// the store object.
bool Open(host::Platform &platform, std::string *error) {
  sim::SimStore store(Dir());
  return store.Open(platform, sim::LockMode::Exclusive, /*wait=*/true, error);
}

bool Save(const host::Platform &platform, std::string *error) {
  sim::SimStore store(Dir());
  host::Platform scratch;
  return store.Open(scratch, sim::LockMode::Exclusive, true, error) && store.Save(platform, error);
}

std::string FileBytes(const std::string &path) {
  std::string bytes;
  std::string error;
  Check(sim::ReadFile(path, &bytes, &error));
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = Dir() + "/store.bin";
  const std::string file(reinterpret_cast<const char *>(data), size);
  std::string error;
  Check(sim::ReplaceFile(path, file, &error));
  host::Platform platform;
  if (!Open(platform, &error)) {
    Check(!error.empty());
    Check(FileBytes(path) == file);
    Check(platform.SerializeVariables() == host::Platform().SerializeVariables());
    return 0;
  }
  // Both layouts load: the checksummed one and the first one.
  Check(size >= 5 && (memcmp(data, "ZSS2", 4) == 0 || memcmp(data, "ZSIM", 4) == 0));
  Check((platform.authentication.Enrolled() & ZELM_IDENTITY_LOCAL) != 0);
  const std::vector<UINT8> variables = platform.SerializeVariables();
  Check(Save(platform, &error));
  const std::string saved = FileBytes(path);
  host::Platform again;
  Check(Open(again, &error));
  Check(again.SerializeVariables() == variables);
  Check(again.authentication.Enrolled() == platform.authentication.Enrolled());
  Check(Save(again, &error));
  Check(FileBytes(path) == saved);
  return 0;
}
