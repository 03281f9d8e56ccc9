// Fuzz target for the text readers: Base64 and hexadecimal decoding and
// the decimal number reader, each on the input as text of exactly its
// size.
//
// Input: byte 0 picks the destination size given to the decoders (its
// value, or with bit 7 set the exact size the text needs); the rest is the
// text.
//
// Checked on every input, against models written apart from the code:
// Base64Decode accepts exactly the canonical texts (white space skipped,
// padding only at the end, no bits after it), reports their length, and
// writes the bytes that fit and nothing past the size it was given; what
// it decodes encodes back to the text without its white space;
// HexTextToBytes accepts exactly even runs of hex digits and writes
// nothing unless it succeeds; ParseDecimal reads the number a model reads
// and reports overflow past 64 bits.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "support/Text.h"

namespace {

using fuzz::Check;

int Sextet(uint8_t c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  if (c == '+') {
    return 62;
  }
  if (c == '/') {
    return 63;
  }
  return -1;
}

bool Blank(uint8_t c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// RFC 4648 with padding; FALSE when the text is not valid.
bool ModelBase64(const uint8_t *text, size_t size, std::vector<uint8_t> *out,
                 std::string *compact) {
  compact->clear();
  for (size_t i = 0; i < size; i++) {
    if (!Blank(text[i])) {
      compact->push_back(static_cast<char>(text[i]));
    }
  }
  if (compact->size() % 4 != 0) {
    return false;
  }
  out->clear();
  for (size_t g = 0; g < compact->size(); g += 4) {
    const bool last = g + 4 == compact->size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; k++) {
      uint8_t c = static_cast<uint8_t>((*compact)[g + k]);
      if (c == '=') {
        if (!last || k < 2) {
          return false;
        }
        pad++;
        v[k] = 0;
      } else {
        if (pad != 0) {
          return false; // a character after padding
        }
        v[k] = Sextet(c);
        if (v[k] < 0) {
          return false;
        }
      }
    }
    uint32_t bits = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    if ((pad == 1 && (bits & 0xFF) != 0) || (pad == 2 && (bits & 0xFFFF) != 0)) {
      return false;
    }
    out->push_back(static_cast<uint8_t>(bits >> 16));
    if (pad < 2) {
      out->push_back(static_cast<uint8_t>(bits >> 8));
    }
    if (pad < 1) {
      out->push_back(static_cast<uint8_t>(bits));
    }
  }
  return true;
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

void CheckBase64(const uint8_t *text, size_t size, uint8_t pick) {
  std::vector<uint8_t> model;
  std::string compact;
  const bool valid = ModelBase64(text, size, &model, &compact);
  const size_t room = (pick & 0x80) != 0 ? model.size() : pick;
  // One guard byte past the size given.
  std::vector<uint8_t> out(room + 1, 0xA5);
  UINTN outSize = room;
  EFI_STATUS status =
      Base64Decode(reinterpret_cast<const CHAR8 *>(text), size, out.data(), &outSize);
  Check(out[room] == 0xA5);
  if (!valid) {
    Check(status == EFI_INVALID_PARAMETER);
    for (size_t i = 0; i < room; i++) {
      Check(out[i] == 0xA5);
    }
    return;
  }
  Check(outSize == model.size());
  if (model.size() > room) {
    Check(status == EFI_BUFFER_TOO_SMALL);
    Check(std::equal(model.begin(), model.begin() + room, out.begin()));
  } else {
    Check(status == EFI_SUCCESS && std::equal(model.begin(), model.end(), out.begin()));
  }
  // Probing with no destination gives the length and writes nothing.
  UINTN probe = 0;
  status = Base64Decode(reinterpret_cast<const CHAR8 *>(text), size, nullptr, &probe);
  Check(probe == model.size() && status == (model.empty() ? EFI_SUCCESS : EFI_BUFFER_TOO_SMALL));
  // The bytes encode back to the text, white space gone.
  const uint8_t none = 0;
  const uint8_t *bytes = model.empty() ? &none : model.data();
  UINTN needed = 0;
  Check(Base64Encode(bytes, model.size(), nullptr, &needed) == EFI_BUFFER_TOO_SMALL);
  std::vector<CHAR8> encoded((model.size() + 2) / 3 * 4 + 1);
  Check(needed == encoded.size());
  Check(Base64Encode(bytes, model.size(), encoded.data(), &needed) == EFI_SUCCESS);
  Check(needed == encoded.size() && std::string(encoded.data()) == compact);
}

void CheckHex(const uint8_t *text, size_t size, uint8_t pick) {
  bool valid = size % 2 == 0;
  for (size_t i = 0; valid && i < size; i++) {
    valid = HexDigit(text[i]) >= 0;
  }
  const size_t room = (pick & 0x80) != 0 ? size / 2 : pick;
  std::vector<uint8_t> out(room + 1, 0xA5);
  EFI_STATUS status = HexTextToBytes(reinterpret_cast<const CHAR8 *>(text), size, out.data(), room);
  Check(out[room] == 0xA5);
  if (status != EFI_SUCCESS) {
    for (size_t i = 0; i < room; i++) {
      Check(out[i] == 0xA5);
    }
  }
  if (size % 2 != 0) {
    Check(status == EFI_INVALID_PARAMETER);
  } else if (room < size / 2) {
    Check(status == EFI_BUFFER_TOO_SMALL);
  } else if (!valid) {
    Check(status == EFI_UNSUPPORTED);
  } else {
    Check(status == EFI_SUCCESS);
    for (size_t i = 0; i < size / 2; i++) {
      Check(out[i] == (HexDigit(text[2 * i]) << 4 | HexDigit(text[2 * i + 1])));
    }
  }
}

void CheckDecimal(const uint8_t *text, size_t size) {
  // The reader needs a terminated text; it stops at the first NUL anyway.
  std::string copy(reinterpret_cast<const char *>(text), size);
  size_t at = 0;
  while (at < copy.size() && (copy[at] == ' ' || copy[at] == '\t')) {
    at++;
  }
  bool overflow = false;
  unsigned __int128 value = 0;
  for (; at < copy.size() && copy[at] >= '0' && copy[at] <= '9'; at++) {
    value = value * 10 + static_cast<unsigned>(copy[at] - '0');
    if (value > UINT64_MAX) {
      overflow = true;
      break;
    }
  }
  UINT64 read = 0;
  EFI_STATUS status = ParseDecimal(copy.c_str(), nullptr, &read);
  if (overflow) {
    Check(status == EFI_UNSUPPORTED && read == UINT64_MAX);
  } else {
    Check(status == EFI_SUCCESS && read == static_cast<UINT64>(value));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const uint8_t pick = data[0];
  // Exactly sized, so a read past the text is caught.
  std::vector<uint8_t> text(data + 1, data + size);
  const uint8_t *t = text.empty() ? reinterpret_cast<const uint8_t *>("") : text.data();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size() + 1]);
  memcpy(exact.get(), t, text.size());
  CheckBase64(exact.get(), text.size(), pick);
  CheckHex(exact.get(), text.size(), pick);
  CheckDecimal(exact.get(), text.size());
  return 0;
}
