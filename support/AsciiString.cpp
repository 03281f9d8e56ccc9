// Bounded ASCII copy, append and compare.
#include "support/Memory.h"
#include "support/Text.h"
#include "support/TextInternal.h"

namespace {

bool badDestination(const CHAR8 *destination, UINTN size, const CHAR8 *source) {
  return destination == nullptr || source == nullptr || size == 0 || size > MAX_TEXT_LENGTH ||
         text::RangeWraps(destination, size);
}

// Copies at most Count characters of Source to Whole + Offset, terminated.
// The source is read no further than Count characters nor than the room
// left, so it need not be terminated; overlap is judged against the whole
// destination buffer.
EFI_STATUS copyInto(CHAR8 *whole, UINTN wholeSize, UINTN offset, const CHAR8 *source, UINTN count) {
  const UINTN room = wholeSize - offset;
  const UINTN limit = count < room ? count : room;
  const UINTN length = BoundedLength(source, limit);
  const UINTN looked = length < limit ? length + 1 : length;
  if (text::RangesOverlap(whole, wholeSize, source, looked)) {
    return EFI_ACCESS_DENIED;
  }
  if (length >= room) {
    return EFI_BUFFER_TOO_SMALL;
  }
  CopyMem(whole + offset, source, length);
  whole[offset + length] = 0;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS CopyAscii(CHAR8 *Destination, UINTN DestinationSize, const CHAR8 *Source) {
  if (badDestination(Destination, DestinationSize, Source)) {
    return EFI_INVALID_PARAMETER;
  }
  return copyInto(Destination, DestinationSize, 0, Source, DestinationSize);
}

EFI_STATUS CopyAsciiCount(CHAR8 *Destination, UINTN DestinationSize, const CHAR8 *Source,
                          UINTN Count) {
  if (badDestination(Destination, DestinationSize, Source) || Count > MAX_TEXT_LENGTH) {
    return EFI_INVALID_PARAMETER;
  }
  return copyInto(Destination, DestinationSize, 0, Source, Count);
}

EFI_STATUS AppendAscii(CHAR8 *Destination, UINTN DestinationSize, const CHAR8 *Source) {
  if (badDestination(Destination, DestinationSize, Source)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN existing = BoundedLength(Destination, DestinationSize);
  if (existing == DestinationSize) {
    return EFI_BAD_BUFFER_SIZE;
  }
  return copyInto(Destination, DestinationSize, existing, Source, DestinationSize - existing);
}

INTN CompareAsciiCount(const CHAR8 *First, const CHAR8 *Second, UINTN Count) {
  // A NULL never equals a string: callers look setting ids up with this.
  if (First == Second) {
    return 0;
  }
  if (First == nullptr) {
    return -1;
  }
  if (Second == nullptr) {
    return 1;
  }
  const UINTN limit = Count < MAX_TEXT_LENGTH ? Count : MAX_TEXT_LENGTH;
  for (UINTN i = 0; i < limit; ++i) {
    const UINT8 a = static_cast<UINT8>(First[i]);
    const UINT8 b = static_cast<UINT8>(Second[i]);
    if (a != b) {
      return static_cast<INTN>(a) - static_cast<INTN>(b);
    }
    if (a == 0) {
      break;
    }
  }
  return 0;
}

INTN CompareAscii(const CHAR8 *First, const CHAR8 *Second) {
  return CompareAsciiCount(First, Second, MAX_TEXT_LENGTH);
}
