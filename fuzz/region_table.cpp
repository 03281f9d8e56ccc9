// Fuzz target for the region-table lookups: any bytes as a table.
//
// The first input byte picks options (bit 0: make the header checksum
// right, so the fuzzer reaches the entries); the rest is the table, held in
// a block of exactly its size (at least the 28-byte header). The lookups
// trust the header's length as the table's extent, so a stated length
// beyond the block is cut to the block first.
//
// Checked on every input: the count and the entry lookup agree on the
// table's fault, and the region search then finds nothing;
// every entry a lookup returns is not ignored; entry n of a type exists only
// while n <= the count; with the region-table flag set everything is
// EFI_UNSUPPORTED.
#include <platform/PlatformGuids.h>
#include <platform/PlatformRegionTable.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "support/RegionTable.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    abort();
  }
}

constexpr size_t kHeaderSize = sizeof(PLATFORM_REGION_TABLE_HEADER);

// Entry types worth asking for: the first entry's own type and the two the
// driver uses.
std::vector<EFI_GUID> CandidateTypes(const uint8_t *table, size_t size) {
  std::vector<EFI_GUID> types = {gPlatformDefaultStoreRegionGuid, gPlatformVariableRegionGuid};
  uint32_t first = 0;
  memcpy(&first, table + 8, sizeof(first));
  if (first <= size && size - first >= sizeof(EFI_GUID)) {
    EFI_GUID type;
    memcpy(&type, table + first, sizeof(type));
    types.push_back(type);
  }
  return types;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const uint8_t options = data[0];
  data++;
  size--;
  size_t imageSize = size < kHeaderSize ? kHeaderSize : size;
  uint8_t *table = static_cast<uint8_t *>(calloc(imageSize, 1));
  memcpy(table, data, size);
  uint32_t length = 0;
  memcpy(&length, table + 4, sizeof(length));
  if (length > imageSize) {
    length = static_cast<uint32_t>(imageSize);
    memcpy(table + 4, &length, sizeof(length));
  }
  if ((options & 1) != 0) {
    uint8_t sum = 0;
    for (size_t i = 0; i < kHeaderSize; i++) {
      sum = static_cast<uint8_t>(sum + table[i]);
    }
    table[16] = static_cast<uint8_t>(table[16] - sum);
  }

  SetPlatformRegionTable(table);
  UINT32 count = 0;
  EFI_STATUS countStatus = CountPlatformRegionEntries(&count);
  Check(countStatus == EFI_SUCCESS || countStatus == EFI_NOT_FOUND ||
        countStatus == EFI_SECURITY_VIOLATION || countStatus == EFI_VOLUME_CORRUPTED);
  Check(countStatus == EFI_SUCCESS || count == 0);
  Check(count <= length / sizeof(PLATFORM_REGION_TABLE_ENTRY));
  if (countStatus != EFI_SUCCESS) {
    // A table that cannot be read holds no region.
    UINT64 address = 1, regionSize = 1;
    EFI_GUID any = {};
    Check(FindPlatformRegion(&gPlatformDefaultStoreRegionGuid, &any, &address, &regionSize) ==
              EFI_NOT_FOUND &&
          address == 0 && regionSize == 0);
  }

  for (const EFI_GUID &type : CandidateTypes(table, imageSize)) {
    for (UINT32 n = 1;; n++) {
      EFI_GUID subId;
      UINT64 offset = 0, regionSize = 0;
      UINT32 attributes = 0;
      EFI_STATUS status =
          GetPlatformRegionEntry(&type, n, &subId, &offset, &regionSize, &attributes);
      if (countStatus != EFI_SUCCESS) {
        Check(status == countStatus);
        break;
      }
      if (status == EFI_NOT_FOUND) {
        break;
      }
      Check(status == EFI_SUCCESS && n <= count);
      Check((attributes & PLATFORM_REGION_ATTRIBUTE_IGNORED) == 0);
      UINT64 address = 0, foundSize = 0;
      status = FindPlatformRegion(&type, &subId, &address, &foundSize);
      Check(status == EFI_SUCCESS || status == EFI_VOLUME_CORRUPTED);
      status = GetPlatformRegionAddress(&type, n, &address, &foundSize);
      Check(status == EFI_SUCCESS || status == EFI_VOLUME_CORRUPTED);
      if (status == EFI_SUCCESS) {
        Check(foundSize == regionSize && ~UINT64{0} - address >= foundSize);
      }
    }
  }

  DisablePlatformRegionTable();
  Check(CountPlatformRegionEntries(&count) == EFI_UNSUPPORTED);
  UINT64 address = 0, regionSize = 0;
  EFI_GUID zero = {};
  Check(FindPlatformRegion(&gPlatformDefaultStoreRegionGuid, &zero, &address, &regionSize) ==
        EFI_UNSUPPORTED);
  SetPlatformRegionTable(nullptr);
  free(table);
  return 0;
}
