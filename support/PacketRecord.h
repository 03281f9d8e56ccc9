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

#pragma pack(push, 1)
// The result variable's header ("KVSR" for settings, "KPPR" for
// permissions); a layout with text follows it with a 16-bit size and the
// result text.
struct PacketResultHeader {
  UINT32 Signature;
  UINT8 LayoutVersion;
  UINT8 Padding[3];
  EFI_STATUS Status;
  UINT32 SessionId;
};
#pragma pack(pop)
static_assert(sizeof(PacketResultHeader) == 20, "result header layout");
static_assert(offsetof(PacketResultHeader, Status) == 8, "result header layout");
static_assert(offsetof(PacketResultHeader, SessionId) == 16, "result header layout");

// Writes the result variable ResultVariableName / Guid, attributes 7: the
// header with Packet's Status and SessionId, then, WithText, the 16-bit
// size and the ResultSize bytes of ResultText (none when it is NULL).
// EFI_OUT_OF_RESOURCES; SetVariable's status.
[[nodiscard]] EFI_STATUS WritePacketResult(const ZELM_APPLY_PACKET *Packet, const EFI_GUID *Guid,
                                           UINT32 Signature, UINT8 LayoutVersion, BOOLEAN WithText);

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
