// Signalling an event group the way the platform does at its stages
// (access start, ready-to-boot): every member's notification runs.
#ifndef ZELM_EFI_HARNESS_EVENT_GROUP_H_
#define ZELM_EFI_HARNESS_EVENT_GROUP_H_

#include <uefi/UefiSystemTable.h>

// Creates a member of Group, signals it and closes it again; the status of
// CreateEventEx or SignalEvent.
EFI_STATUS SignalEventGroup(EFI_BOOT_SERVICES *BootServices, EFI_GUID *Group);

#endif
