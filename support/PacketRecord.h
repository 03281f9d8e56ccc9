// Checks on the packet records that the transport fills, shared by both
// apply protocols. The record comes from outside: every size is checked by
// subtraction so that no sum can wrap.
#ifndef ZELM_SUPPORT_PACKET_RECORD_H_
#define ZELM_SUPPORT_PACKET_RECORD_H_

#include <zelm/ZelmApplyPacket.h>

// TRUE when PacketSize is at most ZELM_MAX_PACKET_SIZE, SignedLength is
// below it, Signature sits exactly at PacketData + SignedLength, and the
// payload lies inside the signed data, after its first byte.
BOOLEAN PacketBoundsValid(const ZELM_APPLY_PACKET *Packet);

// Bytes after the signed data (PacketSize - SignedLength); call only on a
// record whose bounds are valid.
inline UINT64 SignatureBytes(const ZELM_APPLY_PACKET *Packet) {
  return Packet->PacketSize - Packet->SignedLength;
}

// The length field at the start of the signature block; FALSE when fewer
// than four bytes follow the signed data.
BOOLEAN ReadSignatureLength(const ZELM_APPLY_PACKET *Packet, UINT32 *Length);

// Characters of the payload text: up to its first NUL, at most PayloadSize.
UINTN PayloadTextLength(const ZELM_APPLY_PACKET *Packet);

// Text of a status in packet results: "0x" and upper-case hexadecimal
// digits without leading zeros ("0x0", "0x800000000000000F").
struct StatusText {
  CHAR8 text[20];
};
VOID FormatStatusText(EFI_STATUS Status, StatusText *Out);

// Text of a time in packet documents, "%d-%02d-%02dT%02d:%02d:%02d".
struct TimeText {
  CHAR8 text[20];
};
VOID FormatTimeText(const EFI_TIME *Time, TimeText *Out);

#endif
