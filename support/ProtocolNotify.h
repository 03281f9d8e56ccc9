// Notification when a protocol is installed.
#ifndef ZELM_SUPPORT_PROTOCOL_NOTIFY_H_
#define ZELM_SUPPORT_PROTOCOL_NOTIFY_H_

#include <uefi/UefiSystemTable.h>

// Creates a TPL_CALLBACK notify event for Handler, registers it for
// installations of ProtocolGuid and signals it once, so Handler also runs
// for a protocol that is already installed. Handlers locate the protocol
// themselves and close their event (CloseTrackedEvent) when done.
// Returns the event, or NULL when it could not be created or registered.
EFI_EVENT NotifyOnProtocol(EFI_GUID *ProtocolGuid, EFI_EVENT_NOTIFY Handler, VOID **Registration);

#endif
