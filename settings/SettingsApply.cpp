#include "settings/SettingsApply.h"

namespace {

// Settings packets are not applied by this build yet: a packet is refused
// without being touched, so the transport keeps it for a later firmware.
EFI_STATUS EFIAPI ApplyPacket(ZELM_APPLY_PACKET_PROTOCOL *This, ZELM_APPLY_PACKET *Packet) {
  if (This != &mSettingsApply || Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_UNSUPPORTED;
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
