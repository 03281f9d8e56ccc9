#include "efi/harness/E2eChecks.h"

#include <platform/PlatformGuids.h>
#include <zelm/Zelm.h>

#include "efi/harness/Authentication.h"
#include "efi/harness/Console.h"
#include "efi/harness/EventGroup.h"
#include "efi/harness/HookPoint.h"
#include "efi/harness/VariableRead.h"
#include "support/Memory.h"

namespace {

constexpr UINT32 settingsResultSignature = 0x5253564B;    // "KVSR"
constexpr UINT32 permissionsResultSignature = 0x5250504B; // "KPPR"

ZELM_APPLY_PACKET_PROTOCOL *LocateApply(EFI_BOOT_SERVICES *bs, PacketKind kind) {
  VOID *interface = nullptr;
  EFI_GUID *guid = kind == PacketKind::Settings ? &gZelmSettingsApplyProtocolGuid
                                                : &gZelmPermissionsApplyProtocolGuid;
  if (EFI_ERROR(bs->LocateProtocol(guid, nullptr, &interface))) {
    return nullptr;
  }
  return static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(interface);
}

BOOLEAN ResultTextsMatch(const PacketCase &c, const PacketResult &result) {
  for (UINTN i = 0; i < c.ExpectedCount; ++i) {
    if (!ContainsText(result.Text, result.TextSize, c.Expected[i])) {
      Print("zelm-harness: info: result text lacks %a\n", c.Expected[i]);
      return FALSE;
    }
  }
  return c.Forbidden == nullptr || !ContainsText(result.Text, result.TextSize, c.Forbidden);
}

VOID CheckResultVariable(EFI_SYSTEM_TABLE *st, const PacketCase &c, PacketDelivery &delivery,
                         CheckLog &log) {
  PoolBuffer buffer(st->BootServices);
  PacketResult result = {};
  EFI_STATUS status = delivery.ReadResult(buffer, &result);
  const UINT32 signature =
      c.Kind == PacketKind::Settings ? settingsResultSignature : permissionsResultSignature;
  if (status == EFI_SUCCESS && result.TextSize != 0 && result.Text[result.TextSize - 1] == '\0') {
    Print("zelm-harness: info: result text %a\n", reinterpret_cast<const CHAR8 *>(result.Text));
  }
  log.expect(status == EFI_SUCCESS && result.Signature == signature &&
                 result.Status == EFI_SUCCESS && ResultTextsMatch(c, result),
             c.Kind == PacketKind::Settings
                 ? "result variable \"ZelmSettingsResult\": \"KVSR\", status 0, expected results"
                 : "result variable \"ZelmPermissionsResult\": \"KPPR\", status 0, expected "
                   "results",
             status);
}

} // namespace

BOOLEAN InstallEnrolledAuthentication(EFI_BOOT_SERVICES *BootServices, UINT8 Mask, CheckLog &Log) {
  HarnessEnrolIdentities(Mask);
  EFI_HANDLE handle = nullptr;
  EFI_STATUS status = BootServices->InstallProtocolInterface(
      &handle, &gZelmAuthenticationProtocolGuid, EFI_NATIVE_INTERFACE, HarnessAuthentication());
  return Log.expect(status == EFI_SUCCESS,
                    "authentication protocol installed (owner and local enrolled)", status);
}

VOID CheckPacketApplied(EFI_SYSTEM_TABLE *SystemTable, const PacketCase &Case, CheckLog &Log) {
  Print("zelm-harness: info: packet: %a\n", Case.What);
  ZELM_APPLY_PACKET_PROTOCOL *apply = LocateApply(SystemTable->BootServices, Case.Kind);
  if (!Log.expect(apply != nullptr, "apply protocol of the packet's kind located",
                  apply != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND)) {
    return;
  }
  PacketDelivery delivery(SystemTable, Case.Kind);
  EFI_STATUS status = delivery.Deliver(Case.Xml, Case.Signer, Case.SessionId);
  if (!Log.expect(status == EFI_SUCCESS, "packet signed and written to its mailbox variable",
                  status)) {
    return;
  }
  TransportOutcome outcome = RunDeliveredPacket(apply, Case.Kind, delivery);
  const ZELM_APPLY_PACKET *record = delivery.Record();
  if (record->State != ZELM_PACKET_STATE_APPLIED || record->Status != EFI_SUCCESS) {
    Print("zelm-harness: info: record state %u status %r\n", static_cast<UINT64>(record->State),
          record->Status);
  }
  Log.expect(outcome.Apply == EFI_SUCCESS && record->State == ZELM_PACKET_STATE_APPLIED &&
                 record->Status == EFI_SUCCESS,
             "ApplyPacket: EFI_SUCCESS, state 4, status 0", outcome.Apply);
  if (Case.Kind == PacketKind::Permissions) {
    Log.expect(outcome.Report == EFI_SUCCESS, "ReportResult", outcome.Report);
    Log.expect(outcome.Complete == EFI_SUCCESS, "CompletePacket(2) keeps the changes",
               outcome.Complete);
  }
  Log.expect(!delivery.MailboxPresent(), "mailbox variable deleted", EFI_SUCCESS);
  CheckResultVariable(SystemTable, Case, delivery, Log);
}

