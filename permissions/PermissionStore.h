// The permission store: for each setting id given explicit rights, the
// identities that may change the setting (PMask) and those that may change
// the entry itself (DMask); ids without an entry fall back to the defaults.
// There is at most one store, behind one driver-wide pointer; while it is
// empty every permission question answers EFI_NOT_READY.
#ifndef ZELM_PERMISSIONS_PERMISSION_STORE_H_
#define ZELM_PERMISSIONS_PERMISSION_STORE_H_

#include <zelm/ZelmAuthentication.h>
#include <zelm/ZelmSettingProvider.h>

// Identity bits with a role in the permission rules.
inline constexpr UINT8 kIdentityLocal = ZELM_IDENTITY_LOCAL;
inline constexpr UINT8 kIdentityZtd = ZELM_IDENTITY_ZERO_TOUCH;
inline constexpr UINT8 kIdentityOwner = ZELM_IDENTITY_OWNER;

// Masks of a new default store.
inline constexpr UINT8 kDefaultPMask = kIdentityLocal;
inline constexpr UINT8 kDefaultDMask = kIdentityOwner;

// Bit of an entry's DMask that marks it for removal while a packet
// applies; never kept in a stored or loaded store.
inline constexpr UINT8 kRemovalMark = 0x04;

// Longest id, in characters without its NUL.
inline constexpr UINTN kPermissionIdMaxLength = ZELM_SETTING_ID_MAX_LENGTH;

// "KPLS" as a little-endian number.
inline constexpr UINT64 kPermissionEntrySignature = 0x534C504B;

// Buckets of the lookup index kept in the store record.
inline constexpr UINTN kPermissionBuckets = 64;

struct PermissionEntry {
  UINT64 Signature;
  LIST_ENTRY Link;
  CHAR8 *Id; // the copy at the end of this allocation
  UINT8 PMask;
  UINT8 DMask;
  UINT8 IdSize; // length of Id plus its NUL
  // Lookup index: the hash of Id and the next entry of its bucket, in list
  // order, so a decision costs a few entries whatever the store's size.
  UINT32 IdHash;
  PermissionEntry *BucketNext;
  CHAR8 IdText[1];
};

struct PermissionStore {
  UINT32 Version;
  UINT32 LowestSupportedVersion;
  BOOLEAN Dirty; // must be written to "_SPP"; cleared only by a successful write
  EFI_TIME CreatedOn;
  EFI_TIME SavedOn;
  UINT8 DefaultPMask;
  UINT8 DefaultDMask;
  LIST_ENTRY Entries; // PermissionEntry, in insertion order
  PermissionEntry *Buckets[kPermissionBuckets];
};

// The driver's store, or NULL.
PermissionStore *CurrentPermissionStore(VOID);
// Makes Store the driver's store (NULL empties the pointer); the caller
// has released any earlier one.
VOID SetCurrentPermissionStore(PermissionStore *Store);

// Entry iteration in list order; NULL at the end.
PermissionEntry *FirstPermissionEntry(PermissionStore *Store);
PermissionEntry *NextPermissionEntry(PermissionStore *Store, PermissionEntry *Entry);

// A new default store made the driver's store, marked Dirty, not written:
// Version 0, LowestSupportedVersion 0, defaults 0x01 / 0x80, CreatedOn now,
// and the four entries of the identity settings. The caller has released
// any earlier store. EFI_SUCCESS; EFI_ABORTED (pool exhausted; the pointer
// stays empty and nothing is left allocated).
[[nodiscard]] EFI_STATUS CreateDefaultPermissionStore(VOID);

// Releases every entry and the store record. NULL is ignored; the caller
// clears the driver's pointer when Store was the driver's store.
VOID FreePermissionStore(PermissionStore *Store);

// Appends an entry without looking for one of the same id; Dirty is not
// touched. EFI_SUCCESS (also, without adding, for an id that begins with a
// digit); EFI_INVALID_PARAMETER (no store, no id, an id over 96
// characters); EFI_ABORTED (pool exhausted).
[[nodiscard]] EFI_STATUS AddPermissionEntry(PermissionStore *Store, const CHAR8 *Id, UINT8 PMask,
                                            UINT8 DMask);

// The first entry whose id is exactly Id, or NULL (also for no store, no
// id, or an id over 96 characters).
PermissionEntry *FindPermissionEntry(PermissionStore *Store, const CHAR8 *Id);

// Unlinks Entry from Store and frees it.
VOID RemovePermissionEntry(PermissionStore *Store, PermissionEntry *Entry);

// Replaces both masks of Id's entry, or adds one; Dirty is not touched.
// EFI_SUCCESS, or the statuses of AddPermissionEntry.
[[nodiscard]] EFI_STATUS SetPermissionEntry(PermissionStore *Store, const CHAR8 *Id, UINT8 PMask,
                                            UINT8 DMask);

// The PMask that applies to Id: its entry's, or the store's default.
UINT8 PermissionMaskOf(PermissionStore *Store, const CHAR8 *Id);

#endif
