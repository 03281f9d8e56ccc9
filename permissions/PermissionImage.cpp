#include "permissions/PermissionImage.h"

#include <zelm/ZelmGuids.h>

#include "permissions/IdentityChanges.h"
#include "support/ByteReader.h"
#include "support/FirmwareTables.h"
#include "support/List.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/VariableAlloc.h"
#include "support/VariableAttributes.h"

CHAR16 kPermissionStoreVariableName[] = u"_SPP";

namespace {

// Formats 1 and 2 end their header with the count at 46.
constexpr UINTN kOldHeaderSize = 48;
constexpr UINTN kOldCountOffset = 46;
// Every format holds the fields up to DefaultPMask.
constexpr UINTN kCommonHeaderSize = offsetof(PermissionImageHeader, DefaultPMask) + 1;
// Format 1's entries are counted but not used.
constexpr UINTN kFormat1EntrySize = 5;
// A version-3 store without delegation defaults to every delegating identity.
constexpr UINT8 kFormat3DefaultDMask = 0xF0;

BOOLEAN HasNul(const UINT8 *bytes, UINTN size) {
  for (UINTN i = 0; i < size; i++) {
    if (bytes[i] == 0) {
      return TRUE;
    }
  }
  return FALSE;
}

struct EntryLayout {
  BOOLEAN hasDMask;
  UINT8 dMask; // used when the image has none
};

// Reads Count entries (PMask, [DMask], IdSize, id) into Store.
[[nodiscard]] EFI_STATUS ReadEntries(ByteReader *reader, UINT16 count, EntryLayout layout,
                                     PermissionStore *store) {
  for (UINT16 i = 0; i < count; i++) {
    UINT8 pMask = 0;
    UINT8 dMask = layout.dMask;
    UINT8 idSize = 0;
    const UINT8 *id = nullptr;
    if (!reader->Read(&pMask) || (layout.hasDMask && !reader->Read(&dMask)) ||
        !reader->Read(&idSize) || !reader->Take(idSize, &id)) {
      return EFI_COMPROMISED_DATA;
    }
    // The id is read as text, so its NUL must lie within its bytes.
    if (!HasNul(id, idSize)) {
      return EFI_COMPROMISED_DATA;
    }
    // A stored removal mark would let the next packet of any signer drop
    // the entry.
    EFI_STATUS status = AddPermissionEntry(store, reinterpret_cast<const CHAR8 *>(id), pMask,
                                           static_cast<UINT8>(dMask & ~kRemovalMark));
    // Too long an id is skipped; losing an entry to pool exhaustion would
    // leave its setting to the default masks, which can widen a right.
    if (status == EFI_ABORTED) {
      return status;
    }
  }
  return EFI_SUCCESS;
}

// Fills Store from the image after the common header checks.
[[nodiscard]] EFI_STATUS ReadImage(const UINT8 *image, UINTN size, PermissionStore *store,
                                   BOOLEAN *migrated) {
  PermissionImageHeader header = {};
  CopyMem(&header, image, kCommonHeaderSize);
  store->Version = header.Version;
  store->LowestSupportedVersion = header.LowestSupportedVersion;
  store->CreatedOn = header.CreatedOn;
  store->SavedOn = header.SavedOn;
  store->DefaultPMask = header.DefaultPMask;
  store->DefaultDMask = kDefaultDMask;

  ByteReader reader(image, size);
  UINT16 count = 0;
  switch (header.Format) {
  case 1:
  case 2: {
    if (!reader.Seek(kOldCountOffset) || !reader.Read(&count)) {
      return EFI_COMPROMISED_DATA;
    }
    if (header.Format == 1) {
      if (size != kOldHeaderSize + kFormat1EntrySize * count) {
        return EFI_COMPROMISED_DATA;
      }
    } else {
      EFI_STATUS status = ReadEntries(&reader, count, {FALSE, kDefaultDMask}, store);
      if (EFI_ERROR(status)) {
        return status;
      }
    }
    break;
  }
  case 3:
  case kPermissionImageFormat: {
    if (!reader.Read(&header)) {
      return EFI_COMPROMISED_DATA;
    }
    EFI_STATUS status = ReadEntries(&reader, header.EntryCount, {TRUE, 0}, store);
    if (EFI_ERROR(status)) {
      return status;
    }
    store->DefaultDMask = static_cast<UINT8>(header.DefaultDMask & ~kRemovalMark);
    if (header.Format == 3 && header.DefaultDMask == 0) {
      store->DefaultDMask = kFormat3DefaultDMask;
    }
    break;
  }
  default:
    return EFI_COMPROMISED_DATA;
  }
  *migrated = header.Format != kPermissionImageFormat;
  return EFI_SUCCESS;
}

// What "_SPP" holds against an image: the same store apart from its two
// times (CreatedOn, SavedOn), with the stored creation time; or, when it is
// stored with other attributes, a variable the write must delete first. A
// default store made afresh differs from the stored one only in CreatedOn,
// which must not cost a flash write on every boot.
struct StoredImage {
  BOOLEAN equal = FALSE;
  BOOLEAN otherAttributes = FALSE;
  EFI_TIME createdOn = {};
};

StoredImage ReadStoredImage(const UINT8 *image, UINTN size) {
  StoredImage result;
  VOID *stored = nullptr;
  UINTN storedSize = 0;
  UINT32 attributes = 0;
  if (EFI_ERROR(GetVariableAllocWithAttributes(kPermissionStoreVariableName,
                                               &gZelmSettingsManagerVariableGuid, &stored,
                                               &storedSize, &attributes))) {
    return result;
  }
  PoolPtr<UINT8> guard(static_cast<UINT8 *>(stored));
  if (attributes != kStoredVariableAttributes) {
    result.otherAttributes = TRUE;
    return result;
  }
  constexpr UINTN created = offsetof(PermissionImageHeader, CreatedOn);
  constexpr UINTN afterTimes = offsetof(PermissionImageHeader, SavedOn) + sizeof(EFI_TIME);
  static_assert(offsetof(PermissionImageHeader, SavedOn) == created + sizeof(EFI_TIME),
                "the two times are adjacent");
  if (storedSize != size) {
    return result;
  }
  CopyMem(&result.createdOn, guard.get() + created, sizeof(EFI_TIME));
  result.equal = CompareMem(guard.get(), image, created) == 0 &&
                 CompareMem(guard.get() + afterTimes, image + afterTimes, size - afterTimes) == 0;
  return result;
}

} // namespace

