// Pieces every provider family shares: the argument rule of Get and
// GetDefault, the one-byte answer, and SetDefault through the family's own
// GetDefault and Set.
#ifndef ZELM_PROVIDERS_PROVIDER_VALUE_H_
#define ZELM_PROVIDERS_PROVIDER_VALUE_H_

#include <zelm/ZelmSettingProvider.h>

// Provider, its id and the size present; a buffer unless the size is 0.
inline BOOLEAN ValueReadArgumentsValid(const ZELM_SETTING_PROVIDER *Provider,
                                       const UINTN *ValueSize, const VOID *Value) {
  return Provider != nullptr && Provider->Id != nullptr && ValueSize != nullptr &&
         (Value != nullptr || *ValueSize == 0);
}

// A one-byte value: EFI_BUFFER_TOO_SMALL (size set to 1) for a size of 0,
// else the byte with size 1.
inline EFI_STATUS ReturnOneByte(UINTN *ValueSize, VOID *Value, UINT8 Byte) {
  const UINTN asked = *ValueSize;
  *ValueSize = 1;
  if (asked == 0) {
    return EFI_BUFFER_TOO_SMALL;
  }
  *static_cast<UINT8 *>(Value) = Byte;
  return EFI_SUCCESS;
}

// Reads the default with the record's GetDefaultValue (at most 8 bytes)
// and stores it with its SetSettingValue; the flags are dropped.
// EFI_INVALID_PARAMETER (no provider); the statuses of both calls.
inline EFI_STATUS SetToDefault(const ZELM_SETTING_PROVIDER *Provider) {
  if (Provider == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 value[8] = {};
  UINTN size = sizeof(value);
  EFI_STATUS status = Provider->GetDefaultValue(Provider, &size, value);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINT64 flags = 0;
  return Provider->SetSettingValue(Provider, size, value, &flags);
}

#endif
