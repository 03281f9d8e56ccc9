// The bounded printf-style formatter (ASCII or UTF-16 in and out).
#include "support/Text.h"
#include "support/TextInternal.h"

namespace {

const CHAR8 *const kWarningText[] = {
    "Warning Unknown Glyph",    "Warning Delete Failure", "Warning Write Failure",
    "Warning Buffer Too Small", "Warning Stale Data",
};

// UEFI 2.10 Appendix D, error codes 1 to 33 in order.
const CHAR8 *const kErrorText[] = {
    "Load Error",           "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
    "Device Error",         "Write Protected",    "Out of Resources",
    "Volume Corrupt",       "Volume Full",        "No Media",
    "Media changed",        "Not Found",          "Access Denied",
    "No Response",          "No mapping",         "Time out",
    "Not started",          "Already started",    "Aborted",
    "ICMP Error",           "TFTP Error",         "Protocol Error",
    "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",         "Reserved (29)",      "Reserved (30)",
    "End of File",          "Invalid Language",   "Compromised Data",
};

constexpr UINTN kWarningCount = sizeof(kWarningText) / sizeof(kWarningText[0]);
constexpr UINTN kErrorCount = sizeof(kErrorText) / sizeof(kErrorText[0]);
static_assert(kWarningCount == 5 && kErrorCount == 33, "status text table");

const CHAR8 *statusText(EFI_STATUS status) {
  if (status == EFI_SUCCESS) {
    return "Success";
  }
  if (status <= kWarningCount) {
    return kWarningText[status - 1];
  }
  const EFI_STATUS code = status & ~EFI_MAX_BIT;
  if ((status & EFI_MAX_BIT) != 0 && code >= 1 && code <= kErrorCount) {
    return kErrorText[code - 1];
  }
  return nullptr;
}

// Collects output characters, cutting at the limit; a count-only sink
// keeps the count and writes nothing.
class Output {
public:
  Output(VOID *buffer, bool wide, bool countOnly, UINTN limit)
      : buffer_(buffer), wide_(wide), countOnly_(countOnly), limit_(limit) {}

  bool full() const { return count_ >= limit_; }
  UINTN count() const { return count_; }

  // A byte of ASCII text; UTF-16 output widens it.
  bool put(CHAR8 c) { return putUnit(static_cast<UINT8>(c)); }

  // A UTF-16 code unit; ASCII output gets "?" for anything beyond ASCII.
  bool put(CHAR16 c) {
    if (!wide_ && c > 0x7F) {
      return putUnit('?');
    }
    return putUnit(c);
  }

  // One output character, truncated to the output's character size.
  bool putUnit(UINT32 c) {
    if (full()) {
      return false;
    }
    if (!countOnly_) {
      if (wide_) {
        static_cast<CHAR16 *>(buffer_)[count_] = static_cast<CHAR16>(c);
      } else {
        static_cast<CHAR8 *>(buffer_)[count_] = static_cast<CHAR8>(c);
      }
    }
    ++count_;
    return true;
  }

  void repeat(CHAR8 c, UINTN n) {
    for (UINTN i = 0; i < n && put(c); ++i) {
    }
  }

  void terminate() {
    if (countOnly_) {
      return;
    }
    if (wide_) {
      static_cast<CHAR16 *>(buffer_)[count_] = 0;
    } else {
      static_cast<CHAR8 *>(buffer_)[count_] = 0;
    }
  }

private:
  VOID *buffer_;
  bool wide_;
  bool countOnly_;
  UINTN limit_;
  UINTN count_ = 0;
};

// Walks a format string of either character size.
class FormatReader {
public:
  FormatReader(const VOID *format, bool wide, UINTN length)
      : format_(format), wide_(wide), length_(length) {}

  bool atEnd() const { return pos_ >= length_; }
  UINT32 peek() const { return atEnd() ? 0 : at(pos_); }
  UINT32 next() { return atEnd() ? 0 : at(pos_++); }

private:
  UINT32 at(UINTN i) const {
    return wide_ ? static_cast<const CHAR16 *>(format_)[i]
                 : static_cast<UINT8>(static_cast<const CHAR8 *>(format_)[i]);
  }

