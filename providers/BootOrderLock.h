// The boot-order lock action, run at the platform's boot-order lock hook
// point: while "Device.BootOrderLock.Enable" is on, "BootOrder", "BootNext"
// and every boot option "BootOrder" lists are locked, and "BootNext" is
// deleted, so nothing can change the boot order before the OS runs.
#ifndef ZELM_PROVIDERS_BOOT_ORDER_LOCK_H_
#define ZELM_PROVIDERS_BOOT_ORDER_LOCK_H_

#include <uefi/UefiBaseType.h>

// "BootOrderLock" (gBootOrderLockVariableGuid): the lock setting's own
// variable, one byte.
extern CHAR16 kBootOrderLockName[];

// "BootOrderLock" through the platform variable path into the *Size bytes
// at Value. EFI_INVALID_PARAMETER (Size or Value NULL); otherwise the
// statuses of PlatformGetVariable.
[[nodiscard]] EFI_STATUS ReadBootOrderLockVariable(UINTN *Size, UINT8 *Value);

// Priority of the action at gPlatformBootOrderLockHookGuid.
inline constexpr UINT32 kBootOrderLockPriority = 8;

// EFI_SUCCESS (also when the lock is off); the status of reading the lock
// setting, of locating EDKII_VARIABLE_LOCK_PROTOCOL, or of reading
// "BootOrder" (after the locks already requested). Lock requests are not
// examined.
EFI_STATUS LockBootOrderVariables(VOID);

// The hook action: LockBootOrderVariables with its status dropped.
VOID EFIAPI RunBootOrderLock(VOID);

#endif
