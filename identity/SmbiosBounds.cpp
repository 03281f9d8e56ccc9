#include "identity/SmbiosBounds.h"

#include <uefi/SmbiosTable.h>

#include "support/FirmwareTables.h"
#include "support/Memory.h"

namespace {

constexpr EFI_GUID kSmbios3TableGuid = SMBIOS3_TABLE_GUID;
constexpr UINTN kMaxAddress = ~UINTN{0};

} // namespace

SmbiosTableRange FindSmbiosTable(VOID) {
  SmbiosTableRange none = {0, 0};
  const VOID *published = FindConfigurationTable(&kSmbios3TableGuid);
  if (published == nullptr) {
    return none;
  }
  SMBIOS_TABLE_3_0_ENTRY_POINT entry;
  CopyMem(&entry, published, sizeof(entry));
  if (CompareMem(entry.AnchorString, SMBIOS3_ANCHOR_STRING, SMBIOS3_ANCHOR_LENGTH) != 0 ||
      entry.EntryPointLength < sizeof(entry) || entry.TableAddress == 0 ||
      entry.TableMaximumSize > kMaxAddress - entry.TableAddress) {
    return none;
  }
  SmbiosTableRange range = {static_cast<UINTN>(entry.TableAddress),
                            static_cast<UINTN>(entry.TableAddress) + entry.TableMaximumSize};
  return range;
}

UINTN SmbiosReadableSize(const SmbiosTableRange &Table, const VOID *Structure) {
  UINTN address = reinterpret_cast<UINTN>(Structure);
  UINTN size = kSmbiosStructureLimit;
  if (kMaxAddress - address < size) {
    size = kMaxAddress - address;
  }
  if (address >= Table.Start && address < Table.End && Table.End - address < size) {
    size = Table.End - address;
  }
  return size;
}
