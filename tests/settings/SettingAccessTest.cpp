// The settings access protocol: Get's size protocol and argument checks,
// group values, and Set/ResetToDefaults before the permission store exists.
#include <zelm/ZelmGuids.h>

#include <string>

#include "tests/settings/SettingsTestSupport.h"

namespace {

using settingstest::FakeProvider;
using settingstest::FakeValues;
using settingstest::SettingsTest;

class SettingAccessTest : public SettingsTest {
protected:
  EFI_STATUS Get(const CHAR8 *id, UINT32 type, UINTN *size, VOID *value, UINT64 *flags = nullptr,
                 ZELM_AUTH_TOKEN *token = nullptr) {
    return access->Get(access, id, token, type, size, value, flags);
  }
};

TEST_F(SettingAccessTest, GetFollowsTheSizeProtocol) {
  FakeValues()["Test.String"].bytes = {'a', 'b', 'c', 0};
  ASSERT_EQ(Register(FakeProvider("Test.String", ZELM_SETTING_TYPE_STRING, 0x0001000000000001ull)),
            EFI_SUCCESS);
  const std::string k97(97, 'x');
  struct Row {
    const char *name;
    const CHAR8 *id;
    UINT32 type;
    UINTN size;
    bool buffer;
    EFI_STATUS status;
    UINTN sizeAfter;
  };
  const Row rows[] = {
      {"size query", "Test.String", ZELM_SETTING_TYPE_STRING, 0, false, EFI_BUFFER_TOO_SMALL, 4},
      {"too small", "Test.String", ZELM_SETTING_TYPE_STRING, 3, true, EFI_BUFFER_TOO_SMALL, 4},
      {"exact", "Test.String", ZELM_SETTING_TYPE_STRING, 4, true, EFI_SUCCESS, 4},
      {"larger", "Test.String", ZELM_SETTING_TYPE_STRING, 64, true, EFI_SUCCESS, 4},
      {"NULL value with a size", "Test.String", ZELM_SETTING_TYPE_STRING, 4, false,
       EFI_INVALID_PARAMETER, 4},
      {"wrong type", "Test.String", ZELM_SETTING_TYPE_BINARY, 4, true, EFI_INVALID_PARAMETER, 4},
      {"unknown id", "Test.Unknown", ZELM_SETTING_TYPE_STRING, 4, true, EFI_NOT_FOUND, 4},
      {"leading digit", "9Test", ZELM_SETTING_TYPE_STRING, 4, true, EFI_NOT_FOUND, 4},
      {"NULL id", nullptr, ZELM_SETTING_TYPE_STRING, 4, true, EFI_INVALID_PARAMETER, 4},
      {"97-character id", k97.c_str(), ZELM_SETTING_TYPE_STRING, 4, true, EFI_INVALID_PARAMETER, 4},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    UINT8 buffer[64] = {};
    UINTN size = row.size;
    UINT64 flags = 0xDEAD;
    EXPECT_EQ(Get(row.id, row.type, &size, row.buffer ? buffer : nullptr, &flags), row.status);
    EXPECT_EQ(size, row.sizeAfter);
    if (row.status == EFI_SUCCESS) {
      EXPECT_STREQ(reinterpret_cast<char *>(buffer), "abc");
      // The provider's flags; not writable before the permission store exists.
      EXPECT_EQ(flags, 0x0001000000000001ull);
    }
  }
  UINT8 byte = 0;
  EXPECT_EQ(Get("Test.String", ZELM_SETTING_TYPE_STRING, nullptr, &byte), EFI_INVALID_PARAMETER);
  UINTN size = 1;
  ZELM_SETTING_ACCESS_PROTOCOL foreign = *access;
  EXPECT_EQ(access->Get(&foreign, "Test.String", nullptr, ZELM_SETTING_TYPE_STRING, &size, &byte,
                        nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(
      access->Get(nullptr, "Test.String", nullptr, ZELM_SETTING_TYPE_STRING, &size, &byte, nullptr),
      EFI_INVALID_PARAMETER);
}

TEST_F(SettingAccessTest, GroupValuesCombineTheirMembers) {
  struct Row {
    const char *name;
    std::vector<int> cameras; // -1: member fails with EFI_DEVICE_ERROR, -2: with BUFFER_TOO_SMALL,
                              // -3: with EFI_OUT_OF_RESOURCES
    EFI_STATUS status;
    UINT8 value;
  };
  const Row rows[] = {
      {"one member enabled", {1}, EFI_SUCCESS, 1},
      {"all disabled", {0, 0, 0}, EFI_SUCCESS, 0},
      {"members differ", {1, 0, 1}, EFI_SUCCESS, 2},
      {"failing member", {1, -1, 1}, EFI_DEVICE_ERROR, 0xEE},
      {"difference stops the walk before a failure", {1, 0, -1}, EFI_SUCCESS, 2},
      {"member too small", {-2, 1}, EFI_BUFFER_TOO_SMALL, 0xEE},
      // A member unread for want of pool leaves the value unknown, whatever
      // the other members give.
      {"member out of pool", {1, -3, 1}, EFI_OUT_OF_RESOURCES, 0xEE},
      {"out of pool before a failure", {-3, -1}, EFI_OUT_OF_RESOURCES, 0xEE},
      {"failure before out of pool", {-1, -3, 1}, EFI_OUT_OF_RESOURCES, 0xEE},
  };
  const char *ids[] = {"Device.FrontCamera.Enable", "Device.RearCamera.Enable",
                       "Device.IRCamera.Enable"};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reboot();
    SetUp();
    for (size_t i = 0; i < row.cameras.size(); i++) {
      AddEnable(ids[i], row.cameras[i] < 0 ? 0 : UINT8(row.cameras[i]));
      if (row.cameras[i] == -1) {
        FakeValues()[ids[i]].getStatus = EFI_DEVICE_ERROR;
      } else if (row.cameras[i] == -2) {
        FakeValues()[ids[i]].bytes = {1, 1};
      } else if (row.cameras[i] == -3) {
        FakeValues()[ids[i]].getStatus = EFI_OUT_OF_RESOURCES;
      }
    }
    UINT8 value = 0xEE;
    UINTN size = 4;
    EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, &value),
              row.status);
    EXPECT_EQ(value, row.value);
    if (row.status != EFI_DEVICE_ERROR && row.status != EFI_OUT_OF_RESOURCES) {
      EXPECT_EQ(size, 1u);
    }
  }
}

