// Fuzz target for an ApplyPacket on a raw record: every record field, the
// sizes and where the payload and the signature lie in the buffer come
// from the input. Built twice: ZELM_FUZZ_PERMISSIONS selects the
// permissions protocol (ApplyPacket, ReportResult, CompletePacket with an
// operation from the input), otherwise the settings one.
//
// Input: a 24-byte header, then the buffer's bytes (cut or zero-filled to
// PacketSize).
//   0  options: bit 0 writes a valid signature block by the signer over
//      the first SignedLength bytes at the signature offset (when it fits
//      the buffer); bits 2, 3, 4 set the upper 32 bits of PacketSize,
//      SignedLength, PayloadSize (the buffer then holds the input alone)
//   1  FormatVersion   2  signer   3  NoAppend
//   4  UINT16 PacketSize           6  UINT16 SignedLength
//   8  INT32 signature offset      12 INT32 payload offset
//   16 UINT16 PayloadSize          18 UINT32 SessionId
//   22 CompletePacket operation    23 unused
// The buffer is a block of exactly its size, so that any read outside it
// is caught.
//
// Checked on every input: a record whose bounds are wrong (by a model
// written apart from the driver) is refused with State 255 and nothing
// stored; the packet never stays pending; the token is released and the
// mailbox gone once the transport is done; a packet refused before its
// settings are reached (record, signature, versions) changes no setting,
// and only a kept permissions packet changes the stored permissions;
// nothing the calls allocated stays allocated.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzBoot.h"
#include "host/Authentication.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionStore.h"

namespace {

using fuzz::Check;

#ifdef ZELM_FUZZ_PERMISSIONS
constexpr host::PacketKind kKind = host::PacketKind::Permissions;
#else
constexpr host::PacketKind kKind = host::PacketKind::Settings;
#endif

using fuzz::Values;

fuzz::FuzzBoot &TheBoot() {
  static fuzz::FuzzBoot *boot = [] {
    fuzz::FuzzBoot *b = fuzz::StartBoot(0xFF, kKind == host::PacketKind::Settings
                                                  ? gZelmSettingsApplyProtocolGuid
                                                  : gZelmPermissionsApplyProtocolGuid);
    fuzz::RegisterFakeSettings(*b, {{"Device.A.Enable", ZELM_SETTING_TYPE_ENABLE, {0}},
                                    {"Device.Name", ZELM_SETTING_TYPE_STRING, {'n', 0}},
                                    {"Device.Blob", ZELM_SETTING_TYPE_BINARY, {1, 2}}});
    fuzz::SaveStartingStore(*b, {{"Device.A", 0x01, 0x80}, {"Device.B", 0x81, 0x10}});
    return b;
  }();
  return *boot;
}

struct Layout {
  uint64_t packetSize, signedLength, payloadSize;
  int64_t signatureOffset, payloadOffset;
};

// The record checks both protocols share, in offsets rather than pointers.
bool BoundsValid(const Layout &l) {
  return l.packetSize <= ZELM_MAX_PACKET_SIZE && l.signedLength < l.packetSize &&
         l.signatureOffset >= 0 && static_cast<uint64_t>(l.signatureOffset) == l.signedLength &&
         l.payloadOffset > 0 && static_cast<uint64_t>(l.payloadOffset) <= l.signedLength &&
         l.payloadSize <= l.signedLength - static_cast<uint64_t>(l.payloadOffset);
}

uint32_t BlockLength(const std::vector<UINT8> &buffer, const Layout &l) {
  uint32_t length = 0;
  if (l.signedLength + 4 <= buffer.size()) {
    memcpy(&length, buffer.data() + l.signedLength, sizeof(length));
  }
  return length;
}

const UINT8 *At(const UINT8 *base, int64_t offset) {
  // Formed as an integer: the driver must refuse an offset outside the
  // buffer before it reads there.
  return reinterpret_cast<const UINT8 *>(reinterpret_cast<uintptr_t>(base) +
                                         static_cast<uintptr_t>(offset));
}

size_t EntryCount() {
  PermissionStore *store = CurrentPermissionStore();
  size_t count = 0;
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    count++;
  }
  return count;
}

