// How far a structure handed out by the SMBIOS protocol may be read. The
// firmware also publishes the structures as one table under the SMBIOS 3.0
// entry point; a structure inside that table is read no further than the
// table's end. Real firmware may keep records apart from the table, so a
// structure outside it (or any structure, when no entry point is
// published) is read no further than the largest structure SMBIOS allows.
#ifndef ZELM_IDENTITY_SMBIOS_BOUNDS_H_
#define ZELM_IDENTITY_SMBIOS_BOUNDS_H_

#include <uefi/UefiBaseType.h>

// Largest structure, formatted area and strings together, that is read.
inline constexpr UINTN kSmbiosStructureLimit = 0xFFFF;

// The structure table's address range [Start, End); both 0 when there is
// none.
struct SmbiosTableRange {
  UINTN Start;
  UINTN End;
};

// The range of the table named by the SMBIOS 3.0 entry point in the
// configuration table. An entry point without its anchor, shorter than
// its structure, or naming a table that wraps the address space counts as
// none. Reads the entry point, never the table.
SmbiosTableRange FindSmbiosTable(VOID);

// Bytes that may be read from Structure on: up to the table's end when it
// lies inside Table, never more than kSmbiosStructureLimit.
UINTN SmbiosReadableSize(const SmbiosTableRange &Table, const VOID *Structure);

#endif
