#include "efi/harness/TestProvider.h"

namespace {

EFI_STATUS EFIAPI ReadOne(const ZELM_SETTING_PROVIDER *, UINTN *ValueSize, VOID *Value) {
  if (ValueSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*ValueSize < 1 || Value == nullptr) {
    *ValueSize = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  *static_cast<UINT8 *>(Value) = HARNESS_TEST_SETTING_VALUE;
  *ValueSize = 1;
  return EFI_SUCCESS;
}

// The value is fixed: a write of the same value is reported as unchanged,
// any other is refused.
EFI_STATUS EFIAPI WriteOne(const ZELM_SETTING_PROVIDER *, UINTN ValueSize, const VOID *Value,
                           UINT64 *Flags) {
  if (ValueSize != 1 || Value == nullptr || Flags == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*static_cast<const UINT8 *>(Value) != HARNESS_TEST_SETTING_VALUE) {
    return EFI_WRITE_PROTECTED;
  }
  *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ResetNothing(const ZELM_SETTING_PROVIDER *) {
  return EFI_SUCCESS;
}

constexpr ZELM_SETTING_PROVIDER testProvider = {
    HARNESS_TEST_SETTING_ID, ZELM_SETTING_TYPE_ENABLE, 0, WriteOne, ReadOne, ReadOne, ResetNothing,
};

} // namespace

const ZELM_SETTING_PROVIDER *HarnessTestProvider(VOID) {
  return &testProvider;
}

ZELM_SETTING_PROVIDER HarnessProviderWithId(const CHAR8 *Id) {
  ZELM_SETTING_PROVIDER provider = testProvider;
  provider.Id = Id;
  return provider;
}
