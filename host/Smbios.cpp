// EFI_SMBIOS_PROTOCOL over the platform's records (PI 1.8 volume 5,
// chapter 6). The records are copied into exactly sized buffers at
// installation, so a reader running past a string set is caught.
#include <uefi/UefiGuids.h>

#include <cstring>

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
  size_t start = 0;
  if (*SmbiosHandle != SMBIOS_HANDLE_PI_RESERVED) {
    start = s->smbiosRecords.size();
    for (size_t i = 0; i < s->smbiosRecords.size(); i++) {
      if (RecordHandle(s->smbiosRecords[i].get(), s->smbiosSizes[i]) == *SmbiosHandle) {
        start = i + 1;
        break;
      }
    }
  }
  for (size_t i = start; i < s->smbiosRecords.size(); i++) {
    const UINT8 *record = s->smbiosRecords[i].get();
    if (Type != nullptr && (s->smbiosSizes[i] == 0 || record[0] != *Type)) {
      continue;
    }
    *SmbiosHandle = RecordHandle(record, s->smbiosSizes[i]);
    *Record = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(s->smbiosRecords[i].get());
    if (ProducerHandle != nullptr) {
      *ProducerHandle = nullptr;
    }
    return EFI_SUCCESS;
  }
  *SmbiosHandle = SMBIOS_HANDLE_PI_RESERVED;
  return EFI_NOT_FOUND;
}

EFI_SMBIOS_PROTOCOL gSmbios = {Add, UpdateString, Remove, GetNext, 3, 0};

} // namespace

void Firmware::InstallSmbios() {
  for (const std::vector<UINT8> &record : state_->platform.SmbiosRecords()) {
    std::unique_ptr<UINT8[]> copy(new UINT8[record.empty() ? 1 : record.size()]);
    if (!record.empty()) {
      std::memcpy(copy.get(), record.data(), record.size());
    }
    state_->smbiosRecords.push_back(std::move(copy));
    state_->smbiosSizes.push_back(record.size());
  }
  state_->InstallOnNewHandle(gEfiSmbiosProtocolGuid, &gSmbios);
}

} // namespace host