// A member whose Get asks for its own group's value while that value is
// being combined gets EFI_UNSUPPORTED, not a second walk of the group.
ZELM_SETTING_ACCESS_PROTOCOL *reentryAccess = nullptr;
EFI_STATUS reentryStatus = EFI_SUCCESS;
EFI_STATUS EFIAPI ReenteringGet(const ZELM_SETTING_PROVIDER *, UINTN *size, VOID *value) {
  UINT8 inner = 0xEE;
  UINTN innerSize = 1;
  reentryStatus = reentryAccess->Get(reentryAccess, "Zelm.OnboardCameras.Enable", nullptr,
                                     ZELM_SETTING_TYPE_ENABLE, &innerSize, &inner, nullptr);
  *size = 1;
  *static_cast<UINT8 *>(value) = 1;
  return EFI_SUCCESS;
}

TEST_F(SettingAccessTest, GroupGetFromInsideAMemberIsRefused) {
  ZELM_SETTING_PROVIDER member = FakeProvider("Device.FrontCamera.Enable");
  member.GetSettingValue = ReenteringGet;
  ASSERT_EQ(Register(member), EFI_SUCCESS);
  reentryAccess = access;
  reentryStatus = EFI_SUCCESS;
  UINT8 value = 0xEE;
  UINTN size = 1;
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, &value),
            EFI_SUCCESS);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(reentryStatus, EFI_UNSUPPORTED);
  // The guard is down again once the walk is over.
  value = 0xEE;
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, &value),
            EFI_SUCCESS);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(reentryStatus, EFI_UNSUPPORTED);
}

