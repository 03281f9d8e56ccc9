// The documents the driver publishes for the operating system: each is
// written only when its stored copy differs, so a boot in which nothing
// changed writes no flash.
#ifndef ZELM_SUPPORT_PUBLISHED_DOCUMENT_H_
#define ZELM_SUPPORT_PUBLISHED_DOCUMENT_H_

#include <uefi/UefiBaseType.h>

#include "support/VariableAttributes.h"

// *Matches is TRUE when Name / Guid is stored with attributes 7 and holds
// Text (Size bytes, NUL included) apart from the characters between
// "<Date>" and "</Date>", which must be date characters in the stored copy;
// a document without a date must match exactly. An absent or unreadable
// variable does not match. EFI_SUCCESS; EFI_OUT_OF_RESOURCES (no pool for
// the stored copy: nothing is known).
[[nodiscard]] EFI_STATUS ComparePublishedDocument(const CHAR16 *Name, const EFI_GUID *Guid,
                                                  const CHAR8 *Text, UINTN Size, BOOLEAN *Matches);

// Writes Text unless the variable already holds it (as compared above); a
// copy stored with other attributes is deleted first. EFI_SUCCESS (also
// when nothing needed writing); EFI_OUT_OF_RESOURCES (nothing written);
// the status of a refused deletion (no write follows: it would be refused
// too); the status of SetVariable.
[[nodiscard]] EFI_STATUS WritePublishedDocument(const CHAR16 *Name, const EFI_GUID *Guid,
                                                const CHAR8 *Text, UINTN Size);

#endif
