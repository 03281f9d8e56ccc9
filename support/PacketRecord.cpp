#include "support/PacketRecord.h"

#include "support/Memory.h"
#include "support/Text.h"

BOOLEAN PacketBoundsValid(const ZELM_APPLY_PACKET *Packet) {
  const UINTN data = reinterpret_cast<UINTN>(Packet->PacketData);
  if (data == 0 || Packet->PacketSize > ZELM_MAX_PACKET_SIZE ||
      Packet->SignedLength >= Packet->PacketSize ||
      data > ~static_cast<UINTN>(0) - Packet->PacketSize) {
    return FALSE;
  }
  const UINTN signedEnd = data + Packet->SignedLength;
  const UINTN payload = reinterpret_cast<UINTN>(Packet->Payload);
  return reinterpret_cast<UINTN>(Packet->Signature) == signedEnd && payload > data &&
         payload <= signedEnd && Packet->PayloadSize <= signedEnd - payload;
}

BOOLEAN ReadSignatureLength(const ZELM_APPLY_PACKET *Packet, UINT32 *Length) {
  if (SignatureBytes(Packet) < sizeof(*Length)) {
    return FALSE;
  }
  CopyMem(Length, Packet->Signature, sizeof(*Length));
  return TRUE;
}

UINTN PayloadTextLength(const ZELM_APPLY_PACKET *Packet) {
  UINTN length = 0;
  while (length < Packet->PayloadSize && Packet->Payload[length] != '\0') {
    length++;
  }
  return length;
}

VOID FormatStatusText(EFI_STATUS Status, StatusText *Out) {
  Out->text[0] = '0';
  Out->text[1] = 'x';
  // 16 digits and a NUL always fit the 18 bytes left.
  (VOID) ValueToAscii(Out->text + 2, sizeof(Out->text) - 2, VALUE_FLAG_HEX, Status, 0);
}

VOID FormatTimeText(const EFI_TIME *Time, TimeText *Out) {
  FormatAscii(Out->text, sizeof(Out->text), "%d-%02d-%02dT%02d:%02d:%02d", Time->Year, Time->Month,
              Time->Day, Time->Hour, Time->Minute, Time->Second);
}
