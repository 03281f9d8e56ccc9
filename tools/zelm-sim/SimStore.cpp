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

bool SimStore::Open(host::Platform &platform, std::string *error) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (!std::filesystem::is_directory(dir_)) {
    *error = "store " + dir_ + " is not a directory that can be used";
    return false;
  }
  std::string bytes;
  if (std::filesystem::exists(Path("variables.bin"))) {
    if (!ReadFile(Path("variables.bin"), &bytes) ||
        !platform.DeserializeVariables(std::vector<UINT8>(bytes.begin(), bytes.end()))) {
      *error = "store file " + Path("variables.bin") + " is corrupt or unreadable; left as it is";
      return false;
    }
  }
  std::string enrolled;
  if (ReadFile(Path("enrolled"), &enrolled)) {
    unsigned value = 0;
    if (std::sscanf(enrolled.c_str(), "%x", &value) != 1 || value > 0xFF) {
      *error = "store file " + Path("enrolled") + " is corrupt; left as it is";
      return false;
    }
    platform.authentication.Unenrol(0xFF);
    platform.authentication.Enrol(static_cast<UINT8>(value));
  }
  // The local key is always there: it stands for the person at the machine.
  platform.authentication.Enrol(ZELM_IDENTITY_LOCAL);
  return true;
}

bool SimStore::Save(const host::Platform &platform, std::string *error) const {
  std::vector<UINT8> variables = platform.SerializeVariables();
  char enrolled[8];
  std::snprintf(enrolled, sizeof(enrolled), "%02x\n", platform.authentication.Enrolled());
  if (!WriteFileAtomically(Path("variables.bin"),
                           std::string(variables.begin(), variables.end())) ||
      !WriteFileAtomically(Path("enrolled"), enrolled)) {
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