  const VOID *format_;
  bool wide_;
  UINTN length_;
  UINTN pos_ = 0;
};

struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool zero = false;
  bool comma = false;
  bool long64 = false;
  UINTN width = 0;
  bool hasPrecision = false;
  UINTN precision = 0;
};

UINTN clampLength(UINTN n) {
  return n > MAX_TEXT_LENGTH ? MAX_TEXT_LENGTH : n;
}

// A string of Length characters, padded with blanks to the width.
template <typename Char>
void putText(Output &out, const Char *s, UINTN length, const Conversion &conv) {
  const UINTN pad = conv.width > length ? conv.width - length : 0;
  if (!conv.left) {
    out.repeat(' ', pad);
  }
  for (UINTN i = 0; i < length && out.put(s[i]); ++i) {
  }
  if (conv.left) {
    out.repeat(' ', pad);
  }
}

template <typename Char> void putString(Output &out, const Char *s, const Conversion &conv) {
  if (s == nullptr) {
    static constexpr CHAR8 kNull[] = "<null string>";
    putText(out, kNull, sizeof(kNull) - 1, conv);
    return;
  }
  const UINTN limit = conv.hasPrecision ? conv.precision : MAX_TEXT_LENGTH;
  putText(out, s, BoundedLength(s, limit), conv);
}

void putNumber(Output &out, UINT64 magnitude, bool negative, bool isSigned, bool hex,
               const Conversion &conv) {
  CHAR8 digits[text::kMaxDigitText];
  const UINTN n = text::renderDigits(magnitude, hex, conv.comma && !hex, digits);
  CHAR8 sign = 0;
  if (negative) {
    sign = '-';
  } else if (isSigned && conv.plus) {
    sign = '+';
  } else if (isSigned && conv.space) {
    sign = ' ';
  }
  const UINTN precisionZeros = conv.hasPrecision && conv.precision > n ? conv.precision - n : 0;
  const UINTN body = (sign != 0 ? 1 : 0) + precisionZeros + n;
  const UINTN pad = conv.width > body ? conv.width - body : 0;
  const bool zeroPad = conv.zero && !conv.left && !conv.comma && !conv.hasPrecision;
  if (!conv.left && !zeroPad) {
    out.repeat(' ', pad);
  }
  if (sign != 0) {
    out.put(sign);
  }
  out.repeat('0', precisionZeros + (zeroPad ? pad : 0));
  putText(out, digits, n, Conversion{});
  if (conv.left) {
    out.repeat(' ', pad);
  }
}

// Small fixed texts (GUID, time, status) are built here before output.
class ShortText {
public:
  void add(const CHAR8 *s) {
    for (UINTN i = 0; s[i] != 0 && len_ < kCapacity; ++i) {
      buf_[len_++] = s[i];
    }
  }
  void addHex(UINT64 value, UINTN digits) { addNumber(value, true, digits); }
  void addDecimal(UINT64 value, UINTN digits) { addNumber(value, false, digits); }
  const CHAR8 *data() const { return buf_; }
  UINTN length() const { return len_; }

private:
  // Zero-padded to at least MinDigits.
  void addNumber(UINT64 value, bool hex, UINTN minDigits) {
    CHAR8 digits[text::kMaxDigitText];
    const UINTN n = text::renderDigits(value, hex, false, digits);
    for (UINTN i = n; i < minDigits && len_ < kCapacity; ++i) {
      buf_[len_++] = '0';
    }
    for (UINTN i = 0; i < n && len_ < kCapacity; ++i) {
      buf_[len_++] = digits[i];
    }
  }

  static constexpr UINTN kCapacity = 48;
  CHAR8 buf_[kCapacity] = {};
  UINTN len_ = 0;
};

