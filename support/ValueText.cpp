// Number-to-text conversion.
#include "support/Text.h"
#include "support/TextInternal.h"

namespace {

// Widest text the width allows.
constexpr UINTN kMaxWidth = 37;

} // namespace

EFI_STATUS ValueToAscii(CHAR8 *Buffer, UINTN BufferSize, UINTN Flags, INT64 Value, UINTN Width) {
  constexpr UINTN kKnownFlags =
      VALUE_FLAG_LEFT_JUSTIFY | VALUE_FLAG_COMMA | VALUE_FLAG_ZERO_PAD | VALUE_FLAG_HEX;
  const bool hex = (Flags & VALUE_FLAG_HEX) != 0;
  const bool comma = (Flags & VALUE_FLAG_COMMA) != 0;
  if ((Flags & ~kKnownFlags) != 0 || (hex && comma) || Buffer == nullptr ||
      BufferSize > MAX_TEXT_LENGTH || Width > kMaxWidth) {
    return EFI_INVALID_PARAMETER;
  }
  // Padding on the right would change the value, so left justification
  // simply drops the zeros.
  const bool zeroPad = (Flags & VALUE_FLAG_ZERO_PAD) != 0 && Width != 0 && !comma &&
                       (Flags & VALUE_FLAG_LEFT_JUSTIFY) == 0;

  const bool negative = !hex && Value < 0;
  const UINT64 bits = static_cast<UINT64>(Value);
  const UINT64 magnitude = negative ? 0 - bits : bits;
  CHAR8 digits[text::kMaxDigitText];
  const UINTN digitCount = text::RenderDigits(magnitude, hex, comma, digits);
  const UINTN needed = digitCount + (negative ? 1 : 0);
  const UINTN length = zeroPad && Width > needed ? Width : needed;
  if (BufferSize <= length) {
    return EFI_BUFFER_TOO_SMALL;
  }

  UINTN pos = 0;
  if (negative) {
    Buffer[pos++] = '-';
  }
  while (pos < length - digitCount) {
    Buffer[pos++] = '0';
  }
  for (UINTN i = 0; i < digitCount; ++i) {
    Buffer[pos++] = digits[i];
  }
  Buffer[pos] = 0;
  return EFI_SUCCESS;
}
