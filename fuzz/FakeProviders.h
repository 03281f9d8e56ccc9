// Setting providers that keep their values in memory, for the fuzz targets
// that apply settings packets: a value set again is reported unchanged.
#ifndef ZELM_FUZZ_FAKE_PROVIDERS_H_
#define ZELM_FUZZ_FAKE_PROVIDERS_H_

#include <zelm/ZelmSettingProvider.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace fuzz {

// Every fake provider's value, by setting id.
inline std::map<std::string, std::vector<UINT8>> &Values() {
  static auto *values = new std::map<std::string, std::vector<UINT8>>;
  return *values;
}

inline EFI_STATUS EFIAPI FakeSet(const ZELM_SETTING_PROVIDER *This, UINTN Size, const VOID *Value,
                                 UINT64 *Flags) {
  std::vector<UINT8> bytes(static_cast<const UINT8 *>(Value),
                           static_cast<const UINT8 *>(Value) + Size);
  if (Values()[This->Id] == bytes) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
  }
  Values()[This->Id] = bytes;
  return EFI_SUCCESS;
}

inline EFI_STATUS EFIAPI FakeGet(const ZELM_SETTING_PROVIDER *This, UINTN *Size, VOID *Value) {
  const std::vector<UINT8> &bytes = Values()[This->Id];
  if (*Size < bytes.size()) {
    *Size = bytes.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  *Size = bytes.size();
  memcpy(Value, bytes.data(), bytes.size());
  return EFI_SUCCESS;
}

inline EFI_STATUS EFIAPI FakeSetDefault(const ZELM_SETTING_PROVIDER *) {
  return EFI_SUCCESS;
}

} // namespace fuzz

#endif
