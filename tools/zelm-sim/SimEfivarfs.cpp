#include "tools/zelm-sim/SimEfivarfs.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/zelm-sim/SimBoot.h"
#include "tools/zelm-sim/SimFiles.h"
#include "tools/zelm-sim/SimShow.h"

namespace sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// Lower-case 8-4-4-4-12 text into a GUID.
std::optional<EFI_GUID> ParseGuid(const std::string &text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  UINT8 bytes[16];
  size_t k = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      i++;
      continue;
    }
    int high = HexDigit(text[i]);
    int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[k++] = static_cast<UINT8>(high << 4 | low);
    i += 2;
  }
  EFI_GUID guid{};
  guid.Data1 = static_cast<UINT32>(bytes[0]) << 24 | static_cast<UINT32>(bytes[1]) << 16 |
               static_cast<UINT32>(bytes[2]) << 8 | bytes[3];
  guid.Data2 = static_cast<UINT16>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<UINT16>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return guid;
}

// The file names of Dir, sorted; FALSE when Dir cannot be listed.
bool ListDir(const std::string &dir, std::vector<std::string> *names, std::string *error) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) {
    *error = "cannot read the efivarfs directory " + dir + ": " + std::strerror(errno);
    return false;
  }
  while (struct dirent *entry = ::readdir(d)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    if (names->size() >= kMaxEfivarFiles) {
      ::closedir(d);
      *error = "the efivarfs directory " + dir + " holds more than " +
               std::to_string(kMaxEfivarFiles) + " files";
      return false;
    }
    names->push_back(name);
  }
  ::closedir(d);
  std::sort(names->begin(), names->end());
  return true;
}

} // namespace

std::optional<std::pair<std::string, EFI_GUID>> ParseEfivarName(const std::string &fileName) {
  if (fileName.size() < 38 || fileName[fileName.size() - 37] != '-') {
    return std::nullopt;
  }
  std::optional<EFI_GUID> guid = ParseGuid(fileName.substr(fileName.size() - 36));
  if (!guid) {
    return std::nullopt;
  }
  return std::make_pair(fileName.substr(0, fileName.size() - 37), *guid);
}

std::string EfivarFileName(const std::string &name, const EFI_GUID &guid) {
  return name + "-" + GuidText(guid);
}

bool ReadEfivar(const std::string &dir, const std::string &name, const EFI_GUID &guid,
                EfiVariable *variable, std::string *error) {
  const std::string path = dir + "/" + EfivarFileName(name, guid);
  std::string bytes;
  if (!ReadFile(path, &bytes, error, /*followLink=*/false, kMaxEfivarSize)) {
    return false;
  }
  if (bytes.size() < 4) {
    *error = "malformed variable file " + path + ": " + std::to_string(bytes.size()) +
             " bytes, shorter than its 4-byte attributes";
    return false;
  }
  variable->name = name;
  variable->guid = guid;
  std::memcpy(&variable->attributes, bytes.data(), 4);
  variable->data.assign(bytes.begin() + 4, bytes.end());
  return true;
}

bool ReadEfivarfs(const std::string &dir, std::vector<EfiVariable> *variables, std::string *error) {
  std::vector<std::string> names;
  if (!ListDir(dir, &names, error)) {
    return false;
  }
  for (const std::string &file : names) {
    auto parsed = ParseEfivarName(file);
    if (!parsed) {
      continue;
    }
    EfiVariable variable;
    if (!ReadEfivar(dir, parsed->first, parsed->second, &variable, error)) {
      return false;
    }
    variables->push_back(std::move(variable));
  }
  return true;
}

bool ReadEfivarsNamed(const std::string &dir, const std::string &name,
                      std::vector<EfiVariable> *variables, std::string *error) {
  std::vector<std::string> names;
  if (!ListDir(dir, &names, error)) {
    return false;
  }
  for (const std::string &file : names) {
    auto parsed = ParseEfivarName(file);
    if (!parsed || parsed->first != name) {
      continue;
    }
    EfiVariable variable;
    if (!ReadEfivar(dir, parsed->first, parsed->second, &variable, error)) {
      return false;
    }
    variables->push_back(std::move(variable));
  }
  return true;
}

bool ExportEfivarfs(const host::Platform &platform, const std::string &dir, size_t *count,
                    std::string *error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    *error = dir + " is not a directory that can be used";
    return false;
  }
  *count = 0;
  for (const auto &[id, variable] : platform.Variables()) {
    if ((variable.attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0) {
      continue;
    }
    // A name that is no file name of its own is not written anywhere else.
    const std::string name = Narrow(id.name);
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
      return static_cast<unsigned char>(c) >= 0x20 && c != '/' && c != '?';
    });
    if (name.empty() || !plain || name == "." || name == "..") {
      *error = "the variable " + name + " has a name efivarfs cannot hold";
      return false;
    }
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &variable.attributes, 4);
    bytes.append(variable.data.begin(), variable.data.end());
    if (!ReplaceFile(dir + "/" + EfivarFileName(name, id.guid), bytes, error)) {
      return false;
    }
    ++*count;
  }
  return true;
}

} // namespace sim
