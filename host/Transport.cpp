#include "host/Transport.h"

#include <zelm/ZelmGuids.h>

#include <cstring>

#include "host/Authentication.h"
#include "host/HostFirmware.h"

namespace host {

namespace {

constexpr UINT8 kSignedMagic[4] = {'Z', 'P', 'K', 'T'};

UINT32 ReadUint32(const UINT8 *p) {
  UINT32 value = 0;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

} // namespace

const EFI_GUID &PacketGuid(PacketKind kind) {
  return kind == PacketKind::Settings ? gZelmSettingsVariableGuid : gZelmPermissionVariableGuid;
}

std::u16string MailboxName(PacketKind kind) {
  return kind == PacketKind::Settings ? u"ZelmSettingsPacket" : u"ZelmPermissionsPacket";
}

std::u16string ResultName(PacketKind kind) {
  return kind == PacketKind::Settings ? u"ZelmSettingsResult" : u"ZelmPermissionsResult";
}

std::vector<UINT8> SignedData(std::string_view payload) {
  std::vector<UINT8> data(kSignedMagic, kSignedMagic + sizeof(kSignedMagic));
  UINT32 size = static_cast<UINT32>(payload.size());
  const auto *sizeBytes = reinterpret_cast<const UINT8 *>(&size);
  data.insert(data.end(), sizeBytes, sizeBytes + sizeof(size));
  data.insert(data.end(), payload.begin(), payload.end());
  return data;
}

std::vector<UINT8> SignPacket(std::string_view payload, UINT8 signer) {
  std::vector<UINT8> packet = SignedData(payload);
  std::vector<UINT8> block = Authentication::Sign(packet.data(), packet.size(), signer);
  packet.insert(packet.end(), block.begin(), block.end());
  return packet;
}

std::optional<size_t> SignedLengthOf(const std::vector<UINT8> &packet) {
  if (packet.size() < kSignedHeaderSize ||
      std::memcmp(packet.data(), kSignedMagic, sizeof(kSignedMagic)) != 0) {
    return std::nullopt;
  }
  size_t payload = ReadUint32(packet.data() + sizeof(kSignedMagic));
  if (payload >= packet.size() - kSignedHeaderSize) {
    return std::nullopt;
  }
  return kSignedHeaderSize + payload;
}

Delivery::Delivery(Platform &platform, PacketKind kind, std::vector<UINT8> packet,
                   const DeliveryOptions &options)
    : platform_(platform), kind_(kind), mailbox_(MailboxName(kind)), result_(ResultName(kind)) {
  platform_.PutVariable(mailbox_, PacketGuid(kind_),
                        EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                            EFI_VARIABLE_RUNTIME_ACCESS,
                        packet);
  bytes_ = platform_.FindVariable(mailbox_, PacketGuid(kind_))->data;
  size_t signedLength = SignedLengthOf(bytes_).value_or(kSignedHeaderSize);
  // Pointers past a short packet's bytes are formed as addresses: they
  // are never read (the driver refuses the record), and an empty packet
  // has no bytes to point into.
  const UINTN data = reinterpret_cast<UINTN>(bytes_.data());
  record_.PacketData = bytes_.data();
  record_.PacketSize = bytes_.size();
  record_.MailboxVariableName = reinterpret_cast<const CHAR16 *>(mailbox_.c_str());
  record_.ResultVariableName = reinterpret_cast<const CHAR16 *>(result_.c_str());
  record_.FormatVersion = options.formatVersion;
  record_.Signature = reinterpret_cast<const UINT8 *>(data + signedLength);
  record_.SignedLength = signedLength;
  record_.State = ZELM_PACKET_STATE_PENDING;
  record_.SessionId = options.sessionId;
  record_.NoAppend = options.noAppend ? 1 : 0;
  record_.Payload = reinterpret_cast<const CHAR8 *>(data + kSignedHeaderSize);
  record_.PayloadSize = signedLength - kSignedHeaderSize;
}

Delivery::~Delivery() {
  Firmware *firmware = Firmware::Current();
  if (record_.ResultText != nullptr && firmware != nullptr) {
    firmware->BootServices()->FreePool(record_.ResultText);
  }
}

std::string Delivery::ResultText() const {
  if (record_.ResultText == nullptr || record_.ResultSize == 0) {
    return {};
  }
  return std::string(record_.ResultText, record_.ResultSize - 1);
}

bool Delivery::MailboxPresent() const {
  return platform_.FindVariable(mailbox_, PacketGuid(kind_)) != nullptr;
}

std::vector<UINT8> Delivery::ResultVariable() const {
  const Variable *variable = platform_.FindVariable(result_, PacketGuid(kind_));
  return variable == nullptr ? std::vector<UINT8>() : variable->data;
}

PermissionsOutcome RunPermissionsPacket(ZELM_APPLY_PACKET_PROTOCOL *protocol, Delivery &delivery) {
  PermissionsOutcome outcome;
  outcome.apply = protocol->ApplyPacket(protocol, delivery.Record());
  outcome.report = protocol->ReportResult(protocol, delivery.Record());
  outcome.complete =
      protocol->CompletePacket(protocol, delivery.Record(), EFI_ERROR(outcome.apply) ? 1 : 2);
  return outcome;
}

} // namespace host
