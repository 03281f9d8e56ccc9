// The file form of the non-volatile variable store:
//   "ZHVS" magic, UINT32 version 1, UINT32 count, then per variable
//   GUID (16), UINT32 attributes, UINT32 name length in CHAR16 (no NUL),
//   UINT32 data size, the name, the data. Little-endian, no padding.
// Loading checks every length against the bytes left and rejects
// duplicates, empty names, embedded NULs, volatile or access-less entries
// and trailing bytes.
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/HostPlatform.h"

namespace host {

namespace {

constexpr UINT8 kMagic[4] = {'Z', 'H', 'V', 'S'};
constexpr UINT32 kVersion = 1;

void PutU32(std::vector<UINT8> &out, UINT32 value) {
  for (int i = 0; i < 4; i++) {
    out.push_back(static_cast<UINT8>(value >> (8 * i)));
  }
}

class Reader {
public:
  explicit Reader(const std::vector<UINT8> &bytes) : bytes_(bytes) {}
  bool Take(void *out, size_t size) {
    if (size > bytes_.size() - pos_) {
      return false;
    }
    if (size != 0) {
      std::memcpy(out, bytes_.data() + pos_, size);
    }
    pos_ += size;
    return true;
  }
  bool U32(UINT32 *value) {
    UINT8 raw[4];
    if (!Take(raw, sizeof(raw))) {
      return false;
    }
    *value = UINT32(raw[0]) | UINT32(raw[1]) << 8 | UINT32(raw[2]) << 16 | UINT32(raw[3]) << 24;
    return true;
  }
  size_t Left() const { return bytes_.size() - pos_; }

private:
  const std::vector<UINT8> &bytes_;
  size_t pos_ = 0;
};

} // namespace

std::vector<UINT8> Platform::SerializeVariables() const {
  std::vector<UINT8> out(std::begin(kMagic), std::end(kMagic));
  PutU32(out, kVersion);
  UINT32 count = 0;
  for (const auto &entry : store_) {
    count += (entry.second.attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  }
  PutU32(out, count);
  for (const auto &entry : store_) {
    if ((entry.second.attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      continue;
    }
    const UINT8 *guid = reinterpret_cast<const UINT8 *>(&entry.first.guid);
    out.insert(out.end(), guid, guid + sizeof(EFI_GUID));
    PutU32(out, entry.second.attributes);
    PutU32(out, static_cast<UINT32>(entry.first.name.size()));
    PutU32(out, static_cast<UINT32>(entry.second.data.size()));
    for (CHAR16 c : entry.first.name) {
      out.push_back(static_cast<UINT8>(c & 0xFF));
      out.push_back(static_cast<UINT8>(c >> 8));
    }
    out.insert(out.end(), entry.second.data.begin(), entry.second.data.end());
  }
  return out;
}

bool Platform::DeserializeVariables(const std::vector<UINT8> &bytes) {
  Reader in(bytes);
  UINT8 magic[4];
  UINT32 version = 0;
  UINT32 count = 0;
  if (!in.Take(magic, sizeof(magic)) || std::memcmp(magic, kMagic, sizeof(magic)) != 0 ||
      !in.U32(&version) || version != kVersion || !in.U32(&count)) {
    return false;
  }
  Store loaded;
  for (UINT32 i = 0; i < count; i++) {
    VariableId id;
    Variable variable;
    UINT32 nameLength = 0;
    UINT32 dataSize = 0;
    if (!in.Take(&id.guid, sizeof(id.guid)) || !in.U32(&variable.attributes) ||
        !in.U32(&nameLength) || !in.U32(&dataSize)) {
      return false;
    }
    if (nameLength == 0 || nameLength > in.Left() / 2 || dataSize > in.Left() - nameLength * 2u) {
      return false;
    }
    if ((variable.attributes & EFI_VARIABLE_NON_VOLATILE) == 0 ||
        (variable.attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
      return false;
    }
    id.name.resize(nameLength);
    for (UINT32 c = 0; c < nameLength; c++) {
      UINT8 raw[2];
      in.Take(raw, sizeof(raw));
      id.name[c] = static_cast<CHAR16>(raw[0] | raw[1] << 8);
      if (id.name[c] == 0) {
        return false;
      }
    }
    variable.data.resize(dataSize);
    in.Take(variable.data.data(), dataSize);
    if (!loaded.emplace(std::move(id), std::move(variable)).second) {
      return false;
    }
  }
  if (in.Left() != 0) {
    return false;
  }
  // Volatile variables of the running boot stay; the non-volatile ones are
  // replaced as a whole.
  for (auto &entry : store_) {
    if ((entry.second.attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      loaded.insert(entry);
    }
  }
  store_ = std::move(loaded);
  return true;
}

bool Platform::SaveVariables(const std::string &path) const {
  std::vector<UINT8> bytes = SerializeVariables();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

bool Platform::LoadVariables(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  std::vector<UINT8> bytes((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
  if (file.bad()) {
    return false;
  }
  return DeserializeVariables(bytes);
}

} // namespace host
