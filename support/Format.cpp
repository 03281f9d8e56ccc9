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

const CHAR8 *StatusName(EFI_STATUS status) {
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

  bool Full() const { return count_ >= limit_; }
  UINTN Count() const { return count_; }

  // A byte of ASCII text; UTF-16 output widens it.
  bool Put(CHAR8 c) { return PutUnit(static_cast<UINT8>(c)); }

  // A UTF-16 code unit; ASCII output gets "?" for anything beyond ASCII.
  bool Put(CHAR16 c) {
    if (!wide_ && c > 0x7F) {
      return PutUnit('?');
    }
    return PutUnit(c);
  }

  // One output character, truncated to the output's character size.
  bool PutUnit(UINT32 c) {
    if (Full()) {
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

  void Repeat(CHAR8 c, UINTN n) {
    for (UINTN i = 0; i < n && Put(c); ++i) {
    }
  }

  void Terminate() {
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

  bool AtEnd() const { return pos_ >= length_; }
  UINT32 Peek() const { return AtEnd() ? 0 : At(pos_); }
  UINT32 Next() { return AtEnd() ? 0 : At(pos_++); }

private:
  UINT32 At(UINTN i) const {
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

UINTN ClampLength(UINTN n) {
  return n > MAX_TEXT_LENGTH ? MAX_TEXT_LENGTH : n;
}

// A string of Length characters, padded with blanks to the width.
template <typename Char>
void PutText(Output &out, const Char *s, UINTN length, const Conversion &conv) {
  const UINTN pad = conv.width > length ? conv.width - length : 0;
  if (!conv.left) {
    out.Repeat(' ', pad);
  }
  for (UINTN i = 0; i < length && out.Put(s[i]); ++i) {
  }
  if (conv.left) {
    out.Repeat(' ', pad);
  }
}

template <typename Char> void PutString(Output &out, const Char *s, const Conversion &conv) {
  if (s == nullptr) {
    static constexpr CHAR8 kNull[] = "<null string>";
    PutText(out, kNull, sizeof(kNull) - 1, conv);
    return;
  }
  const UINTN limit = conv.hasPrecision ? conv.precision : MAX_TEXT_LENGTH;
  PutText(out, s, BoundedLength(s, limit), conv);
}

void PutNumber(Output &out, UINT64 magnitude, bool negative, bool isSigned, bool hex,
               const Conversion &conv) {
  CHAR8 digits[text::kMaxDigitText];
  const UINTN n = text::RenderDigits(magnitude, hex, conv.comma && !hex, digits);
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
    out.Repeat(' ', pad);
  }
  if (sign != 0) {
    out.Put(sign);
  }
  out.Repeat('0', precisionZeros + (zeroPad ? pad : 0));
  PutText(out, digits, n, Conversion{});
  if (conv.left) {
    out.Repeat(' ', pad);
  }
}

// Small fixed texts (GUID, time, status) are built here before output.
class ShortText {
public:
  void Add(const CHAR8 *s) {
    for (UINTN i = 0; s[i] != 0 && len_ < kCapacity; ++i) {
      buf_[len_++] = s[i];
    }
  }
  void AddHex(UINT64 value, UINTN digits) { AddNumber(value, true, digits); }
  void AddDecimal(UINT64 value, UINTN digits) { AddNumber(value, false, digits); }
  const CHAR8 *Data() const { return buf_; }
  UINTN Length() const { return len_; }

private:
  // Zero-padded to at least MinDigits.
  void AddNumber(UINT64 value, bool hex, UINTN minDigits) {
    CHAR8 digits[text::kMaxDigitText];
    const UINTN n = text::RenderDigits(value, hex, false, digits);
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
void PutGuid(Output &out, const EFI_GUID *guid, const Conversion &conv) {
  if (guid == nullptr) {
    PutString(out, "<null guid>", conv);
    return;
  }
  ShortText t;
  t.AddHex(guid->Data1, 8);
  t.Add("-");
  t.AddHex(guid->Data2, 4);
  t.Add("-");
  t.AddHex(guid->Data3, 4);
  t.Add("-");
  for (UINTN i = 0; i < 8; ++i) {
    if (i == 2) {
      t.Add("-");
    }
    t.AddHex(guid->Data4[i], 2);
  }
  PutText(out, t.Data(), t.Length(), conv);
}

// "%02d/%02d/%04d  %02d:%02d" of month, day, year, hour, minute.
void PutTime(Output &out, const EFI_TIME *time, const Conversion &conv) {
  if (time == nullptr) {
    PutString(out, "<null time>", conv);
    return;
  }
  ShortText t;
  t.AddDecimal(time->Month, 2);
  t.Add("/");
  t.AddDecimal(time->Day, 2);
  t.Add("/");
  t.AddDecimal(time->Year, 4);
  t.Add("  ");
  t.AddDecimal(time->Hour, 2);
  t.Add(":");
  t.AddDecimal(time->Minute, 2);
  PutText(out, t.Data(), t.Length(), conv);
}

// Known codes by name, others as "%08X" of the full 64-bit value.
void PutStatus(Output &out, EFI_STATUS status, const Conversion &conv) {
  const CHAR8 *name = StatusName(status);
  if (name != nullptr) {
    PutString(out, name, conv);
    return;
  }
  ShortText t;
  t.AddHex(status, 8);
  PutText(out, t.Data(), t.Length(), conv);
}

// Digits of a width or precision, saturating at the text limit.
UINTN ReadCount(FormatReader &in) {
  UINTN n = 0;
  while (in.Peek() >= '0' && in.Peek() <= '9') {
    n = ClampLength(n * 10 + (in.Next() - '0'));
  }
  return n;
}

UINTN MagnitudeOf(int v) {
  return v < 0 ? 0 - static_cast<UINTN>(static_cast<INT64>(v)) : static_cast<UINTN>(v);
}

// A line end: "\n", "\r\n" and "\n\r" become "\r\n"; a lone "\r" stays.
void PutLineEnd(FormatReader &in, Output &out, UINT32 c) {
  const UINT32 pair = c == '\n' ? '\r' : '\n';
  if (in.Peek() == pair) {
    in.Next();
  } else if (c == '\r') {
    out.PutUnit('\r');
    return;
  }
  out.PutUnit('\r');
  out.PutUnit('\n');
}

// A character of the format copied as it is.
void PutLiteral(Output &out, UINT32 c, bool wideFormat) {
  if (wideFormat) {
    out.Put(static_cast<CHAR16>(c));
  } else {
    out.PutUnit(c);
  }
}

// Flags, width, precision and length of a conversion, after its "%".
Conversion ReadConversion(FormatReader &in, va_list *args) {
  Conversion conv;
  for (bool more = true; more;) {
    switch (in.Peek()) {
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
    in.Next();
  }
  if (in.Peek() == '*') {
    in.Next();
    const int width = va_arg(*args, int);
    conv.left = conv.left || width < 0;
    conv.width = ClampLength(MagnitudeOf(width));
  } else {
    conv.width = ReadCount(in);
  }
  if (in.Peek() == '.') {
    in.Next();
    if (in.Peek() == '*') {
      in.Next();
      const int precision = va_arg(*args, int);
      conv.hasPrecision = precision >= 0;
      conv.precision = conv.hasPrecision ? ClampLength(MagnitudeOf(precision)) : 0;
    } else {
      conv.hasPrecision = true;
      conv.precision = ReadCount(in);
    }
  }
  while (in.Peek() == 'l' || in.Peek() == 'L') {
    in.Next();
    conv.long64 = true;
  }
  return conv;
}

// %c: one character in the output's size, padded to the width.
void PutCharacter(Output &out, UINT32 ch, bool wideOut, const Conversion &conv) {
  const UINTN pad = conv.width > 1 ? conv.width - 1 : 0;
  if (!conv.left) {
    out.Repeat(' ', pad);
  }
  out.PutUnit(wideOut ? (ch & 0xFFFF) : (ch & 0xFF));
  if (conv.left) {
    out.Repeat(' ', pad);
  }
}

// One conversion character and the argument it takes.
void PutConversion(Output &out, UINT32 conversion, Conversion conv, bool wideOut, bool wideFormat,
                   va_list *args) {
  switch (conversion) {
  case 'a':
    PutString(out, va_arg(*args, const CHAR8 *), conv);
    break;
  case 's':
  case 'S':
    PutString(out, va_arg(*args, const CHAR16 *), conv);
    break;
  case 'c':
    PutCharacter(out, static_cast<UINT32>(va_arg(*args, int)), wideOut, conv);
    break;
  case 'd':
  case 'i': {
    const INT64 v = conv.long64 ? va_arg(*args, INT64) : va_arg(*args, int);
    const UINT64 magnitude = v < 0 ? 0 - static_cast<UINT64>(v) : static_cast<UINT64>(v);
    PutNumber(out, magnitude, v < 0, true, false, conv);
    break;
  }
  case 'u':
  case 'x':
  case 'X': {
    const UINT64 v = conv.long64 ? va_arg(*args, UINT64) : va_arg(*args, unsigned int);
    conv.zero = conv.zero || conversion == 'X';
    PutNumber(out, v, false, false, conversion != 'u', conv);
    break;
  }
  case 'p':
    conv.zero = true;
    conv.width = conv.width < 16 ? 16 : conv.width;
    PutNumber(out, text::Address(va_arg(*args, const VOID *)), false, false, true, conv);
    break;
  case 'g':
    PutGuid(out, va_arg(*args, const EFI_GUID *), conv);
    break;
  case 't':
    PutTime(out, va_arg(*args, const EFI_TIME *), conv);
    break;
  case 'r':
    PutStatus(out, va_arg(*args, EFI_STATUS), conv);
    break;
  default:
    // "%%" and unknown conversions print the character itself and take no
    // argument.
    PutLiteral(out, conversion, wideFormat);
    break;
  }
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
  va_list args;
  va_copy(args, Args);
  while (!in.AtEnd() && !out.Full()) {
    const UINT32 c = in.Next();
    if (c == '\n' || c == '\r') {
      PutLineEnd(in, out, c);
    } else if (c != '%') {
      PutLiteral(out, c, wideFormat);
    } else {
      const Conversion conv = ReadConversion(in, &args);
      if (in.AtEnd()) {
        break;
      }
      PutConversion(out, in.Next(), conv, wideOut, wideFormat, &args);
    }
  }
  va_end(args);
  out.Terminate();
  return out.Count();
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
