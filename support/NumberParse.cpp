// Decimal and hexadecimal text readers.
#include "support/Text.h"
#include "support/TextInternal.h"

namespace {

// Value of a hexadecimal digit of either case, or -1.
int hexValue(CHAR8 c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

} // namespace

EFI_STATUS ParseDecimal(const CHAR8 *Text, CHAR8 **EndPointer, UINT64 *Value) {
  (void)EndPointer;
  if (Text == nullptr || Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN length = BoundedLength(Text, MAX_TEXT_LENGTH + 1);
  if (length > MAX_TEXT_LENGTH) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN i = 0;
  while (i < length && (Text[i] == ' ' || Text[i] == '\t')) {
    ++i;
  }
  while (i < length && Text[i] == '0') {
    ++i;
  }
  constexpr UINT64 kMax = ~UINT64{0};
  UINT64 value = 0;
  for (; i < length && Text[i] >= '0' && Text[i] <= '9'; ++i) {
    const UINT64 digit = static_cast<UINT64>(Text[i] - '0');
    if (value > kMax / 10 || kMax - value * 10 < digit) {
      *Value = kMax;
      return EFI_UNSUPPORTED;
    }
    value = value * 10 + digit;
  }
  *Value = value;
  return EFI_SUCCESS;
}

EFI_STATUS HexTextToBytes(const CHAR8 *Text, UINTN Length, UINT8 *Buffer, UINTN BufferSize) {
  if (Text == nullptr || Buffer == nullptr || Length > MAX_TEXT_LENGTH || Length % 2 != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (BufferSize < Length / 2) {
    return EFI_BUFFER_TOO_SMALL;
  }
  for (UINTN i = 0; i < Length; ++i) {
    if (hexValue(Text[i]) < 0) {
      return EFI_UNSUPPORTED;
    }
  }
  for (UINTN i = 0; i < Length; i += 2) {
    Buffer[i / 2] = static_cast<UINT8>((hexValue(Text[i]) << 4) | hexValue(Text[i + 1]));
  }
  return EFI_SUCCESS;
}
