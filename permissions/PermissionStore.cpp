#include "permissions/PermissionStore.h"

#include "permissions/PermissionIds.h"
#include "support/FirmwareTables.h"
#include "support/List.h"
#include "support/Memory.h"
#include "support/Pool.h"

namespace {

PermissionStore *mStore;

PermissionEntry *EntryOf(PermissionStore *store, LIST_ENTRY *link) {
  return link == &store->Entries
             ? nullptr
             : ContainingRecord<PermissionEntry>(link, offsetof(PermissionEntry, Link));
}

// Characters of Id before its NUL, or kPermissionIdMaxLength + 1 when there
// are more than kPermissionIdMaxLength (the rest is never read).
UINTN IdLength(const CHAR8 *id) {
  UINTN length = 0;
  while (length <= kPermissionIdMaxLength && id[length] != '\0') {
    length++;
  }
  return length;
}

// FNV-1a over the Length characters of Id.
UINT32 IdHash(const CHAR8 *id, UINTN length) {
  UINT32 hash = 0x811C9DC5;
  for (UINTN i = 0; i < length; i++) {
    hash = (hash ^ static_cast<UINT8>(id[i])) * 0x01000193;
  }
  return hash;
}

PermissionEntry **BucketOf(PermissionStore *store, UINT32 hash) {
  return &store->Buckets[hash % kPermissionBuckets];
}

struct DefaultEntry {
  const CHAR8 *id;
  UINT8 pMask;
  UINT8 dMask;
};

// The identity settings' entries of a new store, in this order.
constexpr DefaultEntry kDefaultEntries[] = {
    {kOwnerKeyId, kIdentityLocal | kIdentityZtd, kIdentityOwner},
    {kZtdKeyId, kIdentityLocal, 0},
    {kZtdUnenrollId, 0, 0},
    {kZtdRecoveryId, 0, 0},
};

} // namespace

PermissionStore *CurrentPermissionStore(VOID) {
  return mStore;
}

VOID SetCurrentPermissionStore(PermissionStore *Store) {
  mStore = Store;
}

PermissionEntry *FirstPermissionEntry(PermissionStore *Store) {
  return EntryOf(Store, Store->Entries.ForwardLink);
}

PermissionEntry *NextPermissionEntry(PermissionStore *Store, PermissionEntry *Entry) {
  return EntryOf(Store, Entry->Link.ForwardLink);
}

EFI_STATUS CreateDefaultPermissionStore(VOID) {
  mStore = nullptr;
  PoolPtr<PermissionStore> store(
      static_cast<PermissionStore *>(AllocZeroedPool(sizeof(PermissionStore))));
  if (!store) {
    return EFI_ABORTED;
  }
  InitializeListHead(&store->Entries);
  store->Dirty = TRUE;
  store->DefaultPMask = kDefaultPMask;
  store->DefaultDMask = kDefaultDMask;
  (VOID) gRT->GetTime(&store->CreatedOn, nullptr);
  for (const DefaultEntry &entry : kDefaultEntries) {
    // A store without one of these would answer with the default masks
    // instead, which can widen a right: no store at all is safer.
    if (EFI_ERROR(SetPermissionEntry(store.get(), entry.id, entry.pMask, entry.dMask))) {
      FreePermissionStore(store.release());
      return EFI_ABORTED;
    }
  }
  mStore = store.release();
  return EFI_SUCCESS;
}

VOID FreePermissionStore(PermissionStore *Store) {
  if (Store == nullptr) {
    return;
  }
  while (!IsListEmpty(&Store->Entries)) {
    LIST_ENTRY *link = Store->Entries.ForwardLink;
    RemoveEntryList(link);
    FreePool(ContainingRecord<PermissionEntry>(link, offsetof(PermissionEntry, Link)));
  }
  FreePool(Store);
}

EFI_STATUS AddPermissionEntry(PermissionStore *Store, const CHAR8 *Id, UINT8 PMask, UINT8 DMask) {
  if (Store == nullptr || Id == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Id[0] >= '0' && Id[0] <= '9') {
    return EFI_SUCCESS;
  }
  UINTN length = IdLength(Id);
  if (length > kPermissionIdMaxLength) {
    return EFI_INVALID_PARAMETER;
  }
  auto *entry = static_cast<PermissionEntry *>(
      AllocZeroedPool(offsetof(PermissionEntry, IdText) + length + 1));
  if (entry == nullptr) {
    return EFI_ABORTED;
  }
  entry->Signature = kPermissionEntrySignature;
  CopyMem(entry->IdText, Id, length);
  entry->Id = entry->IdText;
  entry->IdSize = static_cast<UINT8>(length + 1);
  entry->IdHash = IdHash(Id, length);
  entry->PMask = PMask;
  entry->DMask = DMask;
  InsertTailList(&Store->Entries, &entry->Link);
  // Entries join the tail of their bucket as of the list, so a bucket keeps
  // list order and a lookup finds the first of duplicate ids.
  PermissionEntry **slot = BucketOf(Store, entry->IdHash);
  while (*slot != nullptr) {
    slot = &(*slot)->BucketNext;
  }
  *slot = entry;
  return EFI_SUCCESS;
}

PermissionEntry *FindPermissionEntry(PermissionStore *Store, const CHAR8 *Id) {
  if (Store == nullptr || Id == nullptr) {
    return nullptr;
  }
  UINTN length = IdLength(Id);
  if (length > kPermissionIdMaxLength) {
    return nullptr;
  }
  UINT32 hash = IdHash(Id, length);
  for (PermissionEntry *e = *BucketOf(Store, hash); e != nullptr; e = e->BucketNext) {
    if (e->IdHash == hash && e->IdSize == length + 1 && CompareMem(e->Id, Id, length) == 0) {
      return e;
    }
  }
  return nullptr;
}

VOID RemovePermissionEntry(PermissionStore *Store, PermissionEntry *Entry) {
  PermissionEntry **slot = BucketOf(Store, Entry->IdHash);
  while (*slot != Entry) {
    slot = &(*slot)->BucketNext;
  }
  *slot = Entry->BucketNext;
  RemoveEntryList(&Entry->Link);
  FreePool(Entry);
}

EFI_STATUS SetPermissionEntry(PermissionStore *Store, const CHAR8 *Id, UINT8 PMask, UINT8 DMask) {
  PermissionEntry *entry = FindPermissionEntry(Store, Id);
  if (entry == nullptr) {
    return AddPermissionEntry(Store, Id, PMask, DMask);
  }
  entry->PMask = PMask;
  entry->DMask = DMask;
  return EFI_SUCCESS;
}

UINT8 PermissionMaskOf(PermissionStore *Store, const CHAR8 *Id) {
  PermissionEntry *entry = FindPermissionEntry(Store, Id);
  return entry != nullptr ? entry->PMask : Store->DefaultPMask;
}
