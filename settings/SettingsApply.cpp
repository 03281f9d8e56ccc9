#include "settings/SettingsApply.h"

#include <zelm/ZelmGuids.h>

#include "permissions/Identities.h"
#include "settings/SettingsPacket.h"
#include "settings/SettingsVariables.h"
#include "support/FirmwareTables.h"
#include "support/PacketRecord.h"
#include "xml/Xml.h"

namespace {

constexpr UINT32 kResultSignature = 0x5253564B; // "KVSR"

// The record's bounds and the signature block's length field. The
// verifier gets no size, so the block must at least hold what it claims.
BOOLEAN RecordValid(const ZELM_APPLY_PACKET *packet) {
  UINT32 blockLength = 0;
  return PacketBoundsValid(packet) && ReadSignatureLength(packet, &blockLength) &&
         blockLength <= SignatureBytes(packet);
}

// "KVSR", layout 1: always with the text size, and the text when there is one.
EFI_STATUS WriteResult(const ZELM_APPLY_PACKET *packet) {
  return WritePacketResult(packet, &gZelmSettingsVariableGuid, kResultSignature, 1, TRUE);
}

// From the record checks to the result variable; State and Status are set
// on every path that reaches the transport.
EFI_STATUS Apply(ZELM_APPLY_PACKET *packet, ZELM_AUTHENTICATION_PROTOCOL **auth) {
  if (!RecordValid(packet)) {
    packet->State = ZELM_PACKET_STATE_INTERNAL_FAILURE;
    packet->Status = EFI_ABORTED;
    return EFI_COMPROMISED_DATA;
  }
  ZELM_SETTINGS_MANAGER_DATA data = {};
  EFI_STATUS status = LoadSettingsManagerData(&data);
  if (SettingsManagerDataAbsent(status)) {
    FreshSettingsManagerData(&data);
  } else if (EFI_ERROR(status)) {
    // The floor is unknown: applying could replay an older packet.
    packet->State = ZELM_PACKET_STATE_INTERNAL_FAILURE;
    packet->Status = EFI_ABORTED;
    return EFI_ABORTED;
  }
  *auth = FindAuthenticationProtocol();
  BOOLEAN accepted = FALSE;
  if (*auth == nullptr ||
      EFI_ERROR((*auth)->Authenticate(*auth, packet->PacketData, packet->SignedLength,
                                      packet->Signature, &packet->AuthToken))) {
    packet->State = ZELM_PACKET_STATE_SIGNATURE_REFUSED;
    packet->Status = EFI_SECURITY_VIOLATION;
  } else {
    packet->State = ZELM_PACKET_STATE_AUTHENTICATED;
    if (!EFI_ERROR(ProcessSettingsPacket(packet, &data, &accepted))) {
      InvalidateCurrentSettings();
    }
  }
  // Settings may have changed once the versions were accepted: the floor
  // rises with them whatever the final outcome.
  if (accepted) {
    EFI_STATUS saved = SaveSettingsManagerData(&data);
    if (EFI_ERROR(saved)) {
      packet->Status = saved;
    }
  }
  // Without its result variable the transport must not read success.
  status = WriteResult(packet);
  if (EFI_ERROR(status)) {
    packet->Status = status;
    return status;
  }
  return packet->Status;
}

EFI_STATUS EFIAPI ApplyPacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  if (This != &mSettingsApply || Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Packet->ResultText = nullptr;
  Packet->ResultSize = 0;
  Packet->ResetRequired = 0;
  ZELM_AUTHENTICATION_PROTOCOL *auth = nullptr;
  EFI_STATUS status =
      Packet->State == ZELM_PACKET_STATE_PENDING ? Apply(Packet, &auth) : EFI_ABORTED;
  if (Packet->State != ZELM_PACKET_STATE_NONE) {
    (VOID) gRT->SetVariable(const_cast<CHAR16 *>(Packet->MailboxVariableName),
                            &gZelmSettingsVariableGuid, 0, 0, nullptr);
  }
  if (auth == nullptr) {
    auth = AuthenticationProtocol();
  }
  if (Packet->AuthToken != 0 && auth != nullptr) {
    (VOID) auth->ReleaseToken(auth, &Packet->AuthToken);
    Packet->AuthToken = 0;
  }
  XmlPoolFree(Packet->ResultText);
  Packet->ResultText = nullptr;
  Packet->ResultSize = 0;
  return status;
}

// The settings instance writes its result during ApplyPacket; nothing is
// left to report or complete.
EFI_STATUS EFIAPI ReportResult(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  (VOID) This;
  (VOID) Packet;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CompletePacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet,
                                 UINT8 Operation) {
  (VOID) This;
  (VOID) Packet;
  (VOID) Operation;
  return EFI_SUCCESS;
}

} // namespace

ZELM_APPLY_PACKET_PROTOCOL mSettingsApply = {ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE,
                                             ZELM_APPLY_PACKET_PROTOCOL_VERSION, ApplyPacket,
                                             ReportResult, CompletePacket};
