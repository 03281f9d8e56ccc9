// Start-up of the permission store when the authentication component
// appears: the owner's stored permissions are kept, the defaults replace
// only what is missing or invalid, and the published document matches.
#include <zelm/ZelmGuids.h>

#include <cstring>

#include "permissions/CurrentPermissions.h"
#include "permissions/PermissionCheck.h"
#include "tests/permissions/IdentityTestSupport.h"

namespace {

using identitytest::IdentityTest;
using permissionstest::DefaultEntries;
using permissionstest::EntriesOf;
using permissionstest::ImageHeader;
using permissionstest::SppImage;

class PermissionStartupTest : public IdentityTest {
protected:
  // An owner's store: the local identity may change nothing.
  std::vector<UINT8> OwnerImage(UINT8 format = 4) {
    ImageHeader header;
    header.format = format;
    header.version = 7;
    header.lowest = 3;
    header.defaultPMask = 0x80;
    return SppImage(header, {{"Zelm.OwnerKey.Enum", 0x80, 0x80}, {"Device.Owned", 0x80, 0x80}});
  }
  void PutSpp(const std::vector<UINT8> &image, UINT32 attributes = 3) {
    platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, attributes, image);
  }
  // The local identity's answer for an id without an entry.
  EFI_STATUS LocalDecision(BOOLEAN *allowed) {
    ZELM_AUTH_TOKEN token = Token(ZELM_IDENTITY_LOCAL);
    return HasPermission("Device.Anything", &token, allowed);
  }
  size_t SppWrites() const {
    size_t n = 0;
    for (const host::SetVariableCall &call : platform.SetVariableLog()) {
      n += call.name == u"_SPP";
    }
    return n;
  }
  std::string Published() const {
    std::vector<UINT8> bytes = PublishedPermissions();
    return std::string(bytes.begin(), bytes.end());
  }
  // The document the store in memory would publish now.
  std::string Expected() {
    CHAR8 *text = nullptr;
    UINTN size = 0;
    EXPECT_EQ(BuildCurrentPermissionsXml(&text, &size), EFI_SUCCESS);
    std::string out(text, size);
    host::Firmware::Current()->BootServices()->FreePool(text);
    return out;
  }
};

TEST_F(PermissionStartupTest, WithoutAnOwnerTheDefaultsAreSavedAndPublished) {
  PutSpp(OwnerImage());
  Boot(/*ownerEnrolled=*/false);
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
  EXPECT_EQ(Spp().size(), 146u);
  EXPECT_EQ(Published(), Expected());
  BOOLEAN allowed = FALSE;
  EXPECT_EQ(LocalDecision(&allowed), EFI_SUCCESS);
  EXPECT_TRUE(allowed);
}

TEST_F(PermissionStartupTest, OwnersValidStoreIsLoadedWithoutWriting) {
  PutSpp(OwnerImage());
  platform.PutVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid, 7, "earlier");
  platform.ClearSetVariableLog();
  Boot(/*ownerEnrolled=*/true);
  EXPECT_EQ(SppWrites(), 0u);
  EXPECT_EQ(Spp(), OwnerImage());
  EXPECT_EQ(CurrentPermissionStore()->Version, 7u);
  // A document of other permissions (a power cut after a write of "_SPP"
  // leaves one) is replaced by the store's.
  EXPECT_EQ(Published(), Expected());
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(LocalDecision(&allowed), EFI_SUCCESS);
  EXPECT_FALSE(allowed);

  // The next boot finds both current, an hour later: nothing is written.
  platform.SetClock(2026, 12, 9, 11, 20, 30);
  platform.ClearSetVariableLog();
  Boot(/*ownerEnrolled=*/true);
  EXPECT_TRUE(platform.SetVariableLog().empty());
}

TEST_F(PermissionStartupTest, WithoutAnOwnerASteadyBootWritesNothing) {
  Boot(/*ownerEnrolled=*/false);
  const std::vector<UINT8> spp = Spp();
  const std::string published = Published();
  ASSERT_EQ(spp.size(), 146u);
  // A day later: the defaults made afresh differ from the stored ones only
  // in their times.
  platform.SetClock(2026, 12, 10, 8, 0, 0);
  platform.ClearSetVariableLog();
  Boot(/*ownerEnrolled=*/false);
  EXPECT_TRUE(platform.SetVariableLog().empty());
  EXPECT_EQ(Spp(), spp);
  EXPECT_EQ(Published(), published);
  EXPECT_EQ(EntriesOf(CurrentPermissionStore()), DefaultEntries());
  // Memory holds what "_SPP" holds, its creation time included.
  EXPECT_EQ(std::memcmp(&CurrentPermissionStore()->CreatedOn, spp.data() + 13, sizeof(EFI_TIME)),
            0);
}

struct RewriteRow {
  const char *name;
  std::vector<UINT8> image; // empty: no "_SPP"
  UINT32 attributes;
  bool defaults; // replaced by the defaults, else migrated
};