// "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"
void putGuid(Output &out, const EFI_GUID *guid, const Conversion &conv) {
  if (guid == nullptr) {
    putString(out, "<null guid>", conv);
    return;
  }
  ShortText t;
  t.addHex(guid->Data1, 8);
  t.add("-");
  t.addHex(guid->Data2, 4);
  t.add("-");
  t.addHex(guid->Data3, 4);
  t.add("-");
  for (UINTN i = 0; i < 8; ++i) {
    if (i == 2) {
      t.add("-");
    }
    t.addHex(guid->Data4[i], 2);
  }
  putText(out, t.data(), t.length(), conv);
}

// "%02d/%02d/%04d  %02d:%02d" of month, day, year, hour, minute.
void putTime(Output &out, const EFI_TIME *time, const Conversion &conv) {
  if (time == nullptr) {
    putString(out, "<null time>", conv);
    return;
  }
  ShortText t;
  t.addDecimal(time->Month, 2);
  t.add("/");
  t.addDecimal(time->Day, 2);
  t.add("/");
  t.addDecimal(time->Year, 4);
  t.add("  ");
  t.addDecimal(time->Hour, 2);
  t.add(":");
  t.addDecimal(time->Minute, 2);
  putText(out, t.data(), t.length(), conv);
}

// Known codes by name, others as "%08X" of the full 64-bit value.
void putStatus(Output &out, EFI_STATUS status, const Conversion &conv) {
  const CHAR8 *name = statusText(status);
  if (name != nullptr) {
    putString(out, name, conv);
    return;
  }
  ShortText t;
  t.addHex(status, 8);
  putText(out, t.data(), t.length(), conv);
}

// Digits of a width or precision, saturating at the text limit.
UINTN readCount(FormatReader &in) {
  UINTN n = 0;
  while (in.peek() >= '0' && in.peek() <= '9') {
    n = clampLength(n * 10 + (in.next() - '0'));
  }
  return n;
}

UINTN magnitudeOf(int v) {
  return v < 0 ? 0 - static_cast<UINTN>(static_cast<INT64>(v)) : static_cast<UINTN>(v);
}

} // namespace

