// The harness as the platform's packet transport: it signs a packet with
// the test scheme, writes it into the kind's mailbox variable as the
// management agent would, reads the mailbox back into its own copy, fills
// a ZELM_APPLY_PACKET pointing into that copy and hands it to an apply
// protocol.
//
// Signed data (little-endian), followed by the signature block of
// efi/harness/TestSignature.h:
//   0  UINT8[4] "ZPKT"
//   4  UINT32   payload bytes
//   8  payload (the XML text, without a NUL)
#ifndef ZELM_EFI_HARNESS_TRANSPORT_H_
#define ZELM_EFI_HARNESS_TRANSPORT_H_

#include <zelm/ZelmApplyPacket.h>

#include <uefi/UefiSystemTable.h>

#include "efi/harness/PoolBuffer.h"

enum class PacketKind { Settings, Permissions };

// What a result variable ("KVSR" or "KPPR") says; Text points into the
// buffer it was read into. Both layouts put the text at byte 22.
struct PacketResult {
  UINT32 Signature;
  EFI_STATUS Status;
  const UINT8 *Text;
  UINTN TextSize;
};

class PacketDelivery {
public:
  PacketDelivery(EFI_SYSTEM_TABLE *SystemTable, PacketKind Kind);
  // Frees the result text the driver left in the record.
  ~PacketDelivery();
  PacketDelivery(const PacketDelivery &) = delete;
  PacketDelivery &operator=(const PacketDelivery &) = delete;

  // Signs Xml by Signer (one identity bit), writes the mailbox variable,
  // reads it back and fills the record (format version 2, state pending).
  // With Tamper, the payload's last byte changes after signing, as a packet
  // altered on its way would.
  EFI_STATUS Deliver(const CHAR8 *Xml, UINT8 Signer, UINT32 SessionId, BOOLEAN Tamper = FALSE);
  ZELM_APPLY_PACKET *Record() { return &record_; }
  BOOLEAN MailboxPresent() const;
  // Reads the kind's result variable into Buffer; EFI_COMPROMISED_DATA
  // when it is too short for its header or its text.
  EFI_STATUS ReadResult(PoolBuffer &Buffer, PacketResult *Result) const;

private:
  EFI_SYSTEM_TABLE *st_;
  PacketKind kind_;
  PoolBuffer copy_;
  ZELM_APPLY_PACKET record_{};
};

// What the transport learnt from its calls; a settings packet makes only
// the first.
struct TransportOutcome {
  EFI_STATUS Apply;
  EFI_STATUS Report;
  EFI_STATUS Complete;
};

// ApplyPacket, then for permissions ReportResult and CompletePacket with 2
// (keep) when ApplyPacket succeeded, 1 (discard) otherwise.
TransportOutcome RunDeliveredPacket(ZELM_APPLY_PACKET_PROTOCOL *Protocol, PacketKind Kind,
                                    PacketDelivery &Delivery);

#endif
