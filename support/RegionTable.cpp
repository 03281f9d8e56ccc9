#include "support/RegionTable.h"

#include <platform/PlatformRegionTable.h>

#include "support/Memory.h"

namespace {

struct RegionTableState {
  const UINT8 *table;
  // Set at exit boot services; never cleared within a boot.
  BOOLEAN disabled;
};

RegionTableState mRegionTable;

// The checked geometry of the table.
struct TableView {
  const UINT8 *bytes;
  UINT32 length;
  UINT32 firstEntry;
  UINT32 stride;
  UINT64 base;
};

[[nodiscard]] EFI_STATUS OpenTable(TableView *view) {
  if (mRegionTable.disabled) {
    return EFI_UNSUPPORTED;
  }
  if (mRegionTable.table == nullptr) {
    return EFI_NOT_FOUND;
  }
  PLATFORM_REGION_TABLE_HEADER header;
  CopyMem(&header, mRegionTable.table, sizeof(header));
  if (header.Signature != PLATFORM_REGION_TABLE_SIGNATURE) {
    return EFI_NOT_FOUND;
  }
  UINT8 sum = 0;
  for (UINTN i = 0; i < sizeof(header); i++) {
    sum = static_cast<UINT8>(sum + mRegionTable.table[i]);
  }
  if (sum != 0) {
    return EFI_SECURITY_VIOLATION;
  }
  // A stride shorter than an entry would overlap entries, and 0 would never
  // move on.
  if (header.Length < sizeof(header) || header.EntrySize < sizeof(PLATFORM_REGION_TABLE_ENTRY)) {
    return EFI_VOLUME_CORRUPTED;
  }
  *view = {mRegionTable.table, header.Length, header.FirstEntryOffset, header.EntrySize,
           header.BaseAddress};
  return EFI_SUCCESS;
}

// Walks the entries that fit inside the table, in table order, calling
// Visit(entry) for each non-ignored one until it returns TRUE. Offsets are
// 64-bit, so offset + stride cannot wrap.
template <typename Visit> VOID WalkEntries(const TableView &view, Visit &&visit) {
  for (UINT64 offset = view.firstEntry;
       offset < view.length && view.length - offset >= sizeof(PLATFORM_REGION_TABLE_ENTRY);
       offset += view.stride) {
    PLATFORM_REGION_TABLE_ENTRY entry;
    CopyMem(&entry, view.bytes + offset, sizeof(entry));
    if ((entry.Attributes & PLATFORM_REGION_ATTRIBUTE_IGNORED) != 0) {
      continue;
    }
    if (visit(entry)) {
      return;
    }
  }
}

[[nodiscard]] EFI_STATUS RegionAddress(const TableView &view,
                                       const PLATFORM_REGION_TABLE_ENTRY &entry, UINT64 *address,
                                       UINT64 *size) {
  UINT64 maxAddress = ~UINT64{0};
  if (maxAddress - view.base < entry.RegionOffset ||
      maxAddress - (view.base + entry.RegionOffset) < entry.RegionSize) {
    return EFI_VOLUME_CORRUPTED;
  }
  *address = view.base + entry.RegionOffset;
  *size = entry.RegionSize;
  return EFI_SUCCESS;
}

// The N-th non-ignored entry of Type.
[[nodiscard]] EFI_STATUS FindNthEntry(const TableView &view, const EFI_GUID *type, UINT32 n,
                                      PLATFORM_REGION_TABLE_ENTRY *found) {
  UINT32 seen = 0;
  BOOLEAN hit = FALSE;
  WalkEntries(view, [&](const PLATFORM_REGION_TABLE_ENTRY &entry) {
    if (CompareGuid(&entry.Type, type) && ++seen == n) {
      *found = entry;
      hit = TRUE;
    }
    return hit;
  });
  return hit ? EFI_SUCCESS : EFI_NOT_FOUND;
}

// The table, read through View, and its N-th non-ignored entry of Type.
[[nodiscard]] EFI_STATUS OpenNthEntry(const EFI_GUID *type, UINT32 n, TableView *view,
                                      PLATFORM_REGION_TABLE_ENTRY *found) {
  EFI_STATUS status = OpenTable(view);
  if (EFI_ERROR(status)) {
    return status;
  }
  return FindNthEntry(*view, type, n, found);
}

} // namespace