UINTN FormatWithFlagsV(VOID *Buffer, UINTN Size, UINTN Flags, const VOID *Format, va_list Args) {
  constexpr UINTN kKnownFlags =
      FORMAT_FLAG_WIDE_OUTPUT | FORMAT_FLAG_WIDE_FORMAT | FORMAT_FLAG_COUNT_ONLY;
  const bool countOnly = (Flags & FORMAT_FLAG_COUNT_ONLY) != 0;
  const bool wideOut = (Flags & FORMAT_FLAG_WIDE_OUTPUT) != 0;
  const bool wideFormat = (Flags & FORMAT_FLAG_WIDE_FORMAT) != 0;
  const UINTN capacity = wideOut ? Size / sizeof(CHAR16) : Size;
  if ((Flags & ~kKnownFlags) != 0 || (Buffer == nullptr && !countOnly) || Format == nullptr ||
      capacity == 0 || capacity > MAX_TEXT_LENGTH) {
    return 0;
  }
  const UINTN formatLength =
      wideFormat ? BoundedLength(static_cast<const CHAR16 *>(Format), MAX_TEXT_LENGTH + 1)
                 : BoundedLength(static_cast<const CHAR8 *>(Format), MAX_TEXT_LENGTH + 1);
  if (formatLength > MAX_TEXT_LENGTH) {
    return 0;
  }

  Output out(Buffer, wideOut, countOnly, capacity - 1);
  FormatReader in(Format, wideFormat, formatLength);
  while (!in.atEnd() && !out.full()) {
    const UINT32 c = in.next();
    if (c == '\n' || c == '\r') {
      const UINT32 pair = c == '\n' ? '\r' : '\n';
      if (in.peek() == pair) {
        in.next();
      } else if (c == '\r') {
        out.putUnit('\r');
        continue;
      }
      out.putUnit('\r');
      out.putUnit('\n');
      continue;
    }
    if (c != '%') {
      if (wideFormat) {
        out.put(static_cast<CHAR16>(c));
      } else {
        out.putUnit(c);
      }
      continue;
    }

    Conversion conv;
    for (bool more = true; more;) {
      switch (in.peek()) {
      case '-':
        conv.left = true;
        break;
      case '+':
        conv.plus = true;
        break;
      case ' ':
        conv.space = true;
        break;
      case '0':
        conv.zero = true;
        break;
      case ',':
        conv.comma = true;
        break;
      default:
        more = false;
        continue;
      }
      in.next();
    }
    if (in.peek() == '*') {
      in.next();
      const int width = va_arg(Args, int);
      conv.left = conv.left || width < 0;
      conv.width = clampLength(magnitudeOf(width));
    } else {
      conv.width = readCount(in);
    }
    if (in.peek() == '.') {
      in.next();
      if (in.peek() == '*') {
        in.next();
        const int precision = va_arg(Args, int);
        conv.hasPrecision = precision >= 0;
        conv.precision = conv.hasPrecision ? clampLength(magnitudeOf(precision)) : 0;
      } else {
        conv.hasPrecision = true;
        conv.precision = readCount(in);
      }
    }
    while (in.peek() == 'l' || in.peek() == 'L') {
      in.next();
      conv.long64 = true;
    }
    if (in.atEnd()) {
      break;
    }

    const UINT32 conversion = in.next();
    switch (conversion) {
    case 'a':
      putString(out, va_arg(Args, const CHAR8 *), conv);
      break;
    case 's':
    case 'S':
      putString(out, va_arg(Args, const CHAR16 *), conv);
      break;
    case 'c': {
      const UINT32 ch = static_cast<UINT32>(va_arg(Args, int));
      const UINTN pad = conv.width > 1 ? conv.width - 1 : 0;
      if (!conv.left) {
        out.repeat(' ', pad);
      }
      out.putUnit(wideOut ? (ch & 0xFFFF) : (ch & 0xFF));
      if (conv.left) {
        out.repeat(' ', pad);
      }
      break;
    }
    case 'd':
    case 'i': {
      const INT64 v = conv.long64 ? va_arg(Args, INT64) : va_arg(Args, int);
      const UINT64 magnitude = v < 0 ? 0 - static_cast<UINT64>(v) : static_cast<UINT64>(v);
      putNumber(out, magnitude, v < 0, true, false, conv);
      break;
    }
    case 'u':
    case 'x':
    case 'X': {
      const UINT64 v = conv.long64 ? va_arg(Args, UINT64) : va_arg(Args, unsigned int);
      conv.zero = conv.zero || conversion == 'X';
      putNumber(out, v, false, false, conversion != 'u', conv);
      break;
    }
    case 'p': {
      const UINT64 v = text::address(va_arg(Args, const VOID *));
      conv.zero = true;
      conv.width = conv.width < 16 ? 16 : conv.width;
      putNumber(out, v, false, false, true, conv);
      break;
    }
    case 'g':
      putGuid(out, va_arg(Args, const EFI_GUID *), conv);
      break;
    case 't':
      putTime(out, va_arg(Args, const EFI_TIME *), conv);
      break;
    case 'r':
      putStatus(out, va_arg(Args, EFI_STATUS), conv);
      break;
    default:
      // "%%" and unknown conversions print the character itself and take
      // no argument.
      if (wideFormat) {
        out.put(static_cast<CHAR16>(conversion));
      } else {
        out.putUnit(conversion);
      }
      break;
    }
  }
  out.terminate();
  return out.count();
}

UINTN FormatWithFlags(VOID *Buffer, UINTN Size, UINTN Flags, const VOID *Format, ...) {
  va_list args;
  va_start(args, Format);
  const UINTN n = FormatWithFlagsV(Buffer, Size, Flags, Format, args);
  va_end(args);
  return n;
}

UINTN FormatAscii(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...) {
  va_list args;
  va_start(args, Format);
  const UINTN n = FormatWithFlagsV(Buffer, BufferSize, 0, Format, args);
  va_end(args);
  return n;
}

UINTN FormatWide(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...) {
  va_list args;
  va_start(args, Format);
  const UINTN n = FormatWithFlagsV(Buffer, BufferSize,
                                   FORMAT_FLAG_WIDE_OUTPUT | FORMAT_FLAG_WIDE_FORMAT, Format, args);
  va_end(args);
  return n;
}
