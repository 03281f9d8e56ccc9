#include "settings/SettingAccess.h"

#include "permissions/PermissionCheck.h"
#include "settings/Registry.h"
#include "settings/SettingId.h"
#include "settings/SettingsVariables.h"

namespace {

// Set while a group's members are processed: groups do not nest.
struct Guards {
  BOOLEAN set;
  BOOLEAN get;
};
Guards mGuards;

// Combined value of a group whose members are all Disabled/Enabled alike,
// differ, or do not exist.
constexpr UINT8 kGroupValuesDiffer = 2;
constexpr UINT8 kGroupWithoutMembers = 0x80;

EFI_STATUS EFIAPI Set(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *Id,
                      ZELM_AUTH_TOKEN *AuthToken, UINT32 Type, UINTN ValueSize, const VOID *Value,
                      UINT64 *Flags);
EFI_STATUS EFIAPI Get(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *Id,
                      ZELM_AUTH_TOKEN *AuthToken, UINT32 Type, UINTN *ValueSize, VOID *Value,
                      UINT64 *Flags);

EFI_STATUS SetProvider(RegistryEntry *entry, ZELM_AUTH_TOKEN *authToken, UINT32 type,
                       UINTN valueSize, const VOID *value, UINT64 *flags) {
  BOOLEAN allowed = FALSE;
  EFI_STATUS status = HasPermission(entry->Provider.Id, authToken, &allowed);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (!allowed) {
    return EFI_ACCESS_DENIED;
  }
  if (type != entry->Provider.Type) {
    return EFI_INVALID_PARAMETER;
  }
  status = entry->Provider.SetSettingValue(&entry->Provider, valueSize, value, flags);
  if (EFI_ERROR(status)) {
    return status;
  }
  if ((*flags & ZELM_SETTING_FLAG_UNCHANGED) != 0) {
    return status;
  }
  InvalidateCurrentSettings();
  return EFI_SUCCESS;
}

EFI_STATUS SetGroup(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *id, ZELM_AUTH_TOKEN *authToken,
                    UINT32 type, UINTN valueSize, const VOID *value, UINT64 *flags) {
  if (mGuards.set) {
    return EFI_UNSUPPORTED;
  }
  SettingGroup *group = FindGroup(id);
  if (group == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS result = EFI_SUCCESS;
  for (GroupMember *m = FirstMember(group); m != nullptr; m = NextMember(group, m)) {
    // Each member decides on the published settings from its own flags; the
    // caller sees them all together.
    UINT64 memberFlags = 0;
    mGuards.set = TRUE;
    EFI_STATUS status = Set(This, m->Id, authToken, type, valueSize, value, &memberFlags);
    mGuards.set = FALSE;
    *flags |= memberFlags;
    if (EFI_ERROR(status)) {
      result = status;
    }
  }
  return result;
}

EFI_STATUS EFIAPI Set(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *Id,
                      ZELM_AUTH_TOKEN *AuthToken, UINT32 Type, UINTN ValueSize, const VOID *Value,
                      UINT64 *Flags) {
  if (This != &mSettingAccess || Value == nullptr || AuthToken == nullptr || !SettingIdFits(Id) ||
      Flags == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  RegistryEntry *entry = FindProvider(Id);
  if (entry != nullptr) {
    return SetProvider(entry, AuthToken, Type, ValueSize, Value, Flags);
  }
  return SetGroup(This, Id, AuthToken, Type, ValueSize, Value, Flags);
}

EFI_STATUS GetProvider(RegistryEntry *entry, ZELM_AUTH_TOKEN *authToken, UINT32 type,
                       UINTN *valueSize, VOID *value, UINT64 *flags) {
  if (type != entry->Provider.Type) {
    return EFI_INVALID_PARAMETER;
  }
  if (flags != nullptr) {
    *flags = entry->Provider.Flags;
    BOOLEAN allowed = FALSE;
    if (authToken != nullptr &&
        !EFI_ERROR(HasPermission(entry->Provider.Id, authToken, &allowed)) && allowed) {
      *flags |= ZELM_SETTING_FLAG_WRITABLE;
    }
  }
  return entry->Provider.GetSettingValue(&entry->Provider, valueSize, value);
}

EFI_STATUS GetGroup(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *id, ZELM_AUTH_TOKEN *authToken,
                    UINT32 type, UINTN *valueSize, VOID *value) {
  if (mGuards.get) {
    return EFI_UNSUPPORTED;
  }
  SettingGroup *group = FindGroup(id);
  if (group == nullptr) {
    return EFI_NOT_FOUND;
  }
  if (type != ZELM_SETTING_TYPE_ENABLE) {
    return EFI_UNSUPPORTED;
  }
  if (*valueSize < 1) {
    *valueSize = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  UINT8 combined = kGroupWithoutMembers;
  BOOLEAN haveValue = FALSE;
  EFI_STATUS failure = EFI_SUCCESS;
  for (GroupMember *m = FirstMember(group); m != nullptr; m = NextMember(group, m)) {
    UINT8 memberValue = 0;
    UINTN memberSize = sizeof(memberValue);
    mGuards.get = TRUE;
    EFI_STATUS status =
        Get(This, m->Id, authToken, ZELM_SETTING_TYPE_ENABLE, &memberSize, &memberValue, nullptr);
    mGuards.get = FALSE;
    if (EFI_ERROR(status)) {
      // A member unread for want of pool decides: the group's value is
      // then unknown, not an error of the platform.
      if (failure != EFI_OUT_OF_RESOURCES) {
        failure = status;
      }
      continue;
    }
    if (!haveValue) {
      combined = memberValue;
      haveValue = TRUE;
    } else if (memberValue != combined) {
      combined = kGroupValuesDiffer;
      break;
    }
  }
  if (failure == EFI_BUFFER_TOO_SMALL) {
    *valueSize = 1;
    return failure;
  }
  if (EFI_ERROR(failure)) {
    return failure;
  }
  *static_cast<UINT8 *>(value) = combined;
  *valueSize = 1;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Get(ZELM_SETTING_ACCESS_PROTOCOL *This, const CHAR8 *Id,
                      ZELM_AUTH_TOKEN *AuthToken, UINT32 Type, UINTN *ValueSize, VOID *Value,
                      UINT64 *Flags) {
  // A NULL Value is only the size query.
  if (This != &mSettingAccess || !SettingIdFits(Id) || ValueSize == nullptr ||
      (Value == nullptr && *ValueSize != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  RegistryEntry *entry = FindProvider(Id);
  if (entry != nullptr) {
    return GetProvider(entry, AuthToken, Type, ValueSize, Value, Flags);
  }
  return GetGroup(This, Id, AuthToken, Type, ValueSize, Value);
}

EFI_STATUS EFIAPI ResetToDefaults(ZELM_SETTING_ACCESS_PROTOCOL *This, ZELM_AUTH_TOKEN *AuthToken) {
  if (This != &mSettingAccess || AuthToken == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  BOOLEAN allowed = FALSE;
  EFI_STATUS status = HasRecoveryPermission(AuthToken, &allowed);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (!allowed) {
    return EFI_ACCESS_DENIED;
  }
  for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
    if ((e->Provider.Flags & ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS) != 0) {
      (VOID) e->Provider.SetDefaultValue(&e->Provider);
    }
  }
  DeleteSettingsManagerId();
  InvalidateCurrentSettings();
  return EFI_SUCCESS;
}

} // namespace

ZELM_SETTING_ACCESS_PROTOCOL mSettingAccess = {Set, Get, ResetToDefaults};

VOID InitSettingAccess(VOID) {
  mGuards = {};
}
