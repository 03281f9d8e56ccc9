// Checks shared by the two boots of the end-to-end run: the enrolment,
// a packet carried through the transport, the permission the driver
// answers, and variables read back as the operating system would.
#ifndef ZELM_EFI_HARNESS_E2E_CHECKS_H_
#define ZELM_EFI_HARNESS_E2E_CHECKS_H_

#include <uefi/UefiSystemTable.h>

#include "efi/harness/CheckLog.h"
#include "efi/harness/Transport.h"

// Enrols Mask in the harness's authentication component and installs it
// on a new handle (the driver loads its permission store inside the call).
BOOLEAN InstallEnrolledAuthentication(EFI_BOOT_SERVICES *BootServices, UINT8 Mask, CheckLog &Log);

// One packet for CheckPacketApplied: what it is, who signs it, and texts
// its result must and must not hold.
struct PacketCase {
  PacketKind Kind;
  const CHAR8 *What;
  const CHAR8 *Xml;
  UINT8 Signer;
  UINT32 SessionId;
  const CHAR8 *const *Expected;
  UINTN ExpectedCount;
  const CHAR8 *Forbidden; // NULL: nothing forbidden
};

// Delivers the packet through its mailbox and the kind's apply protocol,
// then checks the record (state 4, status 0), the transport's calls, the
// mailbox gone, and the result variable ("KVSR" or "KPPR", status 0, the
// expected texts and not the forbidden one).
VOID CheckPacketApplied(EFI_SYSTEM_TABLE *SystemTable, const PacketCase &Case, CheckLog &Log);

// The packet altered after it was signed: ApplyPacket refuses it with
// EFI_SECURITY_VIOLATION and the record never reads applied.
VOID CheckAlteredPacketRefused(EFI_SYSTEM_TABLE *SystemTable, PacketKind Kind, const CHAR8 *Xml,
                               UINT8 Signer, CheckLog &Log);

// GetPermission of Id through the setting permission protocol is Mask.
VOID ExpectPermission(EFI_BOOT_SERVICES *BootServices, const CHAR8 *Id, UINT8 Mask, CheckLog &Log);

// Name under Guid holds exactly Size bytes of Data with Attributes.
VOID ExpectVariableBytes(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                         UINT32 Attributes, const VOID *Data, UINTN Size, const CHAR8 *What,
                         CheckLog &Log);

// Name under Guid exists and, when Text is not NULL, contains it.
VOID ExpectVariableText(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                        const CHAR8 *Text, const CHAR8 *What, CheckLog &Log);

// Signals Group and logs it as What.
VOID ExpectGroupSignalled(EFI_BOOT_SERVICES *BootServices, EFI_GUID *Group, const CHAR8 *What,
                          CheckLog &Log);

// Runs the boot-order lock hook point; at least the driver's action runs.
VOID ExpectBootOrderLockHookRun(EFI_BOOT_SERVICES *BootServices, CheckLog &Log);

#endif
