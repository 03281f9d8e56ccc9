#include "permissions/IdentityChanges.h"

#include "permissions/PermissionIds.h"

namespace {

// The identity entries each kind of change sets.
struct IdentityRight {
  const CHAR8 *id;
  UINT8 pMask;
};
constexpr IdentityRight kOwnerKeyRights[] = {
    {kZtdKeyId, 0},
};
constexpr IdentityRight kZtdKeyRights[] = {
    {kZtdRecoveryId, kIdentityZtd},
    {kZtdUnenrollId, kIdentityZtd},
    {kRecoveryId, 0},
};

// Kinds applied since the last whole-store write.
UINT8 mRemembered;

template <UINTN N>
[[nodiscard]] EFI_STATUS SetRights(PermissionStore *store, const IdentityRight (&rights)[N]) {
  for (const IdentityRight &right : rights) {
    EFI_STATUS status = SetPermissionEntry(store, right.id, right.pMask, 0);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  return EFI_SUCCESS;
}

[[nodiscard]] EFI_STATUS SetKind(PermissionStore *store, UINT8 kind) {
  return kind == IdentityChangeOwnerKey ? SetRights(store, kOwnerKeyRights)
                                        : SetRights(store, kZtdKeyRights);
}

} // namespace

EFI_STATUS ApplyIdentityChange(PermissionStore *Store, IdentityChangeKind Kind) {
  EFI_STATUS status = SetKind(Store, Kind);
  if (!EFI_ERROR(status)) {
    mRemembered |= Kind;
  }
  return status;
}

EFI_STATUS ReapplyIdentityChanges(PermissionStore *Store) {
  // Each kind sets ids of its own, so the order does not matter.
  constexpr UINT8 kKinds[] = {IdentityChangeOwnerKey, IdentityChangeZtdKey};
  for (UINT8 kind : kKinds) {
    if ((mRemembered & kind) != 0) {
      EFI_STATUS status = SetKind(Store, kind);
      if (EFI_ERROR(status)) {
        return status;
      }
    }
  }
  return EFI_SUCCESS;
}

VOID ForgetIdentityChanges(VOID) {
  mRemembered = 0;
}
