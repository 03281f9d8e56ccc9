// Text routines shared by the whole driver: the bounded formatter, number
// text, Base64, decimal and hexadecimal parsing, bounded ASCII strings.
// None of them allocates; none writes past the size it is given.
#ifndef ZELM_SUPPORT_TEXT_H_
#define ZELM_SUPPORT_TEXT_H_

#include <stdarg.h>
#include <uefi/UefiBaseType.h>

// Longest string any text routine accepts, in characters.
inline constexpr UINTN MAX_TEXT_LENGTH = 1000000;

// Characters before the first NUL among the first Limit of Text; Limit
// when none of them is a NUL. Reads no character past the first NUL or
// Limit, so Limit may exceed the buffer of a terminated text.
template <typename Char> inline UINTN BoundedLength(const Char *Text, UINTN Limit) {
  UINTN length = 0;
  while (length < Limit && Text[length] != 0) {
    length++;
  }
  return length;
}

// The same for a buffer whose Size bytes are all there to read (a packet's
// payload, tens of KiB): eight bytes a step.
inline UINTN BufferTextLength(const CHAR8 *Buffer, UINTN Size) {
  constexpr UINT64 kOnes = 0x0101010101010101ull;
  UINTN length = 0;
  while (Size - length >= 8) {
    UINT64 word;
    __builtin_memcpy(&word, Buffer + length, 8);
    if (((word - kOnes) & ~word & (kOnes << 7)) != 0) {
      break; // a NUL among these eight
    }
    length += 8;
  }
  return length + BoundedLength(Buffer + length, Size - length);
}

// Formatter mode flags.
inline constexpr UINTN FORMAT_FLAG_WIDE_OUTPUT = 0x40;  // CHAR16 output
inline constexpr UINTN FORMAT_FLAG_WIDE_FORMAT = 0x100; // CHAR16 format string
inline constexpr UINTN FORMAT_FLAG_COUNT_ONLY = 0x2000; // count, write nothing

// ValueToAscii flags.
inline constexpr UINTN VALUE_FLAG_LEFT_JUSTIFY = 0x01;
inline constexpr UINTN VALUE_FLAG_COMMA = 0x08;
inline constexpr UINTN VALUE_FLAG_ZERO_PAD = 0x20;
inline constexpr UINTN VALUE_FLAG_HEX = 0x80;

// Conversions: %a CHAR8 string, %s/%S CHAR16 string, %c character, %d/%i
// signed, %u unsigned, %x upper-case hex, %X zero-padded hex, %p pointer,
// %g EFI_GUID *, %t EFI_TIME *, %r EFI_STATUS, %% percent sign. l or L
// selects 64-bit arguments, otherwise %d/%i/%u/%x/%X take 32 bits. Flags
// - + space 0 and comma; width and precision as digits or *. A precision
// limits the characters taken from a string argument (which then need not be
// NUL-terminated) and gives the minimum digits of a number. A newline of the
// format (alone, or paired with a carriage return in either order) is
// written as CR LF.

// Common engine. Size is the buffer size in bytes, also with CHAR16 output.
// Returns the characters written (or counted), terminator excluded; the
// output is cut to fit and always terminated. Returns 0 and writes nothing
// when Buffer is NULL without FORMAT_FLAG_COUNT_ONLY, Format is NULL, the
// size holds no character, it or the format exceeds MAX_TEXT_LENGTH
// characters, or Flags has an unknown bit.
UINTN FormatWithFlagsV(OUT VOID *Buffer, IN UINTN Size, IN UINTN Flags, IN const VOID *Format,
                       IN va_list Args);
UINTN FormatWithFlags(OUT VOID *Buffer, IN UINTN Size, IN UINTN Flags, IN const VOID *Format, ...);

// ASCII format into ASCII output of BufferSize bytes; as FormatWithFlags.
UINTN FormatAscii(OUT CHAR8 *Buffer, IN UINTN BufferSize, IN const CHAR8 *Format, ...);

// UTF-16 format into UTF-16 output of BufferSize bytes (BufferSize / 2
// characters); as FormatWithFlags.
UINTN FormatWide(OUT CHAR16 *Buffer, IN UINTN BufferSize, IN const CHAR16 *Format, ...);

// Writes Value as decimal (signed) or, with VALUE_FLAG_HEX, upper-case
// hexadecimal (unsigned 64-bit), terminated. Only VALUE_FLAG_ZERO_PAD pads,
// with "0" on the left up to Width (1..37); digits are never cut. Width 0,
// comma grouping or left justification mean no padding.
// EFI_SUCCESS, EFI_INVALID_PARAMETER (unknown flag, hex with comma, NULL
// Buffer, BufferSize over MAX_TEXT_LENGTH, Width 38 or more),
// EFI_BUFFER_TOO_SMALL (text and terminator do not fit; nothing written).
[[nodiscard]] EFI_STATUS ValueToAscii(OUT CHAR8 *Buffer, IN UINTN BufferSize, IN UINTN Flags,
                                      IN INT64 Value, IN UINTN Width);