TEST_F(SettingAccessTest, GroupGetRefusals) {
  UINT8 value = 0xEE;
  UINTN size = 1;
  // A group that has no member yet does not exist.
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, &value),
            EFI_NOT_FOUND);
  AddEnable("Device.FrontCamera.Enable", 1);
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, &value),
            EFI_SUCCESS);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", 1, &size, &value), EFI_UNSUPPORTED);
  size = 0;
  EXPECT_EQ(Get("Zelm.OnboardCameras.Enable", ZELM_SETTING_TYPE_ENABLE, &size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 1u);
}

TEST_F(SettingAccessTest, PasswordSettingReportsNoPasswordAndRefusesChanges) {
  UINT8 value = 0xEE;
  UINTN size = 1;
  UINT64 flags = 0;
  EXPECT_EQ(Get("Device.Password.Password", ZELM_SETTING_TYPE_PASSWORD, &size, &value, &flags),
            EFI_SUCCESS);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(flags, 1u);
  size = 0;
  // The password provider wants a buffer even for the size query.
  EXPECT_EQ(Get("Device.Password.Password", ZELM_SETTING_TYPE_PASSWORD, &size, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Get("Device.Password.Password", ZELM_SETTING_TYPE_PASSWORD, &size, &value),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 1u);
}

TEST_F(SettingAccessTest, ChangesWaitForThePermissionStore) {
  AddEnable("Device.FrontCamera.Enable", 1);
  platform.PutVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid, 7, std::string("<x/>"));
  ZELM_AUTH_TOKEN token = 5;
  UINT8 value = 0;
  UINT64 flags = 0;
  struct Row {
    const char *id;
    EFI_STATUS status;
  };
  const Row rows[] = {{"Device.FrontCamera.Enable", EFI_NOT_READY},
                      {"Zelm.OnboardCameras.Enable", EFI_NOT_READY},
                      {"Test.Unknown", EFI_NOT_FOUND}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.id);
    EXPECT_EQ(access->Set(access, row.id, &token, ZELM_SETTING_TYPE_ENABLE, 1, &value, &flags),
              row.status);
  }
  EXPECT_EQ(access->Set(access, "Device.FrontCamera.Enable", nullptr, 0, 1, &value, &flags),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(access->Set(access, "Device.FrontCamera.Enable", &token, 0, 1, nullptr, &flags),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(access->Set(access, "Device.FrontCamera.Enable", &token, 0, 1, &value, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(access->ResetToDefaults(access, &token), EFI_NOT_READY);
  EXPECT_EQ(access->ResetToDefaults(access, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FakeValues()["Device.FrontCamera.Enable"].bytes, std::vector<UINT8>{1});
  EXPECT_NE(platform.FindVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid), nullptr);
}

TEST_F(SettingAccessTest, PermissionProtocolAnswersNotReadyBeforeTheStore) {
  auto *permission = Find<ZELM_SETTING_PERMISSION_PROTOCOL>(gZelmSettingPermissionProtocolGuid);
  ASSERT_NE(permission, nullptr);
  UINT8 mask = 0;
  ZELM_AUTH_TOKEN token = 1;
  EXPECT_EQ(permission->GetPermission(permission, "Device.USBBoot.Enable", &mask), EFI_NOT_READY);
  EXPECT_EQ(permission->GetPermission(permission, "Device.USBBoot.Enable", nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->GetPermission(nullptr, "Device.USBBoot.Enable", &mask),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->ResetPermissions(permission, &token), EFI_NOT_READY);
  EXPECT_EQ(permission->ResetPermissions(permission, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->IdentityChange(permission, &token, 0x80, 0), EFI_SUCCESS);
  EXPECT_EQ(permission->IdentityChange(permission, &token, 0x80, 1), EFI_NOT_READY);
  EXPECT_EQ(permission->IdentityChange(permission, nullptr, 0x80, 1), EFI_INVALID_PARAMETER);
}

} // namespace
