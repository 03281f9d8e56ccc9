// The platform's shared hook registry: lookup or creation of its list head,
// and registration of hook actions.
#ifndef ZELM_DRIVER_HOOK_REGISTRY_H_
#define ZELM_DRIVER_HOOK_REGISTRY_H_

#include <platform/PlatformHookRegistry.h>

// Finds the registry list head, or publishes a new empty one. On failure the
// registry stays unavailable.
VOID InitHookRegistry(VOID);

// Adds Action at hook point HookGuid with Priority and returns its record.
// EFI_SUCCESS, or EFI_WARN_STALE_DATA when the hook point's state is set.
// EFI_INVALID_PARAMETER: NULL HookGuid, Action or Record.
// EFI_NOT_READY: there is no registry list head.
// EFI_OUT_OF_RESOURCES: pool exhausted.
[[nodiscard]] EFI_STATUS RegisterHookAction(const EFI_GUID *HookGuid, UINT32 Priority,
                                            PLATFORM_HOOK_ACTION Action,
                                            PLATFORM_HOOK_CALLBACK **Record);

// Unlinks and frees a record made by RegisterHookAction.
VOID UnregisterHookAction(PLATFORM_HOOK_CALLBACK *Record);

#endif