UINTN PermissionImageSize(PermissionStore *Store) {
  UINTN size = sizeof(PermissionImageHeader);
  for (PermissionEntry *e = FirstPermissionEntry(Store); e != nullptr;
       e = NextPermissionEntry(Store, e)) {
    size += 3 + e->IdSize;
  }
  return size;
}

VOID WritePermissionImage(PermissionStore *Store, UINT8 *Image) {
  PermissionImageHeader header = {};
  header.Signature = kPermissionImageSignature;
  header.Format = kPermissionImageFormat;
  header.Version = Store->Version;
  header.LowestSupportedVersion = Store->LowestSupportedVersion;
  header.CreatedOn = Store->CreatedOn;
  header.SavedOn = Store->SavedOn;
  header.DefaultPMask = Store->DefaultPMask;
  header.DefaultDMask = Store->DefaultDMask;
  UINT8 *cursor = Image + sizeof(header);
  for (PermissionEntry *e = FirstPermissionEntry(Store); e != nullptr;
       e = NextPermissionEntry(Store, e)) {
    cursor[0] = e->PMask;
    cursor[1] = e->DMask;
    cursor[2] = e->IdSize;
    CopyMem(cursor + 3, e->Id, e->IdSize);
    cursor += 3 + e->IdSize;
    header.EntryCount++;
  }
  CopyMem(Image, &header, sizeof(header));
}

