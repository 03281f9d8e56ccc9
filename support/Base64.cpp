// Base64 of RFC 4648 section 4 (standard alphabet, "=" padding).
#include "support/Text.h"
#include "support/TextInternal.h"

namespace {

constexpr CHAR8 kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each alphabet character; 0xFF for every other byte.
struct SextetTable {
  UINT8 value[256];
};
constexpr SextetTable MakeSextets() {
  SextetTable t = {};
  for (UINT8 &v : t.value) {
    v = 0xFF;
  }
  for (int i = 0; i < 64; i++) {
    t.value[static_cast<UINT8>(kAlphabet[i])] = static_cast<UINT8>(i);
  }
  return t;
}
constexpr SextetTable kSextets = MakeSextets();

int Sextet(CHAR8 c) {
  const UINT8 v = kSextets.value[static_cast<UINT8>(c)];
  return v == 0xFF ? -1 : v;
}

bool IsSpace(CHAR8 c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Sextets of the four characters at In as one 24-bit group, or a value
// above 0xFFFFFF when one of them is outside the alphabet (0xFF sets the
// high bits).
UINT32 GroupAt(const UINT8 *in) {
  const UINT32 a = kSextets.value[in[0]];
  const UINT32 b = kSextets.value[in[1]];
  const UINT32 c = kSextets.value[in[2]];
  const UINT32 d = kSextets.value[in[3]];
  return (a << 18 | b << 12 | c << 6 | d) | ((a | b | c | d) & 0xC0) << 24;
}

// Characters from In, in blocks of sixteen, up to the first block with a
// character outside the alphabet: a walk that only checks needs no sextet
// arithmetic, only whether any looked-up value has the high bits set.
UINTN AlphabetBlocks(const UINT8 *in, UINTN length) {
  UINTN i = 0;
  for (; i + 16 <= length; i += 16) {
    UINT32 any = 0;
    for (UINTN k = 0; k < 16; k++) {
      any |= kSextets.value[in[i + k]];
    }
    if ((any & 0xC0) != 0) {
      break;
    }
  }
  return i;
}

VOID PutGroup(UINT8 *out, UINT32 group) {
  out[0] = static_cast<UINT8>(group >> 16);
  out[1] = static_cast<UINT8>(group >> 8);
  out[2] = static_cast<UINT8>(group);
}

// Whole groups of four alphabet characters from In, the bulk of any text:
// how many characters they take, up to the first character outside the
// alphabet or the last whole group. With Out given, their bytes are written
// there, and the groups stop where Room has no three bytes left: the
// character-wise walk of Decode writes what fits of the next one.
UINTN DecodeGroups(const UINT8 *in, UINTN length, UINT8 *out, UINTN room) {
  UINTN i = 0;
  if (out == nullptr) {
    i = AlphabetBlocks(in, length);
  } else {
    // Two groups a step, their six bytes stored as one word while the
    // room holds all eight of it; the two bytes past them are written over
    // by the next step, as Room ends with the decoded bytes.
    for (; i + 8 <= length && room >= 8; i += 8) {
      const UINT32 first = GroupAt(in + i);
      const UINT32 second = GroupAt(in + i + 4);
      if ((first | second) > 0xFFFFFF) {
        break;
      }
      const UINT64 word =
          __builtin_bswap64(static_cast<UINT64>(first) << 40 | static_cast<UINT64>(second) << 16);
      __builtin_memcpy(out, &word, 8);
      out += 6;
      room -= 6;
    }
  }
  for (; i + 4 <= length; i += 4) {
    const UINT32 group = GroupAt(in + i);
    if (group > 0xFFFFFF) {
      break;
    }
    if (out != nullptr) {
      if (room < 3) {
        break;
      }
      PutGroup(out, group);
      out += 3;
      room -= 3;
    }
  }
  return i;
}

// Checks the whole text and counts its bytes; with Out given, also writes
// the first Limit of them. Writing happens only in a second walk, after a
// first one without Out has accepted the text.
EFI_STATUS Decode(const CHAR8 *in, UINTN length, UINT8 *out, UINTN limit, UINTN *count) {
  UINT32 bits = 0;    // undelivered bits, right-aligned
  UINTN bitCount = 0; // how many of them
  UINTN inGroup = 0;  // characters of the current group of four
  UINTN padding = 0;  // "=" seen so far
  UINTN produced = 0;
  for (UINTN i = 0; i < length; ++i) {
    if (inGroup == 0 && padding == 0) {
      const UINT8 *from = reinterpret_cast<const UINT8 *>(in + i);
      const UINTN taken = out == nullptr || produced >= limit
                              ? DecodeGroups(from, length - i, nullptr, 0)
                              : DecodeGroups(from, length - i, out + produced, limit - produced);
      produced += taken / 4 * 3;
      i += taken;
    }
    if (i >= length) {
      break;
    }
    const CHAR8 c = in[i];
    if (IsSpace(c)) {
      continue;
    }
    if (c == '=') {
      // Only after two or three characters of a group, and the bits the
      // group leaves over must be zero.
      if (padding == 0 && (inGroup < 2 || bits != 0)) {
        return EFI_INVALID_PARAMETER;
      }
      ++padding;
      if (inGroup + padding > 4) {
        return EFI_INVALID_PARAMETER;
      }
      continue;
    }
    const int value = Sextet(c);
    if (value < 0 || padding != 0) {
      return EFI_INVALID_PARAMETER;
    }
    bits = (bits << 6) | static_cast<UINT32>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      if (out != nullptr && produced < limit) {
        out[produced] = static_cast<UINT8>(bits >> bitCount);
      }
      ++produced;
      bits &= (1u << bitCount) - 1;
    }
    inGroup = (inGroup + 1) % 4;
  }
  if (padding != 0 ? inGroup + padding != 4 : inGroup != 0) {
    return EFI_INVALID_PARAMETER;
  }
  *count = produced;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS Base64Encode(const UINT8 *Source, UINTN SourceLength, CHAR8 *Destination,
                        UINTN *DestinationSize) {
  if (Source == nullptr || DestinationSize == nullptr || text::RangeWraps(Source, SourceLength)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN groups = SourceLength / 3 + (SourceLength % 3 != 0 ? 1 : 0);
  if (groups > (~UINTN{0} - 1) / 4) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN needed = groups * 4 + 1;
  if (Destination == nullptr || *DestinationSize < needed) {
    *DestinationSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (text::RangeWraps(Destination, *DestinationSize) ||
      text::RangesOverlap(Source, SourceLength, Destination, needed)) {
    return EFI_INVALID_PARAMETER;
  }

  UINTN pos = 0;
  for (UINTN i = 0; i < SourceLength; i += 3) {
    const UINTN left = SourceLength - i;
    const UINT32 triple = (static_cast<UINT32>(Source[i]) << 16) |
                          (left > 1 ? static_cast<UINT32>(Source[i + 1]) << 8 : 0) |
                          (left > 2 ? static_cast<UINT32>(Source[i + 2]) : 0);
    Destination[pos++] = kAlphabet[(triple >> 18) & 0x3F];
    Destination[pos++] = kAlphabet[(triple >> 12) & 0x3F];
    Destination[pos++] = left > 1 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
    Destination[pos++] = left > 2 ? kAlphabet[triple & 0x3F] : '=';
  }
  Destination[pos] = 0;
  *DestinationSize = needed;
  return EFI_SUCCESS;
}

EFI_STATUS Base64Decode(const CHAR8 *Source, UINTN SourceLength, UINT8 *Destination,
                        UINTN *DestinationSize) {
  if (Source == nullptr || DestinationSize == nullptr || text::RangeWraps(Source, SourceLength)) {
    return EFI_INVALID_PARAMETER;
  }
  // Without a buffer the size only bounds a count; nothing is written.
  const UINTN room = Destination == nullptr ? 0 : *DestinationSize;
  if (Destination != nullptr && (text::RangeWraps(Destination, room) ||
                                 text::RangesOverlap(Source, SourceLength, Destination, room))) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN length = 0;
  EFI_STATUS status = Decode(Source, SourceLength, nullptr, 0, &length);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (room != 0) {
    // Writing stops with the decoded bytes, so no byte of the buffer past
    // them changes.
    status = Decode(Source, SourceLength, Destination, room < length ? room : length, &length);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  *DestinationSize = length;
  return length > room ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
}
