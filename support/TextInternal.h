// Helpers shared by the text routines of support/; not used elsewhere.
#ifndef ZELM_SUPPORT_TEXT_INTERNAL_H_
#define ZELM_SUPPORT_TEXT_INTERNAL_H_

#include "support/Text.h"

namespace text {

inline constexpr CHAR8 kHexDigits[] = "0123456789ABCDEF";

inline UINTN Address(const VOID *p) {
  return reinterpret_cast<UINTN>(p);
}

// True when [p, p + len) runs past the end of the address space.
inline bool RangeWraps(const VOID *p, UINTN len) {
  return ~UINTN{0} - Address(p) < len;
}

// True when the two ranges share a byte; neither may wrap.
inline bool RangesOverlap(const VOID *a, UINTN aLen, const VOID *b, UINTN bLen) {
  if (aLen == 0 || bLen == 0) {
    return false;
  }
  return Address(a) < Address(b) + bLen && Address(b) < Address(a) + aLen;
}

// Longest text of RenderDigits: 20 decimal digits and 6 commas.
inline constexpr UINTN kMaxDigitText = 26;

// Writes the digits of Value, most significant first, with a comma every
// three decimal digits when asked; Out holds kMaxDigitText characters.
// Returns the characters written (no terminator).
inline UINTN RenderDigits(UINT64 value, bool hex, bool commas, CHAR8 *out) {
  CHAR8 reversed[kMaxDigitText];
  UINTN n = 0;
  UINTN digits = 0;
  const UINT64 base = hex ? 16 : 10;
  do {
    if (commas && digits != 0 && digits % 3 == 0) {
      reversed[n++] = ',';
    }
    reversed[n++] = kHexDigits[value % base];
    value /= base;
    ++digits;
  } while (value != 0);
  for (UINTN i = 0; i < n; ++i) {
    out[i] = reversed[n - 1 - i];
  }
  return n;
}

} // namespace text

#endif
