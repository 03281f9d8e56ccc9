#include "efi/harness/PlatformHobs.h"

#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>

#include "efi/harness/Console.h"
#include "support/Memory.h"

namespace {

// No HOB list on QEMU comes near this size; a walk past it means the list
// is damaged.
constexpr UINTN maxHobListSize = 16 * 1024 * 1024;

// Offset of EfiEndOfHobList in the hand-off information table HOB
// (PI 1.8 volume 3, section 5.3).
constexpr UINTN phitEndOfHobListOffset = 48;

// The platform region table ("QFDM") as the driver reads it.
#pragma pack(push, 1)
struct RegionTableHeader {
  UINT32 signature;
  UINT32 length;
  UINT32 firstEntryOffset;
  UINT32 entrySize;
  // Not read by the driver; carries the byte that makes the checksum work.
  UINT32 checksumPad;
  UINT64 baseAddress;
};
struct RegionTableEntry {
  EFI_GUID type;
  EFI_GUID subId;
  UINT64 offset;
  UINT64 size;
  UINT32 attributes;
};
#pragma pack(pop)
static_assert(sizeof(RegionTableHeader) == 28, "region table header layout");
static_assert(sizeof(RegionTableEntry) == 52, "region table entry layout");

constexpr UINT32 regionTableSignature = 0x4D444651u; // "QFDM"
constexpr UINT32 tableHeaderSpace = 32;
constexpr UINT32 tableEntryStride = 56;
constexpr UINT32 tableSize = tableHeaderSpace + tableEntryStride;
// The variable region: the driver reads a 16-bit value at offset 0x30.
constexpr UINT32 variableRegionSize = 64;

struct GuidHob {
  EFI_HOB_GUID_TYPE header;
  UINT64 data;
};
static_assert(sizeof(GuidHob) == 32, "GUID HOB with one 64-bit datum");

const EFI_HOB_GENERIC_HEADER *HobAt(const UINT8 *List, UINTN Offset) {
  return reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(List + Offset);
}

// Size of the list up to (not including) its end HOB, or 0 when no end is
// found. Tells whether the list already has a region-table HOB.
UINTN ListSizeBeforeEnd(const UINT8 *List, BOOLEAN *HasRegionHob) {
  UINTN offset = 0;
  while (offset <= maxHobListSize - sizeof(EFI_HOB_GENERIC_HEADER)) {
    const EFI_HOB_GENERIC_HEADER *hob = HobAt(List, offset);
    if (hob->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      return offset;
    }
    if (hob->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return 0;
    }
    if (hob->HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        hob->HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      const EFI_GUID *name = &reinterpret_cast<const EFI_HOB_GUID_TYPE *>(hob)->Name;
      *HasRegionHob |= CompareGuid(name, &gPlatformRegionTableHobGuid);
    }
    offset += hob->HobLength;
  }
  return 0;
}

// Fills Block (tableSize + variableRegionSize bytes) with a region table
// whose one entry describes the variable region that follows the table.
VOID BuildRegionTable(UINT8 *Block) {
  ZeroMem(Block, tableSize + variableRegionSize);
  auto *header = reinterpret_cast<RegionTableHeader *>(Block);
  header->signature = regionTableSignature;
  header->length = tableSize;
  header->firstEntryOffset = tableHeaderSpace;
  header->entrySize = tableEntryStride;
  header->baseAddress = reinterpret_cast<UINTN>(Block);
  auto *entry = reinterpret_cast<RegionTableEntry *>(Block + tableHeaderSpace);
  entry->type = gPlatformVariableRegionGuid;
  entry->offset = tableSize;
  entry->size = variableRegionSize;
  UINT8 sum = 0;
  for (UINTN i = 0; i < sizeof(RegionTableHeader); ++i) {
    sum = static_cast<UINT8>(sum + Block[i]);
  }
  header->checksumPad = static_cast<UINT8>(0x100 - sum);
}

VOID WriteGuidHob(UINT8 *At, const EFI_GUID &Name, UINT64 Data) {
  GuidHob hob = {};
  hob.header.Header.HobType = EFI_HOB_TYPE_GUID_EXTENSION;
  hob.header.Header.HobLength = sizeof(GuidHob);
  hob.header.Name = Name;
  hob.data = Data;
  CopyMem(At, &hob, sizeof(hob));
}

} // namespace

EFI_STATUS AddPlatformHobs(EFI_SYSTEM_TABLE *SystemTable, BOOLEAN WithRegionTable) {
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  const UINT8 *oldList = nullptr;
  for (UINTN i = 0; i < SystemTable->NumberOfTableEntries; ++i) {
    if (CompareGuid(&SystemTable->ConfigurationTable[i].VendorGuid, &gEfiHobListGuid)) {
      oldList = static_cast<const UINT8 *>(SystemTable->ConfigurationTable[i].VendorTable);
      break;
    }
  }
  if (oldList == nullptr) {
    return EFI_NOT_FOUND;
  }
  BOOLEAN hasRegionHob = FALSE;
  UINTN oldSize = ListSizeBeforeEnd(oldList, &hasRegionHob);
  if (oldSize == 0) {
    return EFI_VOLUME_CORRUPTED;
  }
  if (hasRegionHob) {
    Print("zelm-harness: info: the firmware has a region-table HOB\n");
    return EFI_SUCCESS;
  }
  if (!WithRegionTable) {
    Print("zelm-harness: info: region-table HOB left out\n");
    return EFI_SUCCESS;
  }

  UINTN newSize = oldSize + sizeof(GuidHob) + sizeof(EFI_HOB_GENERIC_HEADER);
  UINT8 *newList = nullptr;
  EFI_STATUS status =
      bs->AllocatePool(EfiBootServicesData, newSize, reinterpret_cast<VOID **>(&newList));
  if (EFI_ERROR(status)) {
    return status;
  }
  CopyMem(newList, oldList, oldSize);
  UINTN end = oldSize;
  if (!hasRegionHob) {
    UINT8 *block = nullptr;
    status = bs->AllocatePool(EfiBootServicesData, tableSize + variableRegionSize,
                              reinterpret_cast<VOID **>(&block));
    if (EFI_ERROR(status)) {
      bs->FreePool(newList);
      return status;
    }
    BuildRegionTable(block);
    WriteGuidHob(newList + end, gPlatformRegionTableHobGuid, reinterpret_cast<UINTN>(block));
    end += sizeof(GuidHob);
    Print("zelm-harness: info: region-table HOB added (table at %x)\n",
          static_cast<UINT64>(reinterpret_cast<UINTN>(block)));
  }
  auto *endHob = reinterpret_cast<EFI_HOB_GENERIC_HEADER *>(newList + end);
  endHob->HobType = EFI_HOB_TYPE_END_OF_HOB_LIST;
  endHob->HobLength = sizeof(EFI_HOB_GENERIC_HEADER);
  endHob->Reserved = 0;

  const EFI_HOB_GENERIC_HEADER *first = HobAt(newList, 0);
  if (first->HobType == EFI_HOB_TYPE_HANDOFF &&
      first->HobLength >= phitEndOfHobListOffset + sizeof(UINT64)) {
    UINT64 endAddress = reinterpret_cast<UINTN>(endHob);
    CopyMem(newList + phitEndOfHobListOffset, &endAddress, sizeof(endAddress));
  }
  status = bs->InstallConfigurationTable(&gEfiHobListGuid, newList);
  if (EFI_ERROR(status)) {
    bs->FreePool(newList);
  }
  return status;
}