VOID SetPlatformRegionTable(const VOID *Table) {
  mRegionTable.table = static_cast<const UINT8 *>(Table);
  mRegionTable.disabled = FALSE;
}

const VOID *GetPlatformRegionTable(VOID) {
  return mRegionTable.table;
}

VOID DisablePlatformRegionTable(VOID) {
  mRegionTable.disabled = TRUE;
}

BOOLEAN PlatformRegionTableDisabled(VOID) {
  return mRegionTable.disabled;
}

EFI_STATUS GetPlatformRegionEntry(const EFI_GUID *Type, UINT32 N, EFI_GUID *SubId, UINT64 *Offset,
                                  UINT64 *Size, UINT32 *Attributes) {
  if (SubId != nullptr) {
    ZeroMem(SubId, sizeof(*SubId));
  }
  if (Offset != nullptr) {
    *Offset = 0;
  }
  if (Size != nullptr) {
    *Size = 0;
  }
  if (Attributes != nullptr) {
    *Attributes = 0;
  }
  if (mRegionTable.disabled) {
    return EFI_UNSUPPORTED;
  }
  if (Type == nullptr || N == 0) {
    return EFI_INVALID_PARAMETER;
  }
  TableView view;
  PLATFORM_REGION_TABLE_ENTRY entry;
  EFI_STATUS status = OpenNthEntry(Type, N, &view, &entry);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (SubId != nullptr) {
    CopyMem(SubId, &entry.SubId, sizeof(*SubId));
  }
  if (Offset != nullptr) {
    *Offset = entry.RegionOffset;
  }
  if (Size != nullptr) {
    *Size = entry.RegionSize;
  }
  if (Attributes != nullptr) {
    *Attributes = entry.Attributes;
  }
  return EFI_SUCCESS;
}

EFI_STATUS CountPlatformRegionEntries(UINT32 *Count) {
  if (Count != nullptr) {
    *Count = 0;
  }
  if (mRegionTable.disabled) {
    return EFI_UNSUPPORTED;
  }
  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TableView view;
  EFI_STATUS status = OpenTable(&view);
  if (EFI_ERROR(status)) {
    return status;
  }
  // A table of at most 4 GiB holds fewer than 2^32 entries of 52 bytes.
  UINT32 count = 0;
  WalkEntries(view, [&](const PLATFORM_REGION_TABLE_ENTRY &) {
    count++;
    return FALSE;
  });
  *Count = count;
  return EFI_SUCCESS;
}

EFI_STATUS FindPlatformRegion(const EFI_GUID *Type, const EFI_GUID *SubId, UINT64 *Address,
                              UINT64 *Size) {
  if (Address != nullptr) {
    *Address = 0;
  }
  if (Size != nullptr) {
    *Size = 0;
  }
  if (mRegionTable.disabled) {
    return EFI_UNSUPPORTED;
  }
  if (Type == nullptr || SubId == nullptr || Address == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // A table that cannot be read (wrong signature or checksum, a bad
  // stride or length) holds no region.
  TableView view;
  if (EFI_ERROR(OpenTable(&view))) {
    return EFI_NOT_FOUND;
  }
  // One walk gives what asking for entry 1, 2, ... of Type in turn would:
  // the first entry of Type, in table order, whose sub-id matches.
  BOOLEAN hit = FALSE;
  PLATFORM_REGION_TABLE_ENTRY found;
  WalkEntries(view, [&](const PLATFORM_REGION_TABLE_ENTRY &entry) {
    if (CompareGuid(&entry.Type, Type) && CompareGuid(&entry.SubId, SubId)) {
      found = entry;
      hit = TRUE;
    }
    return hit;
  });
  if (!hit) {
    return EFI_NOT_FOUND;
  }
  return RegionAddress(view, found, Address, Size);
}

EFI_STATUS GetPlatformRegionAddress(const EFI_GUID *Type, UINT32 N, UINT64 *Address, UINT64 *Size) {
  if (Address != nullptr) {
    *Address = 0;
  }
  if (Size != nullptr) {
    *Size = 0;
  }
  if (mRegionTable.disabled) {
    return EFI_UNSUPPORTED;
  }
  if (Type == nullptr || N == 0 || Address == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TableView view;
  PLATFORM_REGION_TABLE_ENTRY entry;
  EFI_STATUS status = OpenNthEntry(Type, N, &view, &entry);
  if (EFI_ERROR(status)) {
    return status;
  }
  return RegionAddress(view, entry, Address, Size);
}
