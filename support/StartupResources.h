// Events and image-handle protocols created by the driver, tracked so that
// the shut-down after a failed initialisation leaves nothing that points
// into the unloaded image.
#ifndef ZELM_SUPPORT_STARTUP_RESOURCES_H_
#define ZELM_SUPPORT_STARTUP_RESOURCES_H_

#include <uefi/UefiSystemTable.h>

// Forgets every remembered event and protocol: a fresh start of the image.
VOID InitStartupResources(VOID);

// CreateEventEx (Group may be NULL) and remember the event.
// Statuses of CreateEventEx; EFI_OUT_OF_RESOURCES when the table is full.
[[nodiscard]] EFI_STATUS CreateTrackedEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify,
                                            const VOID *Context, const EFI_GUID *Group,
                                            EFI_EVENT *Event);

// CloseEvent and forget the event. Unknown events are closed all the same.
VOID CloseTrackedEvent(EFI_EVENT Event);

// Installs up to three (GUID, interface) pairs on the image handle in one
// all-or-nothing InstallMultipleProtocolInterfaces call and remembers them.
// Unused pairs have a NULL GUID. Statuses of InstallMultipleProtocolInterfaces.
[[nodiscard]] EFI_STATUS InstallImageProtocols(EFI_GUID *Guid1, VOID *Interface1,
                                               EFI_GUID *Guid2 = nullptr,
                                               VOID *Interface2 = nullptr,
                                               EFI_GUID *Guid3 = nullptr,
                                               VOID *Interface3 = nullptr);

// Uninstalls every remembered protocol and closes every remembered event,
// newest first.
VOID ReleaseStartupResources(VOID);

#endif
