#include "providers/BootSettings.h"
#include "providers/ProviderValue.h"

#include <platform/PlatformGuids.h>
#include <zelm/ZelmGuids.h>

#include "providers/BootOrderLock.h"
#include "providers/PlatformSetup.h"
#include "providers/ProviderLibrary.h"
#include "settings/SettingId.h"
#include "support/Pool.h"
#include "support/ProtocolNotify.h"
#include "support/VariableAccess.h"
#include "support/VariableAttributes.h"

namespace {

enum class BootKind { Lock, UsbBoot, NetworkBoot, None };

constexpr CHAR8 kLockId[] = "Device.BootOrderLock.Enable";
constexpr CHAR8 kNetworkId[] = "Zelm.BootOnboardNetwork.Enable";
constexpr CHAR8 kUsbId[] = "Device.USBBoot.Enable";
constexpr UINTN kMaxValueSize = 0x4000;
constexpr UINT8 kNetworkCompanionEnabled = 10;
constexpr UINT8 kNetworkCompanionDisabled = 4;

BootKind Classify(const CHAR8 *id) {
  if (SettingIdEquals(id, kLockId)) {
    return BootKind::Lock;
  }
  if (SettingIdEquals(id, kUsbId)) {
    return BootKind::UsbBoot;
  }
  if (SettingIdEquals(id, kNetworkId)) {
    return BootKind::NetworkBoot;
  }
  return BootKind::None;
}

// The setting's value from a block: USB boot is stored inverted.
EFI_STATUS ValueFromBlock(const PlatformSetupBlock *block, BootKind kind, UINT8 *value) {
  UINT8 byte = 0;
  EFI_STATUS status = GetSetupByte(
      block, kind == BootKind::UsbBoot ? kSetupUsbBootDisabled : kSetupOnboardNetworkBoot, &byte);
  if (!EFI_ERROR(status)) {
    *value = kind == BootKind::UsbBoot ? (byte == 0 ? 1 : 0) : (byte != 0 ? 1 : 0);
  }
  return status;
}

// Common checks of Get and GetDefault; *kind on success.
EFI_STATUS CheckRead(const ZELM_SETTING_PROVIDER *provider, UINTN *valueSize, VOID *value,
                     BootKind *kind) {
  if (!ValueReadArgumentsValid(provider, valueSize, value)) {
    return EFI_INVALID_PARAMETER;
  }
  *kind = Classify(provider->Id);
  if (*kind == BootKind::None) {
    return EFI_NOT_FOUND;
  }
  if (provider->Type != ZELM_SETTING_TYPE_ENABLE) {
    return EFI_INVALID_PARAMETER;
  }
  if (*valueSize < 1) {
    *valueSize = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  return EFI_SUCCESS;
}

EFI_STATUS DefaultOf(BootKind kind, UINT8 *value) {
  if (kind == BootKind::Lock) {
    *value = 0;
    return EFI_SUCCESS;
  }
  const PlatformSetupBlock *defaults = nullptr;
  if (EFI_ERROR(GetPlatformSetupDefaults(&defaults)) ||
      EFI_ERROR(ValueFromBlock(defaults, kind, value))) {
    return EFI_NOT_FOUND;
  }
  return EFI_SUCCESS;
}

// The stored value, or the error that kept it from being read (the caller
// falls back to the default). "BootOrderLock" of other attributes was not
// written by this driver and counts as absent; absent means disabled.
EFI_STATUS ReadStored(BootKind kind, UINT8 *value) {
  if (kind == BootKind::Lock) {
    UINT8 byte = 0;
    UINTN size = sizeof(byte);
    UINT32 attributes = 0;
    EFI_STATUS status = PlatformGetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid,
                                            &attributes, &size, &byte);
    if (EFI_ERROR(status)) {
      return status;
    }
    if (attributes != kStoredVariableAttributes) {
      return EFI_NOT_FOUND;
    }
    *value = byte != 0 ? 1 : 0;
    return EFI_SUCCESS;
  }
  PlatformSetupCopy setup;
  EFI_STATUS status = ReadPlatformSetup(&setup.block);
  return EFI_ERROR(status) ? status : ValueFromBlock(&setup.block, kind, value);
}

// The value a Set compares against: only one actually stored. A lock
// variable that is simply absent is the disabled state.
BOOLEAN CurrentForCompare(BootKind kind, UINT8 *value) {
  if (!EFI_ERROR(ReadStored(kind, value))) {
    return TRUE;
  }
  if (kind != BootKind::Lock) {
    return FALSE;
  }
  UINTN size = 0;
  if (PlatformGetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid, nullptr, &size,
                          nullptr) != EFI_NOT_FOUND) {
    return FALSE;
  }
  *value = 0;
  return TRUE;
}

// TRUE when the lock variable is stored with attributes the write cannot
// keep. Attributes count only from a read that returned the data with
// them: a probe answered EFI_BUFFER_TOO_SMALL need not fill them.
BOOLEAN LockHasOtherAttributes() {
  UINTN size = 0;
  if (PlatformGetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid, nullptr, &size,
                          nullptr) != EFI_BUFFER_TOO_SMALL) {
    return FALSE;
  }
  PoolPtr<UINT8> stored(static_cast<UINT8 *>(AllocPool(size)));
  UINT32 attributes = 0;
  return stored &&
         !EFI_ERROR(PlatformGetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid,
                                        &attributes, &size, stored.get())) &&
         attributes != kStoredVariableAttributes;
}

