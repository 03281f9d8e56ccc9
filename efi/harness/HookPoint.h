// The platform's side of the shared hook registry: reaching a hook point
// runs the actions registered for it.
#ifndef ZELM_EFI_HARNESS_HOOK_POINT_H_
#define ZELM_EFI_HARNESS_HOOK_POINT_H_

#include <uefi/UefiSystemTable.h>

// Finds the registry's list head (gPlatformHookRegistryProtocolGuid), the
// header of HookGuid in it, and calls the actions of its first set of
// lists, priority list by priority list in order; *ActionsRun counts them.
// EFI_NOT_FOUND: no registry or no header for the hook.
// EFI_VOLUME_CORRUPTED: a list does not close within reach or holds a
// record of the wrong signature (nothing after it runs).
EFI_STATUS RunHookPoint(EFI_BOOT_SERVICES *BootServices, const EFI_GUID *HookGuid,
                        UINTN *ActionsRun);

#endif
