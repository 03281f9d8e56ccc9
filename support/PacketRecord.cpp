#include "support/PacketRecord.h"

#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/Text.h"
#include "support/VariableAttributes.h"

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
  return BufferTextLength(Packet->Payload, Packet->PayloadSize);
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

EFI_STATUS WritePacketResult(const ZELM_APPLY_PACKET *Packet, const EFI_GUID *Guid,
                             UINT32 Signature, UINT8 LayoutVersion, BOOLEAN WithText) {
  const UINT16 textSize =
      Packet->ResultText == nullptr ? 0 : static_cast<UINT16>(Packet->ResultSize);
  const UINTN size = sizeof(PacketResultHeader) + (WithText ? sizeof(textSize) + textSize : 0);
  PoolPtr<UINT8> buffer(static_cast<UINT8 *>(AllocZeroedPool(size)));
  if (!buffer) {
    return EFI_OUT_OF_RESOURCES;
  }
  PacketResultHeader header = {};
  header.Signature = Signature;
  header.LayoutVersion = LayoutVersion;
  header.Status = Packet->Status;
  header.SessionId = Packet->SessionId;
  CopyMem(buffer.get(), &header, sizeof(header));
  if (WithText) {
    CopyMem(buffer.get() + sizeof(header), &textSize, sizeof(textSize));
    if (textSize != 0) {
      CopyMem(buffer.get() + sizeof(header) + sizeof(textSize), Packet->ResultText, textSize);
    }
  }
  return gRT->SetVariable(const_cast<CHAR16 *>(Packet->ResultVariableName),
                          const_cast<EFI_GUID *>(Guid), kPublishedVariableAttributes, size,
                          buffer.get());
}
