#include "efi/harness/Transport.h"

#include <zelm/ZelmGuids.h>

#include "efi/harness/TestSignature.h"
#include "efi/harness/VariableRead.h"
#include "support/Memory.h"

namespace {

constexpr UINT8 signedMagic[4] = {'Z', 'P', 'K', 'T'};
constexpr UINTN signedHeaderSize = 8;
constexpr UINT32 mailboxAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
// Signature, layout version, padding, status, session id, then the text's
// 16-bit size: both result layouts agree up to here.
constexpr UINTN resultStatusOffset = 8;
constexpr UINTN resultSizeOffset = 20;
constexpr UINTN resultTextOffset = 22;
constexpr UINT8 operationDiscard = 1;
constexpr UINT8 operationKeep = 2;

CHAR16 settingsMailbox[] = u"ZelmSettingsPacket";
CHAR16 permissionsMailbox[] = u"ZelmPermissionsPacket";
CHAR16 settingsResult[] = u"ZelmSettingsResult";
CHAR16 permissionsResult[] = u"ZelmPermissionsResult";

EFI_GUID *KindGuid(PacketKind kind) {
  return kind == PacketKind::Settings ? &gZelmSettingsVariableGuid : &gZelmPermissionVariableGuid;
}

CHAR16 *MailboxName(PacketKind kind) {
  return kind == PacketKind::Settings ? settingsMailbox : permissionsMailbox;
}

CHAR16 *ResultName(PacketKind kind) {
  return kind == PacketKind::Settings ? settingsResult : permissionsResult;
}

UINTN TextLength(const CHAR8 *text) {
  UINTN n = 0;
  while (text[n] != '\0') {
    ++n;
  }
  return n;
}

} // namespace

PacketDelivery::PacketDelivery(EFI_SYSTEM_TABLE *SystemTable, PacketKind Kind)
    : st_(SystemTable), kind_(Kind), copy_(SystemTable->BootServices) {}

PacketDelivery::~PacketDelivery() {
  if (record_.ResultText != nullptr) {
    st_->BootServices->FreePool(record_.ResultText);
  }
}

EFI_STATUS PacketDelivery::Deliver(const CHAR8 *Xml, UINT8 Signer, UINT32 SessionId,
                                   BOOLEAN Tamper) {
  const UINT32 payloadSize = static_cast<UINT32>(TextLength(Xml));
  const UINTN signedSize = signedHeaderSize + payloadSize;
  const UINTN packetSize = signedSize + HARNESS_SIGNATURE_SIZE;
  {
    // The agent's packet lives only until it is in the mailbox.
    PoolBuffer packet(st_->BootServices);
    if (!packet.allocate(packetSize)) {
      return EFI_OUT_OF_RESOURCES;
    }
    CopyMem(packet.get(), signedMagic, sizeof(signedMagic));
    CopyMem(packet.get() + sizeof(signedMagic), &payloadSize, sizeof(payloadSize));
    CopyMem(packet.get() + signedHeaderSize, Xml, payloadSize);
    SignTestData(packet.get(), signedSize, Signer, packet.get() + signedSize);
    if (Tamper && payloadSize != 0) {
      packet.get()[signedSize - 1] ^= 0x01;
    }
    EFI_STATUS status = st_->RuntimeServices->SetVariable(
        MailboxName(kind_), KindGuid(kind_), mailboxAttributes, packetSize, packet.get());
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  UINTN size = 0;
  EFI_STATUS status = ReadVariable(st_, MailboxName(kind_), KindGuid(kind_), copy_, &size, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (size != packetSize) {
    return EFI_COMPROMISED_DATA;
  }
  record_ = {};
  record_.PacketData = copy_.get();
  record_.PacketSize = size;
  record_.MailboxVariableName = MailboxName(kind_);
  record_.ResultVariableName = ResultName(kind_);
  record_.FormatVersion = 2;
  record_.Signature = copy_.get() + signedSize;
  record_.SignedLength = signedSize;
  record_.State = ZELM_PACKET_STATE_PENDING;
  record_.SessionId = SessionId;
  record_.Payload = reinterpret_cast<const CHAR8 *>(copy_.get() + signedHeaderSize);
  record_.PayloadSize = payloadSize;
  return EFI_SUCCESS;
}

BOOLEAN PacketDelivery::MailboxPresent() const {
  UINTN size = 0;
  return st_->RuntimeServices->GetVariable(MailboxName(kind_), KindGuid(kind_), nullptr, &size,
                                           nullptr) == EFI_BUFFER_TOO_SMALL;
}

EFI_STATUS PacketDelivery::ReadResult(PoolBuffer &Buffer, PacketResult *Result) const {
  UINTN size = 0;
  EFI_STATUS status = ReadVariable(st_, ResultName(kind_), KindGuid(kind_), Buffer, &size, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (size < resultTextOffset) {
    return EFI_COMPROMISED_DATA;
  }
  UINT16 textSize = 0;
  CopyMem(&Result->Signature, Buffer.get(), sizeof(Result->Signature));
  CopyMem(&Result->Status, Buffer.get() + resultStatusOffset, sizeof(Result->Status));
  CopyMem(&textSize, Buffer.get() + resultSizeOffset, sizeof(textSize));
  if (textSize > size - resultTextOffset) {
    return EFI_COMPROMISED_DATA;
  }
  Result->Text = Buffer.get() + resultTextOffset;
  Result->TextSize = textSize;
  return EFI_SUCCESS;
}

TransportOutcome RunDeliveredPacket(ZELM_APPLY_PACKET_PROTOCOL *Protocol, PacketKind Kind,
                                    PacketDelivery &Delivery) {
  TransportOutcome outcome = {EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS};
  outcome.Apply = Protocol->ApplyPacket(Protocol, Delivery.Record());
  if (Kind == PacketKind::Permissions) {
    outcome.Report = Protocol->ReportResult(Protocol, Delivery.Record());
    outcome.Complete = Protocol->CompletePacket(
        Protocol, Delivery.Record(), EFI_ERROR(outcome.Apply) ? operationDiscard : operationKeep);
  }
  return outcome;
}