VOID CheckAlteredPacketRefused(EFI_SYSTEM_TABLE *SystemTable, PacketKind Kind, const CHAR8 *Xml,
                               UINT8 Signer, CheckLog &Log) {
  ZELM_APPLY_PACKET_PROTOCOL *apply = LocateApply(SystemTable->BootServices, Kind);
  PacketDelivery delivery(SystemTable, Kind);
  EFI_STATUS status = apply == nullptr ? EFI_NOT_FOUND : delivery.Deliver(Xml, Signer, 4, TRUE);
  if (!EFI_ERROR(status)) {
    status = RunDeliveredPacket(apply, Kind, delivery).Apply;
  }
  const ZELM_APPLY_PACKET *record = delivery.Record();
  Log.expect(status == EFI_SECURITY_VIOLATION && record->Status == EFI_SECURITY_VIOLATION &&
                 record->State != ZELM_PACKET_STATE_APPLIED &&
                 record->State != ZELM_PACKET_STATE_AUTHENTICATED,
             "a packet altered after signing is refused (EFI_SECURITY_VIOLATION)", status);
}

VOID ExpectPermission(EFI_BOOT_SERVICES *BootServices, const CHAR8 *Id, UINT8 Mask, CheckLog &Log) {
  VOID *interface = nullptr;
  EFI_STATUS status =
      BootServices->LocateProtocol(&gZelmSettingPermissionProtocolGuid, nullptr, &interface);
  UINT8 mask = 0;
  if (!EFI_ERROR(status)) {
    auto *permission = static_cast<ZELM_SETTING_PERMISSION_PROTOCOL *>(interface);
    status = permission->GetPermission(permission, Id, &mask);
  }
  Print("zelm-harness: info: GetPermission \"%a\" answered %u\n", Id, static_cast<UINT64>(mask));
  Log.expect(status == EFI_SUCCESS && mask == Mask, "GetPermission answers the expected mask",
             status);
}

VOID ExpectVariableBytes(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                         UINT32 Attributes, const VOID *Data, UINTN Size, const CHAR8 *What,
                         CheckLog &Log) {
  PoolBuffer buffer(SystemTable->BootServices);
  UINTN size = 0;
  UINT32 attributes = 0;
  EFI_STATUS status = ReadVariable(SystemTable, Name, Guid, buffer, &size, &attributes);
  Log.expect(status == EFI_SUCCESS && attributes == Attributes && size == Size &&
                 CompareMem(buffer.get(), Data, Size) == 0,
             What, status);
}

VOID ExpectVariableText(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                        const CHAR8 *Text, const CHAR8 *What, CheckLog &Log) {
  PoolBuffer buffer(SystemTable->BootServices);
  UINTN size = 0;
  EFI_STATUS status = ReadVariable(SystemTable, Name, Guid, buffer, &size, nullptr);
  if (status == EFI_SUCCESS) {
    Print("zelm-harness: info: variable of %u bytes\n", static_cast<UINT64>(size));
  }
  Log.expect(status == EFI_SUCCESS && size != 0 &&
                 (Text == nullptr || ContainsText(buffer.get(), size, Text)),
             What, status);
}

VOID ExpectGroupSignalled(EFI_BOOT_SERVICES *BootServices, EFI_GUID *Group, const CHAR8 *What,
                          CheckLog &Log) {
  EFI_STATUS status = SignalEventGroup(BootServices, Group);
  Log.expect(status == EFI_SUCCESS, What, status);
}

VOID ExpectBootOrderLockHookRun(EFI_BOOT_SERVICES *BootServices, CheckLog &Log) {
  UINTN actions = 0;
  EFI_STATUS status = RunHookPoint(BootServices, &gPlatformBootOrderLockHookGuid, &actions);
  Print("zelm-harness: info: boot-order lock hook point ran %u actions\n",
        static_cast<UINT64>(actions));
  Log.expect(status == EFI_SUCCESS && actions >= 1,
             "boot-order lock hook point found in the registry and its actions run", status);
}
