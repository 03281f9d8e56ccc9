#include "tools/zelm-sim/SimStore.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace sim {

bool WriteFileAtomically(const std::string &path, const std::string &bytes) {
  const std::string temporary = path + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool ReadFile(const std::string &path, std::string *bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  *bytes = content.str();
  return !file.bad();
}

namespace {

// The store file: "ZSIM", the enrolled identity bits, then the variables
// in the firmware double's own format. One file, so one rename replaces
// the whole state at once.
constexpr char kMagic[] = "ZSIM";
constexpr size_t kHeader = 5;

} // namespace

bool SimStore::Open(host::Platform &platform, std::string *error) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (!std::filesystem::is_directory(dir_)) {
    *error = "store " + dir_ + " is not a directory that can be used";
    return false;
  }
  platform.authentication.Unenrol(0xFF);
  if (std::filesystem::exists(Path("store.bin"))) {
    std::string bytes;
    if (!ReadFile(Path("store.bin"), &bytes) || bytes.size() < kHeader ||
        bytes.compare(0, 4, kMagic) != 0 ||
        !platform.DeserializeVariables(std::vector<UINT8>(bytes.begin() + kHeader, bytes.end()))) {
      *error = "store file " + Path("store.bin") + " is corrupt or unreadable; left as it is";
      return false;
    }
    platform.authentication.Enrol(static_cast<UINT8>(bytes[4]));
  }
  // The local key is always there: it stands for the person at the machine.
  platform.authentication.Enrol(ZELM_IDENTITY_LOCAL);
  return true;
}

bool SimStore::Save(const host::Platform &platform, std::string *error) const {
  std::vector<UINT8> variables = platform.SerializeVariables();
  std::string bytes(kMagic, 4);
  bytes.push_back(static_cast<char>(platform.authentication.Enrolled()));
  bytes.append(variables.begin(), variables.end());
  if (!WriteFileAtomically(Path("store.bin"), bytes)) {
    *error = "cannot write the store in " + dir_;
    return false;
  }
  return true;
}

void SimStore::AppendHistory(const std::string &line) const {
  std::ofstream file(Path("history.log"), std::ios::app);
  file << line << "\n";
}

std::string SimStore::History() const {
  std::string text;
  ReadFile(Path("history.log"), &text);
  return text;
}

} // namespace sim
