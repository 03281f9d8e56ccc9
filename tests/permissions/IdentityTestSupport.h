// A booted driver with the authentication component of the firmware
// double, so permission questions get real answers.
#ifndef ZELM_TESTS_PERMISSIONS_IDENTITY_TEST_SUPPORT_H_
#define ZELM_TESTS_PERMISSIONS_IDENTITY_TEST_SUPPORT_H_

#include "host/Authentication.h"
#include "permissions/PermissionStore.h"
#include "tests/permissions/PermissionsTestSupport.h"
#include "tests/settings/SettingsTestSupport.h"

namespace identitytest {

class IdentityTest : public drivertest::DriverTest {
protected:
  void SetUp() override {
    settingstest::FakeValues().clear();
    platform.SetClock(2026, 12, 9, 10, 20, 30);
  }

  // Starts a fresh boot on the same platform: the owner enrolled or not,
  // the authentication component installed before the driver starts (or,
  // with authLate, not at all until InstallAuthentication), the access
  // protocol started.
  void Boot(bool ownerEnrolled, bool authLate = false) {
    Reboot();
    if (ownerEnrolled) {
      platform.authentication.Enrol(ZELM_IDENTITY_OWNER);
    } else {
      platform.authentication.Unenrol(ZELM_IDENTITY_OWNER);
    }
    if (!authLate) {
      auth = &firmware->InstallAuthentication();
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    support = Support();
    access = StartAccess();
    ASSERT_NE(access, nullptr);
    permission = Find<ZELM_SETTING_PERMISSION_PROTOCOL>(gZelmSettingPermissionProtocolGuid);
  }
  void InstallAuthentication() { auth = &firmware->InstallAuthentication(); }

  ZELM_AUTH_TOKEN Token(UINT32 identityMask) { return auth->IssueToken(identityMask); }
  EFI_STATUS Register(const ZELM_SETTING_PROVIDER &provider) {
    return support->RegisterProvider(support, &provider);
  }
  std::vector<UINT8> Spp() const {
    return permissionstest::VariableBytes(platform, u"_SPP", gZelmSettingsManagerVariableGuid);
  }
  std::vector<UINT8> PublishedPermissions() const {
    return permissionstest::VariableBytes(platform, u"ZelmPermissionCurrent",
                                          gZelmPermissionVariableGuid);
  }

  host::Authentication *auth = nullptr;
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *support = nullptr;
  ZELM_SETTING_ACCESS_PROTOCOL *access = nullptr;
  ZELM_SETTING_PERMISSION_PROTOCOL *permission = nullptr;
};

} // namespace identitytest

#endif
