#include "support/PublishedDocument.h"

#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/PacketRecord.h"
#include "support/Pool.h"
#include "support/Text.h"
#include "support/VariableAlloc.h"
#include "support/VariableAttributes.h"

namespace {

// Span of the text between "<Date>" and "</Date>", the one part that
// changes on every build.
struct DateSpan {
  UINTN start = 0;
  UINTN end = 0;
};

BOOLEAN FindDate(const CHAR8 *text, UINTN size, DateSpan *span) {
  static constexpr CHAR8 kOpen[] = "<Date>";
  static constexpr CHAR8 kClose[] = "</Date>";
  for (UINTN i = 0; i + sizeof(kOpen) - 1 <= size; i++) {
    if (CompareAsciiCount(text + i, kOpen, sizeof(kOpen) - 1) != 0) {
      continue;
    }
    span->start = i + sizeof(kOpen) - 1;
    for (UINTN j = span->start; j + sizeof(kClose) - 1 <= size; j++) {
      if (CompareAsciiCount(text + j, kClose, sizeof(kClose) - 1) == 0) {
        span->end = j;
        return TRUE;
      }
    }
    return FALSE;
  }
  return FALSE;
}

// Only a date may differ: anything else between the date tags (a document
// planted with other content there) makes the stored copy different.
BOOLEAN IsDateText(const CHAR8 *text, UINTN length) {
  if (length == 0 || length > sizeof(TimeText::text) - 1) {
    return FALSE;
  }
  for (UINTN i = 0; i < length; i++) {
    const CHAR8 c = text[i];
    if (!((c >= '0' && c <= '9') || c == '-' || c == 'T' || c == ':')) {
      return FALSE;
    }
  }
  return TRUE;
}

BOOLEAN SameApartFromDate(const CHAR8 *text, UINTN size, const CHAR8 *stored, UINTN storedSize) {
  DateSpan a;
  DateSpan b;
  const BOOLEAN dated = FindDate(text, size, &a);
  if (dated != FindDate(stored, storedSize, &b)) {
    return FALSE;
  }
  if (!dated) {
    return size == storedSize && CompareMem(text, stored, size) == 0;
  }
  return size - a.end == storedSize - b.end && a.start == b.start &&
         IsDateText(stored + b.start, b.end - b.start) && CompareMem(text, stored, a.start) == 0 &&
         CompareMem(text + a.end, stored + b.end, size - a.end) == 0;
}

// What the stored copy tells: whether it holds the document, and whether
// it is stored with other attributes (so the write must delete it first).
struct StoredCopy {
  BOOLEAN matches = FALSE;
  BOOLEAN otherAttributes = FALSE;
};

[[nodiscard]] EFI_STATUS ReadStored(const CHAR16 *name, const EFI_GUID *guid, const CHAR8 *text,
                                    UINTN size, StoredCopy *copy) {
  VOID *buffer = nullptr;
  UINTN storedSize = 0;
  UINT32 attributes = 0;
  EFI_STATUS status = GetVariableAllocWithAttributes(name, guid, &buffer, &storedSize, &attributes);
  if (status == EFI_OUT_OF_RESOURCES) {
    return status;
  }
  if (EFI_ERROR(status)) {
    return EFI_SUCCESS; // absent or unreadable: it does not hold the document
  }
  PoolPtr<CHAR8> stored(static_cast<CHAR8 *>(buffer));
  copy->otherAttributes = attributes != kPublishedVariableAttributes;
  copy->matches = !copy->otherAttributes && SameApartFromDate(text, size, stored.get(), storedSize);
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS ComparePublishedDocument(const CHAR16 *Name, const EFI_GUID *Guid, const CHAR8 *Text,
                                    UINTN Size, BOOLEAN *Matches) {
  StoredCopy copy;
  EFI_STATUS status = ReadStored(Name, Guid, Text, Size, &copy);
  *Matches = copy.matches;
  return status;
}

EFI_STATUS WritePublishedDocument(const CHAR16 *Name, const EFI_GUID *Guid, const CHAR8 *Text,
                                  UINTN Size) {
  StoredCopy copy;
  EFI_STATUS status = ReadStored(Name, Guid, Text, Size, &copy);
  if (EFI_ERROR(status) || copy.matches) {
    return status;
  }
  auto *name = const_cast<CHAR16 *>(Name);
  auto *guid = const_cast<EFI_GUID *>(Guid);
  if (copy.otherAttributes) {
    // A variable that cannot be cleared of other attributes refuses the
    // write too.
    status = gRT->SetVariable(name, guid, 0, 0, nullptr);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  return gRT->SetVariable(name, guid, kPublishedVariableAttributes, Size,
                          const_cast<CHAR8 *>(Text));
}
