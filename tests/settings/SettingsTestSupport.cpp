#include "tests/settings/SettingsTestSupport.h"

#include <cstring>

namespace settingstest {

std::map<std::string, FakeValue> &FakeValues() {
  static std::map<std::string, FakeValue> values;
  return values;
}

EFI_STATUS EFIAPI FakeSet(const ZELM_SETTING_PROVIDER *This, UINTN ValueSize, const VOID *Value,
                          UINT64 *Flags) {
  FakeValue &v = FakeValues()[This->Id];
  if (EFI_ERROR(v.setStatus)) {
    return v.setStatus;
  }
  *Flags |= v.setFlags;
  const auto *bytes = static_cast<const UINT8 *>(Value);
  if (v.bytes == std::vector<UINT8>(bytes, bytes + ValueSize)) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
  }
  v.bytes.assign(bytes, bytes + ValueSize);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeGet(const ZELM_SETTING_PROVIDER *This, UINTN *ValueSize, VOID *Value) {
  FakeValue &v = FakeValues()[This->Id];
  if (EFI_ERROR(v.getStatus)) {
    return v.getStatus;
  }
  if (*ValueSize < v.bytes.size()) {
    *ValueSize = v.bytes.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  *ValueSize = v.bytes.size();
  if (!v.bytes.empty()) {
    memcpy(Value, v.bytes.data(), v.bytes.size());
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeSetDefault(const ZELM_SETTING_PROVIDER *This) {
  FakeValues()[This->Id].setDefaultCalls++;
  return EFI_SUCCESS;
}

} // namespace settingstest