EFI_STATUS WriteLock(UINT8 enabled) {
  if (LockHasOtherAttributes()) {
    // Planted with other attributes: the write could not replace it.
    EFI_STATUS deleted =
        PlatformSetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid, 0, 0, nullptr);
    if (EFI_ERROR(deleted)) {
      return deleted;
    }
  }
  return PlatformSetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid,
                             kStoredVariableAttributes, sizeof(enabled), &enabled);
}

EFI_STATUS WriteSetup(BootKind kind, UINT8 enabled) {
  PlatformSetupCopy setup;
  EFI_STATUS status = ReadPlatformSetup(&setup.block);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (kind == BootKind::UsbBoot) {
    status = SetSetupByte(&setup.block, kSetupUsbBootDisabled, enabled != 0 ? 0 : 1);
  } else {
    // The copy reaches "Setup" only when both bytes could be set.
    status = SetSetupByte(&setup.block, kSetupOnboardNetworkBoot, enabled);
    if (!EFI_ERROR(status)) {
      status = SetSetupByte(&setup.block, kSetupNetworkBootCompanion,
                            enabled != 0 ? kNetworkCompanionEnabled : kNetworkCompanionDisabled);
    }
  }
  return EFI_ERROR(status) ? status : WritePlatformSetup(&setup.block);
}

VOID *mBootRegistration;

VOID EFIAPI OnProviderSupport(EFI_EVENT Event, VOID *Context) {
  (VOID) Context;
  RegisterLibraryProviders(Event, mBootProviders, kBootProviderCount);
}

} // namespace

const ZELM_SETTING_PROVIDER mBootProviders[3] = {
    {kLockId, ZELM_SETTING_TYPE_ENABLE, ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS, BootSettingSet,
     BootSettingGet, BootSettingGetDefault, BootSettingSetDefault},
    {kUsbId, ZELM_SETTING_TYPE_ENABLE, 0, BootSettingSet, BootSettingGet, BootSettingGetDefault,
     BootSettingSetDefault},
    {kNetworkId, ZELM_SETTING_TYPE_ENABLE, 0, BootSettingSet, BootSettingGet, BootSettingGetDefault,
     BootSettingSetDefault},
};

namespace {

// The one-byte value of a boot setting: its stored value unless UseDefault
// is set or none is stored, else its default.
EFI_STATUS ReadBootSetting(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize, VOID *Value,
                           BOOLEAN UseDefault) {
  BootKind kind = BootKind::None;
  EFI_STATUS status = CheckRead(Provider, ValueSize, Value, &kind);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINT8 value = 0;
  if (!UseDefault) {
    status = ReadStored(kind, &value);
    // A pool that ran out while reads still allocate leaves the stored value
    // unknown: its default must not pass for it. After exit boot services
    // reads allocate no more, and the default is all there is.
    if (status == EFI_OUT_OF_RESOURCES && !PlatformSetupReadsEnded()) {
      return status;
    }
  }
  if (UseDefault || EFI_ERROR(status)) {
    status = DefaultOf(kind, &value);
  }
  if (!EFI_ERROR(status)) {
    *ValueSize = 1;
    *static_cast<UINT8 *>(Value) = value;
  }
  return status;
}

} // namespace

EFI_STATUS EFIAPI BootSettingGetDefault(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                        VOID *Value) {
  return ReadBootSetting(Provider, ValueSize, Value, TRUE);
}

EFI_STATUS EFIAPI BootSettingGet(const ZELM_SETTING_PROVIDER *Provider, UINTN *ValueSize,
                                 VOID *Value) {
  return ReadBootSetting(Provider, ValueSize, Value, FALSE);
}

EFI_STATUS EFIAPI BootSettingSet(const ZELM_SETTING_PROVIDER *Provider, UINTN ValueSize,
                                 const VOID *Value, UINT64 *Flags) {
  if (Provider == nullptr || Provider->Id == nullptr || Value == nullptr || Flags == nullptr ||
      ValueSize == 0 || ValueSize > kMaxValueSize) {
    return EFI_INVALID_PARAMETER;
  }
  const BootKind kind = Classify(Provider->Id);
  const UINT8 requested = *static_cast<const UINT8 *>(Value);
  // Only a value really stored counts as unchanged: a fallback default
  // would hide a change that never reached the platform.
  UINT8 current = 0;
  if (kind != BootKind::None && Provider->Type == ZELM_SETTING_TYPE_ENABLE &&
      CurrentForCompare(kind, &current) && requested == current) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
    return EFI_SUCCESS;
  }
  if (kind == BootKind::None) {
    return EFI_NOT_FOUND;
  }
  if (Provider->Type != ZELM_SETTING_TYPE_ENABLE || ValueSize != 1) {
    return EFI_INVALID_PARAMETER;
  }
  if (kind == BootKind::Lock) {
    return WriteLock(requested != 0 ? 1 : 0);
  }
  return WriteSetup(kind, requested == 1 ? 1 : 0);
}

EFI_STATUS EFIAPI BootSettingSetDefault(const ZELM_SETTING_PROVIDER *Provider) {
  return SetToDefault(Provider);
}

VOID StartBootProviderLibrary(VOID) {
  (VOID) NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, OnProviderSupport,
                          &mBootRegistration);
}
