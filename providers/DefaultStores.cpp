#include "providers/DefaultStores.h"

#include <platform/PlatformDefaultStore.h>
#include <platform/PlatformGuids.h>

#include "support/Memory.h"
#include "support/VariableAccess.h"

namespace {

constexpr CHAR16 kSetupName[] = u"Setup";
constexpr UINT64 kStoreHeaderSize = sizeof(PLATFORM_DEFAULT_STORE_HEADER);
constexpr UINT64 kVariableHeaderSize = sizeof(PLATFORM_DEFAULT_VARIABLE_HEADER);
// Place of the extended id relative to the point ExtendedIdDistance names.
constexpr UINT64 kExtendedIdShift = 6;

// The store's id, or FALSE when its extended id would lie outside it.
BOOLEAN ReadStoreId(const UINT8 *store, const PLATFORM_DEFAULT_STORE_HEADER &header, UINT64 *id) {
  UINT64 size = header.Size;
  UINT64 distance = header.ExtendedIdDistance;
  if (distance == 0 || distance > size) {
    *id = header.ShortId;
    return TRUE;
  }
  // At store + size - distance + 6, eight bytes that must end inside the store.
  UINT64 at = size - distance + kExtendedIdShift;
  if (at > size || size - at < sizeof(UINT64)) {
    return FALSE;
  }
  CopyMem(id, store + at, sizeof(UINT64));
  return TRUE;
}

BOOLEAN IsDefaultSetup(const PLATFORM_DEFAULT_VARIABLE_HEADER &header, const UINT8 *name) {
  return header.State == PLATFORM_DEFAULT_VARIABLE_ADDED &&
         CompareGuid(&header.VendorGuid, &gPlatformSetupVariableGuid) &&
         header.NameSize == sizeof(kSetupName) &&
         CompareMem(name, kSetupName, sizeof(kSetupName)) == 0;
}

// Walks the variables of the StoreSize-byte store at Store.
[[nodiscard]] EFI_STATUS FindSetupInStore(const UINT8 *store, UINT64 storeSize, UINTN *size,
                                          VOID *buffer) {
  UINT64 offset = kStoreHeaderSize;
  for (;;) {
    if (offset > storeSize || storeSize - offset < kVariableHeaderSize) {
      return EFI_NOT_FOUND;
    }
    PLATFORM_DEFAULT_VARIABLE_HEADER header;
    CopyMem(&header, store + offset, sizeof(header));
    UINT64 payload = UINT64{header.NameSize} + header.DataSize;
    if (header.StartId != PLATFORM_DEFAULT_VARIABLE_START_ID ||
        payload + PLATFORM_DEFAULT_VARIABLE_EXTENT_SLACK > PLATFORM_DEFAULT_VARIABLE_MAX_EXTENT) {
      return EFI_NOT_FOUND;
    }
    if (storeSize - offset - kVariableHeaderSize < payload) {
      return EFI_NOT_FOUND;
    }
    const UINT8 *name = store + offset + kVariableHeaderSize;
    if (IsDefaultSetup(header, name)) {
      if (*size < header.DataSize) {
        *size = header.DataSize;
        return EFI_BUFFER_TOO_SMALL;
      }
      if (buffer == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      CopyMem(buffer, name + header.NameSize, header.DataSize);
      *size = header.DataSize;
      return EFI_SUCCESS;
    }
    offset += kVariableHeaderSize + payload;
  }
}

} // namespace

EFI_STATUS FindDefaultSetupInRegion(const UINT8 *Region, UINT64 RegionSize, UINT64 StoreId,
                                    UINTN *Size, VOID *Buffer) {
  if (Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Region == nullptr) {
    return EFI_NOT_FOUND;
  }
  UINT64 offset = 0;
  for (;;) {
    if (offset >= RegionSize || RegionSize - offset < kStoreHeaderSize) {
      return EFI_NOT_FOUND;
    }
    const UINT8 *store = Region + offset;
    PLATFORM_DEFAULT_STORE_HEADER header;
    CopyMem(&header, store, sizeof(header));
    if (header.Signature != PLATFORM_DEFAULT_STORE_SIGNATURE ||
        header.Format != PLATFORM_DEFAULT_STORE_FORMATTED ||
        header.State != PLATFORM_DEFAULT_STORE_HEALTHY || header.Size < kStoreHeaderSize ||
        header.Size > RegionSize - offset || header.Flags < 0) {
      return EFI_NOT_FOUND;
    }
    if (header.Reserved == 0) {
      UINT64 id = 0;
      if (!ReadStoreId(store, header, &id)) {
        return EFI_NOT_FOUND;
      }
      if (id == StoreId) {
        // Later stores are not searched, even with the same id.
        return FindSetupInStore(store, header.Size, Size, Buffer);
      }
    }
    offset += header.Size;
  }
}

EFI_STATUS FindDefaultSetupInStores(UINT64 StoreId, UINTN *Size, VOID *Buffer) {
  const UINT8 *region = nullptr;
  UINT64 regionSize = 0;
  GetDefaultStoreRegion(&region, &regionSize);
  if (region == nullptr || regionSize == 0) {
    if (Size == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    return EFI_NOT_FOUND;
  }
  return FindDefaultSetupInRegion(region, regionSize, StoreId, Size, Buffer);
}
