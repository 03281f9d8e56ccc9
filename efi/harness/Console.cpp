#include "efi/harness/Console.h"

#include <stdarg.h>

namespace {

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *conOut;

// Output is gathered in a short buffer and flushed in pieces.
class LineBuffer {
public:
  void put(CHAR16 c) {
    if (length_ == Capacity) {
      flush();
    }
    text_[length_++] = c;
  }
  void putAscii(const CHAR8 *s) {
    for (; *s != '\0'; ++s) {
      if (*s == '\n') {
        put(u'\r');
      }
      put(static_cast<CHAR16>(static_cast<UINT8>(*s)));
    }
  }
  void putNumber(UINT64 value, UINT32 base) {
    CHAR8 digits[24];
    UINTN n = 0;
    do {
      digits[n++] = "0123456789ABCDEF"[value % base];
      value /= base;
    } while (value != 0);
    while (n != 0) {
      put(static_cast<CHAR16>(digits[--n]));
    }
  }
  void flush() {
    text_[length_] = u'\0';
    if (conOut != nullptr && length_ != 0) {
      conOut->OutputString(conOut, text_);
    }
    length_ = 0;
  }

private:
  static constexpr UINTN Capacity = 127;
  CHAR16 text_[Capacity + 1];
  UINTN length_ = 0;
};

struct StatusNameEntry {
  EFI_STATUS status;
  const CHAR8 *name;
};

constexpr StatusNameEntry statusNames[] = {
    {EFI_SUCCESS, "EFI_SUCCESS"},
    {EFI_LOAD_ERROR, "EFI_LOAD_ERROR"},
    {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
    {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
    {EFI_BAD_BUFFER_SIZE, "EFI_BAD_BUFFER_SIZE"},
    {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
    {EFI_NOT_READY, "EFI_NOT_READY"},
    {EFI_DEVICE_ERROR, "EFI_DEVICE_ERROR"},
    {EFI_WRITE_PROTECTED, "EFI_WRITE_PROTECTED"},
    {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
    {EFI_VOLUME_CORRUPTED, "EFI_VOLUME_CORRUPTED"},
    {EFI_NO_MEDIA, "EFI_NO_MEDIA"},
    {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
    {EFI_ACCESS_DENIED, "EFI_ACCESS_DENIED"},
    {EFI_NOT_STARTED, "EFI_NOT_STARTED"},
    {EFI_ALREADY_STARTED, "EFI_ALREADY_STARTED"},
    {EFI_ABORTED, "EFI_ABORTED"},
    {EFI_SECURITY_VIOLATION, "EFI_SECURITY_VIOLATION"},
    {EFI_WARN_STALE_DATA, "EFI_WARN_STALE_DATA"},
};

} // namespace

VOID ConsoleInit(EFI_SYSTEM_TABLE *SystemTable) {
  conOut = SystemTable->ConOut;
}

const CHAR8 *StatusName(EFI_STATUS Status) {
  for (const StatusNameEntry &entry : statusNames) {
    if (entry.status == Status) {
      return entry.name;
    }
  }
  return nullptr;
}

VOID Print(const CHAR8 *Format, ...) {
  LineBuffer out;
  va_list args;
  va_start(args, Format);
  for (const CHAR8 *p = Format; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '\0') {
      CHAR8 one[2] = {*p, '\0'};
      out.putAscii(one);
      continue;
    }
    switch (*++p) {
    case 'a': {
      const CHAR8 *s = va_arg(args, const CHAR8 *);
      out.putAscii(s != nullptr ? s : "(null)");
      break;
    }
    case 'u':
      out.putNumber(va_arg(args, UINT64), 10);
      break;
    case 'x':
      out.putAscii("0x");
      out.putNumber(va_arg(args, UINT64), 16);
      break;
    case 'r': {
      EFI_STATUS status = va_arg(args, EFI_STATUS);
      const CHAR8 *name = StatusName(status);
      if (name != nullptr) {
        out.putAscii(name);
      } else {
        out.putAscii("status 0x");
        out.putNumber(status, 16);
      }
      break;
    }
    default:
      out.put(static_cast<CHAR16>(*p));
      break;
    }
  }
  va_end(args);
  out.flush();
}