EFI_STATUS LoadPermissionStore(BOOLEAN *Migrated) {
  SetCurrentPermissionStore(nullptr);
  if (Migrated != nullptr) {
    *Migrated = FALSE;
  }
  VOID *data = nullptr;
  UINTN size = 0;
  UINT32 attributes = 0;
  EFI_STATUS status = GetVariableAllocWithAttributes(
      kPermissionStoreVariableName, &gZelmSettingsManagerVariableGuid, &data, &size, &attributes);
  if (EFI_ERROR(status)) {
    return status;
  }
  PoolPtr<UINT8> image(static_cast<UINT8 *>(data));
  if (size > kPermissionStoreMaxSize || attributes != kStoredVariableAttributes) {
    return EFI_NOT_FOUND;
  }
  PermissionImageHeader header = {};
  if (size < kCommonHeaderSize) {
    return EFI_COMPROMISED_DATA;
  }
  CopyMem(&header, image.get(), kCommonHeaderSize);
  if (header.Signature != kPermissionImageSignature ||
      header.Version < header.LowestSupportedVersion) {
    return EFI_COMPROMISED_DATA;
  }
  auto *store = static_cast<PermissionStore *>(AllocZeroedPool(sizeof(PermissionStore)));
  if (store == nullptr) {
    return EFI_ABORTED;
  }
  InitializeListHead(&store->Entries);
  BOOLEAN migrated = FALSE;
  status = ReadImage(image.get(), size, store, &migrated);
  if (!EFI_ERROR(status)) {
    // Without them a reload would give a revoked key its rights back.
    status = ReapplyIdentityChanges(store);
  }
  if (EFI_ERROR(status)) {
    FreePermissionStore(store);
    return status;
  }
  SetCurrentPermissionStore(store);
  if (migrated) {
    store->Dirty = TRUE;
    (VOID) SavePermissionStore(store);
    if (Migrated != nullptr) {
      *Migrated = TRUE;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS ReloadPermissionStore() {
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
  return LoadPermissionStore(nullptr);
}

EFI_STATUS SavePermissionStore(PermissionStore *Store) {
  if (Store == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Store->Dirty) {
    return EFI_SUCCESS;
  }
  UINTN size = PermissionImageSize(Store);
  if (size > kPermissionStoreMaxSize) {
    return EFI_INVALID_PARAMETER;
  }
  PoolPtr<UINT8> image(static_cast<UINT8 *>(AllocZeroedPool(size)));
  if (!image) {
    return EFI_ABORTED;
  }
  WritePermissionImage(Store, image.get());
  EFI_TIME now = {};
  (VOID) gRT->GetTime(&now, nullptr);
  const StoredImage stored = ReadStoredImage(image.get(), size);
  if (stored.equal) {
    // "_SPP" already holds this store, with the changes made in memory.
    Store->CreatedOn = stored.createdOn;
    ForgetIdentityChanges();
    return EFI_SUCCESS;
  }
  CopyMem(image.get() + offsetof(PermissionImageHeader, SavedOn), &now, sizeof(now));
  if (stored.otherAttributes) {
    // The firmware refuses a write that changes a variable's attributes.
    (VOID) gRT->SetVariable(kPermissionStoreVariableName, &gZelmSettingsManagerVariableGuid, 0, 0,
                            nullptr);
  }
  EFI_STATUS status =
      gRT->SetVariable(kPermissionStoreVariableName, &gZelmSettingsManagerVariableGuid,
                       kStoredVariableAttributes, size, image.get());
  if (!EFI_ERROR(status)) {
    Store->SavedOn = now;
    Store->Dirty = FALSE;
    ForgetIdentityChanges();
  }
  (VOID) SyncPermissionIndicator((Store->DefaultPMask & kIdentityLocal) == 0);
  return status;
}
