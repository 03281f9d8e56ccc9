// The outside packet transport, as the firmware double plays it: a packet
// is signed data (a short header, then the XML payload) followed by the
// signature block of host/Authentication.h. The authority's agent writes
// the packet into a mailbox variable; the transport reads it back, fills a
// ZELM_APPLY_PACKET pointing into its copy and hands it to an apply
// protocol. Tests, benchmarks and the simulator all deliver packets so.
//
// Signed data (little-endian):
//   0  UINT8[4] "ZPKT"
//   4  UINT32   payload bytes
//   8  payload
#ifndef ZELM_HOST_TRANSPORT_H_
#define ZELM_HOST_TRANSPORT_H_

#include <zelm/ZelmApplyPacket.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class Platform;

constexpr size_t kSignedHeaderSize = 8;

enum class PacketKind { Settings, Permissions };

// Mailbox and result variables of each kind, under the kind's GUID.
const EFI_GUID &PacketGuid(PacketKind kind);
std::u16string MailboxName(PacketKind kind);
std::u16string ResultName(PacketKind kind);

// The signed data of Payload.
std::vector<UINT8> SignedData(std::string_view payload);
// Signed data and the signature block of Signer (identity bits).
std::vector<UINT8> SignPacket(std::string_view payload, UINT8 signer);
// SignedLength of a packet in the layout above: its header read, the
// payload inside the packet. Empty when the header does not fit.
std::optional<size_t> SignedLengthOf(const std::vector<UINT8> &packet);

struct DeliveryOptions {
  UINT8 formatVersion = 2;
  UINT32 sessionId = 0;
  bool noAppend = false;
};

// One delivered packet: the mailbox variable written on the platform, the
// transport's copy of its bytes, and the record filled from them. A
// packet whose header does not parse is delivered with SignedLength and
// Payload as if it had no payload (the driver then refuses it). Destroy
// it while the boot that applied it lives: it frees the result text.
class Delivery {
public:
  Delivery(Platform &platform, PacketKind kind, std::vector<UINT8> packet,
           const DeliveryOptions &options = {});
  ~Delivery();
  Delivery(const Delivery &) = delete;
  Delivery &operator=(const Delivery &) = delete;

  ZELM_APPLY_PACKET *Record() { return &record_; }
  std::vector<UINT8> &Bytes() { return bytes_; }
  // The result text the driver left, without its NUL; empty when none.
  std::string ResultText() const;
  bool MailboxPresent() const;
  // The result variable's bytes; empty when it was not written.
  std::vector<UINT8> ResultVariable() const;

private:
  Platform &platform_;
  PacketKind kind_;
  std::u16string mailbox_;
  std::u16string result_;
  std::vector<UINT8> bytes_;
  ZELM_APPLY_PACKET record_{};
};

// What the transport learnt from the three calls of a permissions packet.
struct PermissionsOutcome {
  EFI_STATUS apply = EFI_SUCCESS;
  EFI_STATUS report = EFI_SUCCESS;
  EFI_STATUS complete = EFI_SUCCESS;
};

// ApplyPacket, ReportResult, then CompletePacket with 2 (keep) when
// ApplyPacket succeeded and 1 (discard) otherwise.
PermissionsOutcome RunPermissionsPacket(ZELM_APPLY_PACKET_PROTOCOL *protocol, Delivery &delivery);

} // namespace host

#endif