bool SettingsEqual(const std::map<std::string, std::vector<UINT8>> &a) {
  return a == Values();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FuzzBoot &boot = TheBoot();
  fuzz::Input in(data, size);
  const uint8_t options = in.Byte();
  const uint8_t formatVersion = in.Byte();
  const uint8_t signer = in.Byte();
  const uint8_t noAppend = in.Byte();
  Layout l;
  l.packetSize = in.Take(2);
  l.signedLength = in.Take(2);
  l.signatureOffset = static_cast<int32_t>(in.Take(4));
  l.payloadOffset = static_cast<int32_t>(in.Take(4));
  l.payloadSize = in.Take(2);
  const uint32_t sessionId = static_cast<uint32_t>(in.Take(4));
  const uint8_t operation = in.Byte();
  in.Byte();
  size_t bufferSize = static_cast<size_t>(l.packetSize);
  if ((options & 0x04) != 0) {
    l.packetSize |= 0xFFFFFFFF00000000u;
    bufferSize = in.Left();
  }
  if ((options & 0x08) != 0) {
    l.signedLength |= 0xFFFFFFFF00000000u;
  }
  if ((options & 0x10) != 0) {
    l.payloadSize |= 0xFFFFFFFF00000000u;
  }
  std::vector<UINT8> buffer(bufferSize);
  if (bufferSize != 0 && in.Left() != 0) {
    memcpy(buffer.data(), in.Rest(), in.Left() < bufferSize ? in.Left() : bufferSize);
  }
  if ((options & 0x01) != 0 && l.signedLength <= buffer.size() && l.signatureOffset >= 0 &&
      static_cast<uint64_t>(l.signatureOffset) + host::kSignatureBlockSize <= buffer.size()) {
    std::vector<UINT8> block = host::Authentication::Sign(buffer.data(), l.signedLength, signer);
    memcpy(buffer.data() + l.signatureOffset, block.data(), block.size());
  }

  // Every input starts from the same store, so a finding replays alone.
  boot.platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, kStoredVariableAttributes,
                            boot.spp);
  Check(ReloadPermissionStore() == EFI_SUCCESS);
  boot.platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
  const std::map<std::string, std::vector<UINT8>> settingsBefore = Values();
  const std::u16string mailbox = host::MailboxName(kKind);
  const std::u16string result = host::ResultName(kKind);
  const EFI_GUID &guid = host::PacketGuid(kKind);
  boot.platform.PutVariable(mailbox, guid, 7, std::vector<UINT8>(buffer.begin(), buffer.end()));
  boot.platform.EraseVariable(result, guid);
  host::Pool &pool = boot.firmware->BootPool();
  // The store's entries are blocks of their own; a kept packet changes
  // how many there are.
  const size_t live = pool.Stats().liveCount - EntryCount();

  // Exactly sized: the driver gets the block, not the vector's spare room.
  std::unique_ptr<UINT8[]> block(new UINT8[bufferSize == 0 ? 1 : bufferSize]);
  if (bufferSize != 0) {
    memcpy(block.get(), buffer.data(), bufferSize);
  }
  ZELM_APPLY_PACKET record = {};
  record.PacketData = bufferSize == 0 ? nullptr : block.get();
  record.PacketSize = l.packetSize;
  record.MailboxVariableName = reinterpret_cast<const CHAR16 *>(mailbox.c_str());
  record.ResultVariableName = reinterpret_cast<const CHAR16 *>(result.c_str());
  record.FormatVersion = formatVersion;
  record.Signature = At(block.get(), l.signatureOffset);
  record.SignedLength = l.signedLength;
  record.State = ZELM_PACKET_STATE_PENDING;
  record.SessionId = sessionId;
  record.NoAppend = noAppend;
  record.PayloadSize = l.payloadSize;
  record.Payload = reinterpret_cast<const CHAR8 *>(At(block.get(), l.payloadOffset));
  const bool bounds = bufferSize != 0 && BoundsValid(l);

