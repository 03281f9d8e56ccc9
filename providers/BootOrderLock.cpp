#include "providers/BootOrderLock.h"

#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>

#include "providers/BootSettings.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/Text.h"
#include "support/VariableAccess.h"
#include "support/VariableAlloc.h"

namespace {

CHAR16 kBootOrderName[] = u"BootOrder";
CHAR16 kBootNextName[] = u"BootNext";
// "Boot%04x" and its NUL: 9 characters, 18 bytes.
constexpr UINTN kOptionNameBytes = 18;

VOID Lock(EDKII_VARIABLE_LOCK_PROTOCOL *lock, CHAR16 *name) {
  (VOID) lock->RequestToLock(lock, name, &gEfiGlobalVariableGuid);
}

} // namespace

CHAR16 kBootOrderLockName[] = u"BootOrderLock";

EFI_STATUS ReadBootOrderLockVariable(UINTN *Size, UINT8 *Value) {
  if (Size == nullptr || Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return PlatformGetVariable(kBootOrderLockName, &gBootOrderLockVariableGuid, nullptr, Size, Value);
}

EFI_STATUS LockBootOrderVariables(VOID) {
  UINT8 enabled = 0;
  UINTN size = sizeof(enabled);
  EFI_STATUS status = BootSettingGet(&mBootProviders[0], &size, &enabled);
  if (EFI_ERROR(status) || enabled == 0) {
    return status;
  }
  EDKII_VARIABLE_LOCK_PROTOCOL *lock = nullptr;
  status = gBS->LocateProtocol(&gEdkiiVariableLockProtocolGuid, nullptr,
                               reinterpret_cast<VOID **>(&lock));
  if (EFI_ERROR(status)) {
    return status;
  }
  Lock(lock, kBootOrderName);
  // Without a variable service (SMM mode without it) the deletion fails
  // harmlessly and the lock still follows. An absent BootNext costs no
  // write: most boots have none.
  UINTN nextSize = 0;
  if (PlatformGetVariable(kBootNextName, &gEfiGlobalVariableGuid, nullptr, &nextSize, nullptr) !=
      EFI_NOT_FOUND) {
    (VOID) PlatformSetVariable(kBootNextName, &gEfiGlobalVariableGuid, 0, 0, nullptr);
  }
  Lock(lock, kBootNextName);
  VOID *order = nullptr;
  UINTN orderSize = 0;
  status = GetVariableAlloc(kBootOrderName, &gEfiGlobalVariableGuid, &order, &orderSize);
  if (EFI_ERROR(status)) {
    return status;
  }
  PoolPtr<UINT8> entries(static_cast<UINT8 *>(order));
  // Whole 16-bit entries only: an odd last byte is not an option.
  for (UINTN i = 0; i + sizeof(UINT16) <= orderSize; i += sizeof(UINT16)) {
    UINT16 option = 0;
    CopyMem(&option, entries.get() + i, sizeof(option));
    CHAR16 name[kOptionNameBytes / sizeof(CHAR16)];
    FormatWide(name, sizeof(name), u"Boot%04x", option);
    Lock(lock, name);
  }
  return EFI_SUCCESS;
}

VOID EFIAPI RunBootOrderLock(VOID) {
  (VOID) LockBootOrderVariables();
}
