#include "tools/zelm-sim/SimStore.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "tools/zelm-sim/SimFiles.h"

namespace sim {

namespace {

// The store file:
//   0   "ZSS2"
//   4   SHA-256 of every byte from offset 36 on
//   36  the enrolled identity bits
//   37  the variables in the firmware double's own format
// One file, so one rename replaces the whole state at once. Files of the
// first layout ("ZSIM", the enrolment, the variables; no checksum) are
// still read and are rewritten in this one by the next command that
// writes. The two magics differ in two bytes, so no single flipped byte
// turns one into the other.
constexpr char kMagic[4] = {'Z', 'S', 'S', '2'};
constexpr char kFirstMagic[4] = {'Z', 'S', 'I', 'M'};
constexpr size_t kDigestSize = 32;
constexpr size_t kBodyOffset = sizeof(kMagic) + kDigestSize;
constexpr size_t kFirstBodyOffset = sizeof(kFirstMagic);

bool Digest(const char *data, size_t size, unsigned char out[kDigestSize]) {
  unsigned int length = 0;
  return EVP_Digest(data, size, out, &length, EVP_sha256(), nullptr) == 1 && length == kDigestSize;
}

// The body (enrolment, variables) of a store file, or FALSE.
bool BodyOf(const std::string &bytes, size_t *offset) {
  if (bytes.size() >= kBodyOffset + 1 && std::memcmp(bytes.data(), kMagic, 4) == 0) {
    unsigned char digest[kDigestSize];
    if (!Digest(bytes.data() + kBodyOffset, bytes.size() - kBodyOffset, digest) ||
        std::memcmp(digest, bytes.data() + sizeof(kMagic), kDigestSize) != 0) {
      return false;
    }
    *offset = kBodyOffset;
    return true;
  }
  if (bytes.size() >= kFirstBodyOffset + 1 && std::memcmp(bytes.data(), kFirstMagic, 4) == 0) {
    *offset = kFirstBodyOffset;
    return true;
  }
  return false;
}

} // namespace

std::string EscapeHistoryField(const std::string &text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == '=' || c == '/' || c == '%') {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out.empty() ? "%00" : out;
}

bool SimStore::Open(host::Platform &platform, LockMode mode, bool wait, std::string *error) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (!std::filesystem::is_directory(dir_)) {
    *error = "store " + dir_ + " is not a directory that can be used";
    return false;
  }
  if (!lock_.Acquire(dir_, mode, wait, error)) {
    return false;
  }
  exclusive_ = mode == LockMode::Exclusive;
  platform.authentication.Unenrol(0xFF);
  const std::string path = Path("store.bin");
  // Anything but a regular file (a link, dangling or not, a directory) is
  // refused: taken as a fresh store it would be replaced on the next save.
  std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  if (status.type() != std::filesystem::file_type::not_found) {
    std::string bytes;
    std::string readError;
    size_t body = 0;
    if (status.type() != std::filesystem::file_type::regular) {
      *error = "store file " + path + " is not a regular file; left as it is";
      return false;
    }
    if (!ReadFile(path, &bytes, &readError, /*followLink=*/false)) {
      *error = "store file " + path + " is unreadable (" + readError + "); left as it is";
      return false;
    }
    if (!BodyOf(bytes, &body) ||
        !platform.DeserializeVariables(std::vector<UINT8>(bytes.begin() + body + 1, bytes.end()))) {
      *error = "corrupt store: " + path + " fails its check; left as it is";
      return false;
    }
    platform.authentication.Enrol(static_cast<UINT8>(bytes[body]));
  }
  // The local key is always there: it stands for the person at the machine.
  platform.authentication.Enrol(ZELM_IDENTITY_LOCAL);
  return true;
}

bool SimStore::Save(const host::Platform &platform, std::string *error) const {
  if (!exclusive_) {
    *error = "the store " + dir_ + " was not opened for writing";
    return false;
  }
  std::vector<UINT8> variables = platform.SerializeVariables();
  std::string bytes(kMagic, sizeof(kMagic));
  bytes.append(kDigestSize, '\0');
  bytes.push_back(static_cast<char>(platform.authentication.Enrolled()));
  bytes.append(variables.begin(), variables.end());
  unsigned char digest[kDigestSize];
  if (!Digest(bytes.data() + kBodyOffset, bytes.size() - kBodyOffset, digest)) {
    *error = "cannot compute the store's checksum";
    return false;
  }
  std::memcpy(bytes.data() + sizeof(kMagic), digest, kDigestSize);
  std::string why;
  if (!ReplaceFile(Path("store.bin"), bytes, &why)) {
    *error = "cannot write the store in " + dir_ + ": " + why;
    return false;
  }
  return true;
}

bool SimStore::AppendHistory(const std::string &line, std::string *error) const {
  if (!exclusive_) {
    *error = "the store " + dir_ + " was not opened for writing";
    return false;
  }
  std::string text;
  if (!History(&text, error)) {
    return false;
  }
  text += line + "\n";
  return ReplaceFile(Path("history.log"), text, error);
}

bool SimStore::History(std::string *text, std::string *error) const {
  const std::string path = Path("history.log");
  std::error_code ec;
  if (std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found) {
    text->clear();
    return true;
  }
  return ReadFile(path, text, error, /*followLink=*/false);
}

} // namespace sim