TEST_F(PermissionStartupTest, CreatedOrMigratedStoresArePublishedAfresh) {
  std::vector<UINT8> corrupt = OwnerImage();
  corrupt[0] = 'X';
  const RewriteRow rows[] = {
      {"missing", {}, 3, true},
      {"corrupt", corrupt, 3, true},
      {"other attributes", OwnerImage(), 7, true},
      {"format 3", OwnerImage(3), 3, false},
      {"format 2", OwnerImage(2), 3, false},
  };
  for (const RewriteRow &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
    if (!row.image.empty()) {
      PutSpp(row.image, row.attributes);
    }
    platform.PutVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid, 7, "stale");
    Boot(/*ownerEnrolled=*/true);
    ASSERT_NE(CurrentPermissionStore(), nullptr);
    EXPECT_EQ(Published(), Expected());
    EXPECT_EQ(Spp()[4], 4);
    EXPECT_EQ(platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->attributes, 3u);
    BOOLEAN allowed = FALSE;
    EXPECT_EQ(LocalDecision(&allowed), EFI_SUCCESS);
    EXPECT_EQ(bool(allowed), row.defaults);
  }
}

// Every GetVariable failing in turn with a passing error: the owner's
// "_SPP" is never replaced, and the local identity never gains a right.
TEST_F(PermissionStartupTest, PassingReadFailuresNeverReplaceTheOwnersStore) {
  for (size_t n = 1; n < 30; n++) {
    SCOPED_TRACE(n);
    PutSpp(OwnerImage());
    Reboot();
    platform.authentication.Enrol(ZELM_IDENTITY_OWNER);
    auth = &firmware->InstallAuthentication();
    platform.FailGetVariable(n, EFI_DEVICE_ERROR);
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    platform.FailGetVariable(0, EFI_SUCCESS);
    EXPECT_EQ(Spp(), OwnerImage());
    BOOLEAN allowed = TRUE;
    EFI_STATUS status = LocalDecision(&allowed);
    if (CurrentPermissionStore() == nullptr) {
      EXPECT_EQ(status, EFI_NOT_READY);
    } else {
      EXPECT_EQ(status, EFI_SUCCESS);
      EXPECT_FALSE(allowed);
    }
  }
}

TEST_F(PermissionStartupTest, UnreadableEnrolmentLeavesNoStore) {
  PutSpp(OwnerImage());
  Reboot();
  auth = &firmware->InstallAuthentication();
  auth->enrolledStatus = EFI_DEVICE_ERROR;
  platform.ClearSetVariableLog();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(SppWrites(), 0u);
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(LocalDecision(&allowed), EFI_NOT_READY);
  EXPECT_FALSE(allowed);
}

TEST_F(PermissionStartupTest, AuthenticationComponentMayAppearAfterTheDriver) {
  Boot(/*ownerEnrolled=*/false, /*authLate=*/true);
  EXPECT_EQ(CurrentPermissionStore(), nullptr);
  ZELM_AUTH_TOKEN token = 1;
  BOOLEAN allowed = TRUE;
  EXPECT_EQ(HasPermission("Device.Anything", &token, &allowed), EFI_NOT_READY);
  UINT8 mask = 0;
  EXPECT_EQ(permission->GetPermission(permission, "Device.Anything", &mask), EFI_NOT_READY);
  size_t events = firmware->OpenEventCount();
  InstallAuthentication();
  ASSERT_NE(CurrentPermissionStore(), nullptr);
  EXPECT_EQ(firmware->OpenEventCount(), events - 1); // the notification closed its event
  EXPECT_EQ(permission->GetPermission(permission, "Device.Anything", &mask), EFI_SUCCESS);
  EXPECT_EQ(mask, 0x01);
}

TEST_F(PermissionStartupTest, RebootKeepsTheOwnersDecisionsAndDocument) {
  Boot(/*ownerEnrolled=*/true);
  PermissionStore *store = CurrentPermissionStore();
  ASSERT_EQ(SetPermissionEntry(store, "Device.Changed", 0x10, 0x80), EFI_SUCCESS);
  store->DefaultPMask = 0x80;
  store->Dirty = TRUE;
  ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);
  ASSERT_EQ(PublishCurrentPermissions(TRUE), EFI_SUCCESS);
  std::vector<UINT8> saved = Spp();
  std::string document = Published();

  Boot(/*ownerEnrolled=*/true);
  EXPECT_EQ(Spp(), saved);
  EXPECT_EQ(Published(), document);
  EXPECT_EQ(Expected(), document);
  for (UINT32 identity : {0x01u, 0x10u, 0x80u, 0x90u}) {
    SCOPED_TRACE(identity);
    ZELM_AUTH_TOKEN token = Token(identity);
    BOOLEAN changed = FALSE;
    BOOLEAN other = FALSE;
    ASSERT_EQ(HasPermission("Device.Changed", &token, &changed), EFI_SUCCESS);
    ASSERT_EQ(HasPermission("Device.Other", &token, &other), EFI_SUCCESS);
    EXPECT_EQ(bool(changed), (identity & 0x10) != 0);
    EXPECT_EQ(bool(other), (identity & 0x80) != 0);
  }
}

} // namespace
