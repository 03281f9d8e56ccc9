#include "permissions/PermissionsApply.h"

#include <zelm/ZelmGuids.h>

#include "permissions/CurrentPermissions.h"
#include "permissions/Identities.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionsPacket.h"
#include "support/FirmwareTables.h"
#include "support/PacketRecord.h"

namespace {

constexpr UINT8 kOperationDiscard = 1;
constexpr UINT8 kOperationKeep = 2;

constexpr UINT32 kResultSignature = 0x5250504B; // "KPPR"

EFI_STATUS Fail(ZELM_APPLY_PACKET *packet, UINT32 state, EFI_STATUS status) {
  packet->State = state;
  packet->Status = status;
  return status;
}

// Steps from the record checks to the packet's application.
EFI_STATUS CheckAndApply(ZELM_APPLY_PACKET *packet) {
  if (CurrentPermissionStore() == nullptr) {
    return Fail(packet, ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_NOT_READY);
  }
  if (!PacketBoundsValid(packet)) {
    Fail(packet, ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_ABORTED);
    return EFI_COMPROMISED_DATA;
  }
  UINT32 signatureLength = 0;
  if (!ReadSignatureLength(packet, &signatureLength) || signatureLength != SignatureBytes(packet)) {
    return Fail(packet, ZELM_PACKET_STATE_BAD_LENGTH, EFI_BAD_BUFFER_SIZE);
  }
  ZELM_AUTHENTICATION_PROTOCOL *auth = AuthenticationProtocol();
  if (EFI_ERROR(auth->Authenticate(auth, packet->PacketData, packet->SignedLength,
                                   packet->Signature, &packet->AuthToken))) {
    return Fail(packet, ZELM_PACKET_STATE_SIGNATURE_REFUSED, EFI_SECURITY_VIOLATION);
  }
  packet->State = ZELM_PACKET_STATE_AUTHENTICATED;
  EFI_STATUS status = ProcessPermissionsPacket(packet);
  PermissionStore *store = CurrentPermissionStore();
  if (!EFI_ERROR(status) && store != nullptr) {
    store->Dirty = TRUE;
    packet->PermissionsChanged = 1;
  }
  return status;
}

EFI_STATUS EFIAPI ApplyPacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  if (This != &mPermissionsApply || Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Packet->ResultText = nullptr;
  Packet->ResultSize = 0;
  ZELM_AUTHENTICATION_PROTOCOL *auth = AuthenticationProtocol();
  if (auth == nullptr) {
    // A pending packet must not look applied to the transport.
    return Packet->State == ZELM_PACKET_STATE_PENDING
               ? Fail(Packet, ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_NOT_READY)
               : EFI_INVALID_PARAMETER;
  }
  EFI_STATUS status =
      Packet->State == ZELM_PACKET_STATE_PENDING ? CheckAndApply(Packet) : EFI_ABORTED;
  if (Packet->AuthToken != 0) {
    (VOID) auth->ReleaseToken(auth, &Packet->AuthToken);
    Packet->AuthToken = 0;
  }
  return status;
}

UINT8 ResultLayout(const ZELM_APPLY_PACKET *packet) {
  return packet->FormatVersion == 2 ? 2 : 1;
}

EFI_STATUS EFIAPI ReportResult(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  (VOID) This;
  if (Packet == nullptr || Packet->State == ZELM_PACKET_STATE_NONE) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 layout = ResultLayout(Packet);
  // The header holds 16 bits of size; the driver never makes more than
  // ZELM_MAX_RESULT_SIZE, so anything else did not come from ApplyPacket.
  if (layout == 2 && (Packet->ResultSize > ZELM_MAX_RESULT_SIZE ||
                      (Packet->ResultText == nullptr && Packet->ResultSize != 0))) {
    return EFI_INVALID_PARAMETER;
  }
  return WritePacketResult(Packet, &gZelmPermissionVariableGuid, kResultSignature, layout,
                           layout == 2);
}

// A result variable already written must not keep claiming success for
// changes that did not reach "_SPP": it is rewritten with the final Status
// and without the per-element results, or deleted when that fails.
VOID CorrectResult(const ZELM_APPLY_PACKET *packet) {
  auto *name = const_cast<CHAR16 *>(packet->ResultVariableName);
  UINTN size = 0;
  if (name == nullptr || gRT->GetVariable(name, &gZelmPermissionVariableGuid, nullptr, &size,
                                          nullptr) != EFI_BUFFER_TOO_SMALL) {
    return;
  }
  ZELM_APPLY_PACKET failed = *packet;
  failed.ResultText = nullptr;
  failed.ResultSize = 0;
  const UINT8 layout = ResultLayout(packet);
  if (EFI_ERROR(WritePacketResult(&failed, &gZelmPermissionVariableGuid, kResultSignature, layout,
                                  layout == 2))) {
    (VOID) gRT->SetVariable(name, &gZelmPermissionVariableGuid, 0, 0, nullptr);
  }
}

VOID DeleteMailbox(const ZELM_APPLY_PACKET *packet) {
  if (packet->State != ZELM_PACKET_STATE_NONE) {
    (VOID) gRT->SetVariable(const_cast<CHAR16 *>(packet->MailboxVariableName),
                            &gZelmPermissionVariableGuid, 0, 0, nullptr);
  }
}

// Keeps the pending changes: "_SPP" written, or on failure the stored
// permissions reloaded so that memory never holds what "_SPP" does not.
EFI_STATUS KeepChanges() {
  PermissionStore *store = CurrentPermissionStore();
  if (store == nullptr) {
    return EFI_NOT_READY;
  }
  EFI_STATUS status = SavePermissionStore(store);
  if (EFI_ERROR(status)) {
    (VOID) ReloadPermissionStore();
    return status;
  }
  (VOID) PublishCurrentPermissions(TRUE);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CompletePacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet,
                                 UINT8 Operation) {
  // Changes to keep: the mailbox goes only once they are in "_SPP", so a
  // power cut before the save leaves the packet for the next boot.
  const BOOLEAN keep = This == &mPermissionsApply && Packet != nullptr &&
                       Operation == kOperationKeep && Packet->PermissionsChanged != 0;
  if (Packet != nullptr && !keep) {
    DeleteMailbox(Packet);
  }
  if (This != &mPermissionsApply || Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS status = EFI_SUCCESS;
  const BOOLEAN discarded = Packet->PermissionsChanged != 0 && !keep;
  if (Packet->PermissionsChanged != 0) {
    // Any operation but a keep discards: memory must not hold what "_SPP"
    // does not.
    status = keep ? KeepChanges() : ReloadPermissionStore();
    Packet->PermissionsChanged = 0;
  }
  if (keep && !EFI_ERROR(status)) {
    DeleteMailbox(Packet);
  }
  if (Operation != kOperationDiscard && Operation != kOperationKeep) {
    status = EFI_INVALID_PARAMETER;
  }
  if (EFI_ERROR(status)) {
    Fail(Packet, ZELM_PACKET_STATE_INTERNAL_FAILURE, status);
    CorrectResult(Packet);
  } else if (discarded) {
    // Applied, then thrown away: not a success for whoever reads the result.
    Packet->Status = EFI_ABORTED;
    CorrectResult(Packet);
  }
  return status;
}

} // namespace

ZELM_APPLY_PACKET_PROTOCOL mPermissionsApply = {ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE,
                                                ZELM_APPLY_PACKET_PROTOCOL_VERSION, ApplyPacket,
                                                ReportResult, CompletePacket};
