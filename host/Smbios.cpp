// EFI_SMBIOS_PROTOCOL over the platform's records (PI 1.8 volume 5,
// chapter 6). As on a real platform the records also form one structure
// table, published under an SMBIOS 3.0 entry point (DSP0134 3.x section
// 5.2.2); the table is copied into an exactly sized buffer at installation
// and GetNext points into it, so a reader running past the table is caught.
#include <uefi/SmbiosTable.h>
#include <uefi/UefiGuids.h>

#include <cstring>
#include <stdexcept>

#include "host/FirmwareState.h"

namespace host {

namespace {

UINT16 RecordHandle(const UINT8 *record, size_t size) {
  return size >= 4 ? static_cast<UINT16>(record[2] | record[3] << 8) : 0xFFFF;
}

EFI_STATUS EFIAPI Add(CONST EFI_SMBIOS_PROTOCOL *, EFI_HANDLE, EFI_SMBIOS_HANDLE *,
                      EFI_SMBIOS_TABLE_HEADER *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI UpdateString(CONST EFI_SMBIOS_PROTOCOL *, EFI_SMBIOS_HANDLE *, UINTN *, CHAR8 *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI Remove(CONST EFI_SMBIOS_PROTOCOL *, EFI_SMBIOS_HANDLE) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI GetNext(CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle,
                          EFI_SMBIOS_TYPE *Type, EFI_SMBIOS_TABLE_HEADER **Record,
                          EFI_HANDLE *ProducerHandle) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || This == nullptr || SmbiosHandle == nullptr || Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const size_t count = s->smbiosOffsets.size();
  size_t start = 0;
  if (*SmbiosHandle != SMBIOS_HANDLE_PI_RESERVED) {
    start = count;
    for (size_t i = 0; i < count; i++) {
      if (RecordHandle(s->smbiosTable.get() + s->smbiosOffsets[i], s->smbiosSizes[i]) ==
          *SmbiosHandle) {
        start = i + 1;
        break;
      }
    }
  }
  for (size_t i = start; i < count; i++) {
    UINT8 *record = s->smbiosTable.get() + s->smbiosOffsets[i];
    if (Type != nullptr && (s->smbiosSizes[i] == 0 || record[0] != *Type)) {
      continue;
    }
    *SmbiosHandle = RecordHandle(record, s->smbiosSizes[i]);
    *Record = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record);
    if (ProducerHandle != nullptr) {
      *ProducerHandle = nullptr;
    }
    return EFI_SUCCESS;
  }
  *SmbiosHandle = SMBIOS_HANDLE_PI_RESERVED;
  return EFI_NOT_FOUND;
}

EFI_SMBIOS_PROTOCOL gSmbios = {Add, UpdateString, Remove, GetNext, 3, 0};

SMBIOS_TABLE_3_0_ENTRY_POINT EntryPoint(const UINT8 *table, size_t size) {
  SMBIOS_TABLE_3_0_ENTRY_POINT entry{};
  std::memcpy(entry.AnchorString, SMBIOS3_ANCHOR_STRING, SMBIOS3_ANCHOR_LENGTH);
  entry.EntryPointLength = SMBIOS3_ENTRY_POINT_LENGTH;
  entry.MajorVersion = gSmbios.MajorVersion;
  entry.MinorVersion = gSmbios.MinorVersion;
  entry.EntryPointRevision = 1;
  entry.TableMaximumSize = static_cast<UINT32>(size);
  entry.TableAddress = reinterpret_cast<UINT64>(table);
  UINT8 sum = 0;
  const auto *bytes = reinterpret_cast<const UINT8 *>(&entry);
  for (size_t i = 0; i < sizeof(entry); i++) {
    sum = static_cast<UINT8>(sum + bytes[i]);
  }
  entry.EntryPointStructureChecksum = static_cast<UINT8>(0x100 - sum);
  return entry;
}

} // namespace

void Firmware::InstallSmbios() {
  FirmwareState &s = *state_;
  if (s.smbiosTable) {
    throw std::logic_error("InstallSmbios runs once per boot");
  }
  std::vector<UINT8> table = s.platform.BuildSmbiosTable();
  if (table.size() > 0xFFFFFFFFu) {
    throw std::invalid_argument("SMBIOS table larger than 4 GiB");
  }
  // Exactly sized, even when empty: any read of it past its end is caught.
  s.smbiosTable.reset(new UINT8[table.size()]);
  if (!table.empty()) {
    std::memcpy(s.smbiosTable.get(), table.data(), table.size());
  }
  size_t offset = 0;
  for (const std::vector<UINT8> &record : s.platform.SmbiosRecords()) {
    s.smbiosOffsets.push_back(offset);
    s.smbiosSizes.push_back(record.size());
    offset += record.size();
  }
  s.smbiosEntryPoint = EntryPoint(s.smbiosTable.get(), table.size());
  EFI_GUID guid = SMBIOS3_TABLE_GUID;
  if (EFI_ERROR(s.bootServices.InstallConfigurationTable(&guid, &s.smbiosEntryPoint))) {
    throw std::logic_error("SMBIOS entry point could not be published");
  }
  s.InstallOnNewHandle(gEfiSmbiosProtocolGuid, &gSmbios);
}

} // namespace host
