#include "permissions/PermissionsApply.h"

namespace {

// Permissions packets are not applied by this build yet: every call is
// refused without touching the packet.
EFI_STATUS Refuse(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  if (This != &mPermissionsApply || Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ApplyPacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  return Refuse(This, Packet);
}

EFI_STATUS EFIAPI ReportResult(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  return Refuse(This, Packet);
}

EFI_STATUS EFIAPI CompletePacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet,
                                 UINT8 Operation) {
  (VOID) Operation;
  return Refuse(This, Packet);
}

} // namespace

ZELM_APPLY_PACKET_PROTOCOL mPermissionsApply = {ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE,
                                                ZELM_APPLY_PACKET_PROTOCOL_VERSION, ApplyPacket,
                                                ReportResult, CompletePacket};
