// EFI_PCD_PROTOCOL over the platform's (token space, token) values
// (PI 1.8 volume 3). Unknown tokens read as zero and are counted.
#include <uefi/UefiGuids.h>

#include "host/FirmwareState.h"

namespace host {

namespace {

const std::vector<UINT8> *Lookup(const EFI_GUID *guid, UINTN token) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || guid == nullptr) {
    return nullptr;
  }
  const std::vector<UINT8> *bytes = s->platform.FindPcd(*guid, token);
  if (bytes == nullptr) {
    s->pcdMisses++;
  }
  return bytes;
}

UINT64 Value(const EFI_GUID *guid, UINTN token) {
  const std::vector<UINT8> *bytes = Lookup(guid, token);
  UINT64 value = 0;
  if (bytes != nullptr) {
    for (size_t i = 0; i < bytes->size() && i < 8; i++) {
      value |= UINT64((*bytes)[i]) << (8 * i);
    }
  }
  return value;
}

VOID EFIAPI SetSku(UINTN) {}
UINT8 EFIAPI Get8(CONST EFI_GUID *Guid, UINTN Token) {
  return static_cast<UINT8>(Value(Guid, Token));
}
UINT16 EFIAPI Get16(CONST EFI_GUID *Guid, UINTN Token) {
  return static_cast<UINT16>(Value(Guid, Token));
}
UINT32 EFIAPI Get32(CONST EFI_GUID *Guid, UINTN Token) {
  return static_cast<UINT32>(Value(Guid, Token));
}
UINT64 EFIAPI Get64(CONST EFI_GUID *Guid, UINTN Token) {
  return Value(Guid, Token);
}
BOOLEAN EFIAPI GetBool(CONST EFI_GUID *Guid, UINTN Token) {
  return Value(Guid, Token) != 0 ? TRUE : FALSE;
}

VOID *EFIAPI GetPtr(CONST EFI_GUID *Guid, UINTN Token) {
  const std::vector<UINT8> *bytes = Lookup(Guid, Token);
  return bytes == nullptr || bytes->empty() ? nullptr : const_cast<UINT8 *>(bytes->data());
}

UINTN EFIAPI GetSize(CONST EFI_GUID *Guid, UINTN Token) {
  const std::vector<UINT8> *bytes = Lookup(Guid, Token);
  return bytes == nullptr ? 0 : bytes->size();
}

EFI_PCD_PROTOCOL gPcd = {SetSku,  Get8,    Get16,   Get32,   Get64,   GetPtr,
                         GetBool, GetSize, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

void Firmware::InstallPcd() {
  state_->InstallOnNewHandle(gEfiPcdProtocolGuid, &gPcd);
}

size_t Firmware::PcdMisses() const {
  return state_->pcdMisses;
}

} // namespace host
