// Providers whose values a test controls, and a booted driver to register
// them with.
#ifndef ZELM_TESTS_SETTINGS_SETTINGS_TEST_SUPPORT_H_
#define ZELM_TESTS_SETTINGS_SETTINGS_TEST_SUPPORT_H_

#include <map>
#include <string>
#include <vector>

#include "tests/driver/DriverTestSupport.h"

namespace settingstest {

// What a fake provider answers, per identifier.
struct FakeValue {
  std::vector<UINT8> bytes{0};
  EFI_STATUS getStatus = EFI_SUCCESS;
  EFI_STATUS setStatus = EFI_SUCCESS; // returned by Set, which then changes nothing
  UINT64 setFlags = 0;                // ORed into the flags of every Set
  int setDefaultCalls = 0;
};

std::map<std::string, FakeValue> &FakeValues();

EFI_STATUS EFIAPI FakeSet(const ZELM_SETTING_PROVIDER *This, UINTN ValueSize, const VOID *Value,
                          UINT64 *Flags);
EFI_STATUS EFIAPI FakeGet(const ZELM_SETTING_PROVIDER *This, UINTN *ValueSize, VOID *Value);
EFI_STATUS EFIAPI FakeSetDefault(const ZELM_SETTING_PROVIDER *This);

// A provider record served by the fake functions.
inline ZELM_SETTING_PROVIDER FakeProvider(const CHAR8 *id, UINT32 type = ZELM_SETTING_TYPE_ENABLE,
                                          UINT64 flags = 0) {
  return ZELM_SETTING_PROVIDER{id, type, flags, FakeSet, FakeGet, FakeGet, FakeSetDefault};
}

class SettingsTest : public drivertest::DriverTest {
protected:
  void SetUp() override {
    FakeValues().clear();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    support = Support();
    access = StartAccess();
    ASSERT_NE(support, nullptr);
    ASSERT_NE(access, nullptr);
  }
  EFI_STATUS Register(const ZELM_SETTING_PROVIDER &provider) {
    return support->RegisterProvider(support, &provider);
  }
  // Registers an Enable provider under a stable id with the given value.
  void AddEnable(const CHAR8 *id, UINT8 value) {
    FakeValues()[id].bytes = {value};
    ASSERT_EQ(Register(FakeProvider(id)), EFI_SUCCESS);
  }

  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *support = nullptr;
  ZELM_SETTING_ACCESS_PROTOCOL *access = nullptr;
};

} // namespace settingstest

#endif
