// The setting-permission protocol, the recovery check, and the permission
// side of the settings access protocol.
#include <zelm/ZelmGuids.h>

#include "permissions/PermissionCheck.h"
#include "tests/permissions/IdentityTestSupport.h"

namespace {

using identitytest::IdentityTest;
using permissionstest::DefaultEntries;
using permissionstest::EntriesOf;
using permissionstest::Entry;
using settingstest::FakeProvider;
using settingstest::FakeValues;

class PermissionProtocolTest : public IdentityTest {
protected:
  void SetUp() override {
    IdentityTest::SetUp();
    Boot(/*ownerEnrolled=*/false);
    store = CurrentPermissionStore();
    ASSERT_NE(store, nullptr);
  }
  PermissionStore *store = nullptr;
};

TEST_F(PermissionProtocolTest, RecoveryPassesThroughTheFirstIdThatAllows) {
  struct Row {
    const char *name;
    UINT8 defaultPMask;
    UINT32 identity;
    bool allowed;
  };
  const Row rows[] = {
      {"local, through the owner key", 0x01, 0x01, true},
      {"owner only fails all three", 0x01, 0x80, false},
      {"0x02 through the recovery default", 0x02, 0x02, true},
      {"0x02 without it in the defaults", 0x01, 0x02, false},
      {"zero-touch without its recovery right", 0x01, 0x08, true}, // owner key holds 0x09
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    store->DefaultPMask = row.defaultPMask;
    ZELM_AUTH_TOKEN token = Token(row.identity);
    BOOLEAN allowed = 2;
    EXPECT_EQ(HasRecoveryPermission(&token, &allowed), EFI_SUCCESS);
    EXPECT_EQ(bool(allowed), row.allowed);
  }
  ZELM_AUTH_TOKEN released = 12345;
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(HasRecoveryPermission(&released, &allowed), EFI_INVALID_PARAMETER);
  EXPECT_FALSE(allowed);
  EXPECT_EQ(HasRecoveryPermission(nullptr, &allowed), EFI_INVALID_PARAMETER);
}

// A NULL argument is refused before anything is read or written through it.
TEST_F(PermissionProtocolTest, PermissionQuestionsRefuseNullArguments) {
  ZELM_AUTH_TOKEN token = Token(0x01);
  BOOLEAN allowed = 2;
  EXPECT_EQ(HasPermission(nullptr, &token, &allowed), EFI_INVALID_PARAMETER);
  EXPECT_EQ(allowed, 2);
  EXPECT_EQ(HasPermission("Device.Anything", nullptr, &allowed), EFI_INVALID_PARAMETER);
  EXPECT_EQ(allowed, 2);
  EXPECT_EQ(HasPermission("Device.Anything", &token, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(HasRecoveryPermission(&token, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(HasRecoveryPermission(nullptr, nullptr), EFI_INVALID_PARAMETER);
  // The same token is still answered.
  EXPECT_EQ(HasPermission("Device.Anything", &token, &allowed), EFI_SUCCESS);
  EXPECT_TRUE(allowed);
}

TEST_F(PermissionProtocolTest, ResetNeedsRecoveryRightsAndRestoresTheDefaults) {
  ASSERT_EQ(SetPermissionEntry(store, "Device.Extra", 0x10, 0x80), EFI_SUCCESS);
  store->DefaultPMask = 0x41;
  ZELM_AUTH_TOKEN owner = Token(0x80);
  EXPECT_EQ(permission->ResetPermissions(permission, &owner), EFI_ACCESS_DENIED);
  EXPECT_EQ(CurrentPermissionStore(), store);
  EXPECT_EQ(EntriesOf(store).size(), 5u);

  platform.PutVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid, 7, "stale");
  ZELM_AUTH_TOKEN local = Token(0x01);
  EXPECT_EQ(permission->ResetPermissions(permission, &local), EFI_SUCCESS);
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
  EXPECT_EQ(CurrentPermissionStore()->DefaultPMask, 0x01);
  EXPECT_EQ(Spp().size(), 146u);
  EXPECT_NE(PublishedPermissions(), std::vector<UINT8>({'s', 't', 'a', 'l', 'e'}));
  EXPECT_EQ(permission->ResetPermissions(nullptr, &local), EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->ResetPermissions(permission, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(PermissionProtocolTest, ResetWithoutPoolLeavesNoStoreRatherThanAPartialOne) {
  ZELM_AUTH_TOKEN local = Token(0x01);
  firmware->BootPool().FailNth(1);
  EXPECT_EQ(permission->ResetPermissions(permission, &local), EFI_ABORTED);
  firmware->BootPool().ClearFaults();
  EXPECT_EQ(CurrentPermissionStore(), nullptr);
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(HasPermission("Device.Anything", &local, &allowed), EFI_NOT_READY);
  EXPECT_FALSE(allowed);
  UINT8 mask = 0;
  EXPECT_EQ(permission->GetPermission(permission, "Device.Anything", &mask), EFI_NOT_READY);
}

TEST_F(PermissionProtocolTest, GetPermissionAnswersTheEntryOrTheDefault) {
  UINT8 mask = 0;
  EXPECT_EQ(permission->GetPermission(permission, "Zelm.OwnerKey.Enum", &mask), EFI_SUCCESS);
  EXPECT_EQ(mask, 0x09);
  EXPECT_EQ(permission->GetPermission(permission, "Device.Unknown", &mask), EFI_SUCCESS);
  EXPECT_EQ(mask, 0x01);
  EXPECT_EQ(permission->GetPermission(permission, nullptr, &mask), EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->GetPermission(nullptr, "Device.Unknown", &mask), EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->GetPermission(permission, "Device.Unknown", nullptr),
            EFI_INVALID_PARAMETER);
}

struct ChangeRow {
  const char *name;
  UINT32 tokenIdentity;
  UINT32 identity;
  UINT8 flag;
  EFI_STATUS status;
  std::vector<Entry> entries;
};

TEST_F(PermissionProtocolTest, IdentityChangeAdjustsOnlyTheIdentitySettings) {
  const std::vector<Entry> defaults = DefaultEntries();
  std::vector<Entry> ownerChanged = defaults;
  ownerChanged[1] = {"Zelm.ZtdKey.Enum", 0, 0};
  std::vector<Entry> ztdChanged = defaults;
  ztdChanged[2] = {"Zelm.ZtdUnenroll.Enable", 0x08, 0};
  ztdChanged[3] = {"Zelm.Ztd.Recovery.Enable", 0x08, 0};
  ztdChanged.push_back({"Zelm.Recovery.Enable", 0, 0});
  std::vector<Entry> both = ztdChanged;
  both[1] = {"Zelm.ZtdKey.Enum", 0, 0};
  const ChangeRow rows[] = {
      {"flag 0 changes nothing, even for the owner", 0x80, 0x80, 0, EFI_SUCCESS, defaults},
      {"the owner's key revokes the zero-touch key", 0x01, 0x80, 1, EFI_SUCCESS, ownerChanged},
      {"exactly zero-touch gains its recovery rights", 0x08, 0x08, 1, EFI_SUCCESS, ztdChanged},
      {"zero-touch with local does not", 0x09, 0x08, 1, EFI_SUCCESS, defaults},
      {"zero-touch reporting the owner", 0x08, 0x80, 1, EFI_SUCCESS, both},
      {"zero-touch in the high bits does not count", 0x108, 0x08, 1, EFI_SUCCESS, defaults},
  };
  for (const ChangeRow &row : rows) {
    SCOPED_TRACE(row.name);
    Boot(/*ownerEnrolled=*/false);
    ZELM_AUTH_TOKEN token = Token(row.tokenIdentity);
    CurrentPermissionStore()->Dirty = FALSE;
    EXPECT_EQ(permission->IdentityChange(permission, &token, row.identity, row.flag), row.status);
    EXPECT_EQ(EntriesOf(CurrentPermissionStore()), row.entries);
    EXPECT_FALSE(CurrentPermissionStore()->Dirty); // reaches "_SPP" with the next whole save
  }
}

TEST_F(PermissionProtocolTest, IdentityChangeReportsWhatDidNotHappen) {
  ZELM_AUTH_TOKEN ztd = Token(0x08);
  ZELM_AUTH_TOKEN unknown = 999999;
  EXPECT_EQ(permission->IdentityChange(permission, &unknown, 0x80, 1), EFI_ACCESS_DENIED);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
  EXPECT_EQ(permission->IdentityChange(nullptr, &ztd, 0x80, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(permission->IdentityChange(permission, nullptr, 0x80, 1), EFI_INVALID_PARAMETER);

  // "Zelm.Recovery.Enable" has no entry yet: adding it needs pool.
  firmware->BootPool().FailNth(1);
  EXPECT_EQ(permission->IdentityChange(permission, &ztd, 0x08, 1), EFI_ABORTED);
  firmware->BootPool().ClearFaults();
  EXPECT_EQ(FindPermissionEntry(CurrentPermissionStore(), "Zelm.Recovery.Enable"), nullptr);

  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
  EXPECT_EQ(permission->IdentityChange(permission, &ztd, 0x80, 1), EFI_NOT_READY);
  EXPECT_EQ(permission->IdentityChange(permission, &ztd, 0x80, 0), EFI_SUCCESS);
}

TEST_F(PermissionProtocolTest, SetAndGetFollowTheCallersRights) {
  FakeValues()["Device.Guarded.Enable"].bytes = {0};
  ASSERT_EQ(Register(FakeProvider("Device.Guarded.Enable")), EFI_SUCCESS);
  ASSERT_EQ(SetPermissionEntry(store, "Device.Guarded.Enable", 0x10, 0x80), EFI_SUCCESS);
  struct Row {
    UINT32 identity;
    EFI_STATUS set;
    bool writable;
  };
  const Row rows[] = {{0x10, EFI_SUCCESS, true},
                      {0x11, EFI_SUCCESS, true},
                      {0x01, EFI_ACCESS_DENIED, false},
                      {0x80, EFI_ACCESS_DENIED, false},
                      {0x00, EFI_ACCESS_DENIED, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.identity);
    ZELM_AUTH_TOKEN token = Token(row.identity);
    FakeValues()["Device.Guarded.Enable"].bytes = {0};
    UINT8 value = 1;
    UINT64 flags = 0;
    EXPECT_EQ(access->Set(access, "Device.Guarded.Enable", &token, ZELM_SETTING_TYPE_ENABLE, 1,
                          &value, &flags),
              row.set);
    EXPECT_EQ(FakeValues()["Device.Guarded.Enable"].bytes[0], row.set == EFI_SUCCESS ? 1 : 0);
    UINTN size = 1;
    flags = 0;
    EXPECT_EQ(access->Get(access, "Device.Guarded.Enable", &token, ZELM_SETTING_TYPE_ENABLE, &size,
                          &value, &flags),
              EFI_SUCCESS);
    EXPECT_EQ((flags & ZELM_SETTING_FLAG_WRITABLE) != 0, row.writable);
  }
  // A token the component does not know is refused and reported unwritable.
  ZELM_AUTH_TOKEN unknown = 424242;
  UINT8 value = 1;
  UINT64 flags = 0;
  EXPECT_EQ(access->Set(access, "Device.Guarded.Enable", &unknown, ZELM_SETTING_TYPE_ENABLE, 1,
                        &value, &flags),
            EFI_INVALID_PARAMETER);
  UINTN size = 1;
  EXPECT_EQ(access->Get(access, "Device.Guarded.Enable", &unknown, ZELM_SETTING_TYPE_ENABLE, &size,
                        &value, &flags),
            EFI_SUCCESS);
  EXPECT_EQ(flags & ZELM_SETTING_FLAG_WRITABLE, 0u);
}

// The decision is made under the registered provider's own id, so a longer
// caller text can never reach a provider while missing its entry.
TEST_F(PermissionProtocolTest, PermissionIsLookedUpUnderTheProvidersOwnId) {
  static const std::string id96(96, 'P');
  std::string id97 = id96 + "Q";
  FakeValues()[id96].bytes = {0};
  ASSERT_EQ(Register(FakeProvider(id96.c_str())), EFI_SUCCESS);
  ASSERT_EQ(SetPermissionEntry(store, id96.c_str(), 0x00, 0x80), EFI_SUCCESS);
  ZELM_AUTH_TOKEN local = Token(0x01);
  UINT8 value = 1;
  UINT64 flags = 0;
  EXPECT_EQ(access->Set(access, id96.c_str(), &local, ZELM_SETTING_TYPE_ENABLE, 1, &value, &flags),
            EFI_ACCESS_DENIED);
  EXPECT_EQ(access->Set(access, id97.c_str(), &local, ZELM_SETTING_TYPE_ENABLE, 1, &value, &flags),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(FakeValues()[id96].bytes[0], 0);
}

TEST_F(PermissionProtocolTest, GroupEntryDecidesForItsMembers) {
  FakeValues()["Device.FrontCamera.Enable"].bytes = {0};
  ASSERT_EQ(Register(FakeProvider("Device.FrontCamera.Enable")), EFI_SUCCESS);
  ZELM_AUTH_TOKEN local = Token(0x01);
  ZELM_AUTH_TOKEN delegate = Token(0x20);
  UINT8 value = 1;
  UINT64 flags = 0;
  // The member's own entry allows local; the group's entry does not.
  ASSERT_EQ(SetPermissionEntry(store, "Device.FrontCamera.Enable", 0x01, 0x80), EFI_SUCCESS);
  ASSERT_EQ(SetPermissionEntry(store, "Zelm.OnboardCameras.Enable", 0x20, 0x80), EFI_SUCCESS);
  EXPECT_EQ(access->Set(access, "Device.FrontCamera.Enable", &local, 0, 1, &value, &flags),
            EFI_ACCESS_DENIED);
  EXPECT_EQ(access->Set(access, "Zelm.OnboardCameras.Enable", &local, 0, 1, &value, &flags),
            EFI_ACCESS_DENIED);
  EXPECT_EQ(FakeValues()["Device.FrontCamera.Enable"].bytes[0], 0);
  // Through the group the delegate reaches the member its own entry refuses.
  EXPECT_EQ(access->Set(access, "Zelm.OnboardCameras.Enable", &delegate, 0, 1, &value, &flags),
            EFI_SUCCESS);
  EXPECT_EQ(FakeValues()["Device.FrontCamera.Enable"].bytes[0], 1);
}

TEST_F(PermissionProtocolTest, ResetToDefaultsAsksForRecoveryRights) {
  FakeValues()["Device.Resettable"].bytes = {1};
  ASSERT_EQ(Register(FakeProvider("Device.Resettable", ZELM_SETTING_TYPE_ENABLE,
                                  ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS)),
            EFI_SUCCESS);
  ZELM_AUTH_TOKEN owner = Token(0x80);
  ZELM_AUTH_TOKEN local = Token(0x01);
  EXPECT_EQ(access->ResetToDefaults(access, &owner), EFI_ACCESS_DENIED);
  EXPECT_EQ(FakeValues()["Device.Resettable"].setDefaultCalls, 0);
  EXPECT_EQ(access->ResetToDefaults(access, &local), EFI_SUCCESS);
  EXPECT_EQ(FakeValues()["Device.Resettable"].setDefaultCalls, 1);
}

} // namespace