#ifndef ZELM_FUZZ_PERMISSIONS
  const size_t authenticateCalls = boot.firmware->Auth()->calls.authenticate;
#endif
  EFI_STATUS status = boot.apply->ApplyPacket(boot.apply, &record);
  Check(record.State != ZELM_PACKET_STATE_PENDING);
  const bool applied = status == EFI_SUCCESS;
  if (!bounds) {
    Check(record.State == ZELM_PACKET_STATE_INTERNAL_FAILURE && EFI_ERROR(record.Status));
  }
  if (applied) {
    Check(bounds && record.State == ZELM_PACKET_STATE_APPLIED && record.Status == EFI_SUCCESS);
  }
#ifdef ZELM_FUZZ_PERMISSIONS
  if (bounds) {
    // The block must fill exactly the bytes after the signed data.
    Check(BlockLength(buffer, l) == l.packetSize - l.signedLength ||
          record.State == ZELM_PACKET_STATE_BAD_LENGTH);
  }
  Check(boot.apply->ReportResult(boot.apply, &record) == EFI_SUCCESS || !applied);
  if (record.ResultText != nullptr) {
    Check(applied && record.ResultSize >= 2 && record.ResultSize <= ZELM_MAX_RESULT_SIZE &&
          record.ResultText[record.ResultSize - 1] == '\0');
  }
  EFI_STATUS complete = boot.apply->CompletePacket(boot.apply, &record, operation);
  Check(!boot.platform.FindVariable(mailbox, guid));
  if (operation == 1 || operation == 2) {
    Check(record.AuthToken == 0);
  } else {
    Check(complete == EFI_INVALID_PARAMETER);
  }
  if (record.ResultText != nullptr) {
    boot.firmware->BootServices()->FreePool(record.ResultText);
    record.ResultText = nullptr;
  }
  // Only a kept packet changes what is stored.
  const host::Variable *spp = boot.platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
  Check(spp != nullptr);
  if (!(applied && operation == 2 && complete == EFI_SUCCESS)) {
    Check(spp->data == boot.spp);
  }
  Check(SettingsEqual(settingsBefore));
  // The store the calls left (kept, discarded or pending) goes back to the
  // stored one before the pool is counted.
  Check(ReloadPermissionStore() == EFI_SUCCESS);
#else
  (void)operation;
  if (bounds) {
    // The verifier gets no size: a block claiming more than is there is
    // refused before it is read.
    if (l.packetSize - l.signedLength < 4 ||
        BlockLength(buffer, l) > l.packetSize - l.signedLength) {
      Check(record.State == ZELM_PACKET_STATE_INTERNAL_FAILURE);
    }
  }
  Check(record.AuthToken == 0 && record.ResultText == nullptr && record.ResultSize == 0);
  Check(!boot.platform.FindVariable(mailbox, guid));
  // Settings change only once the signature and the versions have been
  // accepted; a malformed element later keeps those applied before it.
  const bool verified = boot.firmware->Auth()->calls.authenticate != authenticateCalls;
  if (!verified || record.State == ZELM_PACKET_STATE_SIGNATURE_REFUSED ||
      record.State == ZELM_PACKET_STATE_VERSION_TOO_LOW ||
      record.State == ZELM_PACKET_STATE_BAD_LENGTH) {
    Check(SettingsEqual(settingsBefore));
  }
  Check(boot.platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->data == boot.spp);
#endif
  Check(pool.Stats().liveCount - EntryCount() == live);
  boot.platform.EraseVariable(result, guid);
  // The double logs every write; a long run must not grow without bound.
  boot.platform.ClearSetVariableLog();
  return 0;
}