// RFC 4648 Base64 with padding, no line breaks, terminated. *DestinationSize
// is set to the size needed, (SourceLength + 2) / 3 * 4 + 1, on success too.
// EFI_SUCCESS, EFI_BUFFER_TOO_SMALL (Destination NULL or smaller than
// needed; nothing written), EFI_INVALID_PARAMETER (Source or DestinationSize
// NULL, a range that wraps the address space or a needed size that does not
// fit, overlapping ranges).
[[nodiscard]] EFI_STATUS Base64Encode(IN const UINT8 *Source, IN UINTN SourceLength,
                                      OUT CHAR8 *Destination OPTIONAL,
                                      IN OUT UINTN *DestinationSize);

// Decodes RFC 4648 Base64; white space is skipped anywhere. *DestinationSize
// is set to the decoded length whenever the text is valid. With Destination
// NULL nothing is written, whatever the size.
// EFI_SUCCESS, EFI_BUFFER_TOO_SMALL (decoded length over *DestinationSize,
// or Destination NULL and the length not 0; the bytes that fit are written),
// EFI_INVALID_PARAMETER (Source or DestinationSize NULL, a character outside
// the alphabet, a stray or incomplete padding, non-zero bits after padding,
// an incomplete final group, wrapping or overlapping ranges; nothing
// written).
[[nodiscard]] EFI_STATUS Base64Decode(IN const CHAR8 *Source, IN UINTN SourceLength,
                                      OUT UINT8 *Destination OPTIONAL,
                                      IN OUT UINTN *DestinationSize);

// Reads a decimal number: blanks and tabs, then zeros, are skipped; digits
// are read up to the first non-digit; no digit reads as 0. EndPointer is
// not written. EFI_SUCCESS, EFI_UNSUPPORTED (over 64 bits; *Value is all
// ones), EFI_INVALID_PARAMETER (Text or Value NULL, Text longer than
// MAX_TEXT_LENGTH).
[[nodiscard]] EFI_STATUS ParseDecimal(IN const CHAR8 *Text, OUT CHAR8 **EndPointer OPTIONAL,
                                      OUT UINT64 *Value);

// Decodes the Length characters of Text (no terminator needed), two hex
// digits per byte, first one the high nibble. Nothing is written unless all
// are valid. EFI_SUCCESS, EFI_INVALID_PARAMETER (NULL pointer, Length odd or
// over MAX_TEXT_LENGTH), EFI_BUFFER_TOO_SMALL (BufferSize < Length / 2),
// EFI_UNSUPPORTED (a character outside 0-9, A-F, a-f).
[[nodiscard]] EFI_STATUS HexTextToBytes(IN const CHAR8 *Text, IN UINTN Length, OUT UINT8 *Buffer,
                                        IN UINTN BufferSize);

// Copies Source and its terminator into Destination. The source is read no
// further than DestinationSize characters. On failure Destination is left
// as it was. EFI_SUCCESS, EFI_INVALID_PARAMETER (NULL pointer,
// DestinationSize 0 or over MAX_TEXT_LENGTH), EFI_ACCESS_DENIED (source
// overlaps the destination buffer), EFI_BUFFER_TOO_SMALL.
[[nodiscard]] EFI_STATUS CopyAscii(OUT CHAR8 *Destination, IN UINTN DestinationSize,
                                   IN const CHAR8 *Source);

// As CopyAscii, taking at most Count characters of Source, which is never
// read beyond them (it need not be terminated). EFI_INVALID_PARAMETER also
// for Count over MAX_TEXT_LENGTH.
[[nodiscard]] EFI_STATUS CopyAsciiCount(OUT CHAR8 *Destination, IN UINTN DestinationSize,
                                        IN const CHAR8 *Source, IN UINTN Count);

// Appends Source after the text in Destination. As CopyAscii, and
// EFI_BAD_BUFFER_SIZE when Destination has no terminator within its size.
[[nodiscard]] EFI_STATUS AppendAscii(IN OUT CHAR8 *Destination, IN UINTN DestinationSize,
                                     IN const CHAR8 *Source);

// Difference of the first differing bytes (as unsigned values), 0 when equal.
// At most MAX_TEXT_LENGTH characters are compared. A NULL string sorts
// before any other; two NULL strings are equal.
INTN CompareAscii(IN const CHAR8 *First, IN const CHAR8 *Second);

// As CompareAscii over at most Count characters; Count 0 compares equal.
INTN CompareAsciiCount(IN const CHAR8 *First, IN const CHAR8 *Second, IN UINTN Count);

#endif
