#include "efi/harness/PermissionChecks.h"

#include <zelm/Zelm.h>

#include "efi/harness/Authentication.h"
#include "efi/harness/Console.h"
#include "efi/harness/StoredPermissions.h"
#include "efi/harness/TestProvider.h"

#define OWNER_KEY_SETTING_ID "Zelm.OwnerKey.Enum"

namespace {

// The default store has no entry for the harness's setting (local only)
// and gives the owner key to the local and zero-touch identities.
constexpr UINT8 unlistedMask = ZELM_IDENTITY_LOCAL;
constexpr UINT8 ownerKeyMask = ZELM_IDENTITY_LOCAL | ZELM_IDENTITY_ZERO_TOUCH;

ZELM_SETTING_PERMISSION_PROTOCOL *LocatePermission(EFI_BOOT_SERVICES *bs, CheckLog &log) {
  VOID *interface = nullptr;
  EFI_STATUS status = bs->LocateProtocol(&gZelmSettingPermissionProtocolGuid, nullptr, &interface);
  if (EFI_ERROR(status) || interface == nullptr) {
    log.expect(FALSE, "GetPermission (no setting permission protocol)", status);
    return nullptr;
  }
  return static_cast<ZELM_SETTING_PERMISSION_PROTOCOL *>(interface);
}

VOID ExpectMask(ZELM_SETTING_PERMISSION_PROTOCOL *permission, const CHAR8 *id, UINT8 expected,
                const CHAR8 *what, CheckLog &log) {
  UINT8 mask = 0;
  EFI_STATUS status = permission->GetPermission(permission, id, &mask);
  if (!log.expect(status == EFI_SUCCESS && mask == expected, what, status) &&
      status == EFI_SUCCESS) {
    Print("zelm-harness: info: GetPermission \"%a\" answered %u\n", id, static_cast<UINT64>(mask));
  }
}

} // namespace

VOID CheckPermissionStoreStart(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log) {
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  ZELM_SETTING_PERMISSION_PROTOCOL *permission = LocatePermission(bs, Log);
  if (permission == nullptr) {
    return;
  }
  UINT8 mask = 0;
  EFI_STATUS status = permission->GetPermission(permission, HARNESS_TEST_SETTING_ID, &mask);
  Log.expect(status == EFI_NOT_READY,
             "GetPermission before the authentication protocol is EFI_NOT_READY", status);

  // The driver's notification runs inside this call, when the firmware
  // lowers the priority level again.
  EFI_HANDLE handle = nullptr;
  status = bs->InstallProtocolInterface(&handle, &gZelmAuthenticationProtocolGuid,
                                        EFI_NATIVE_INTERFACE, HarnessAuthentication());
  if (!Log.expect(status == EFI_SUCCESS,
                  "authentication protocol installed on a new handle (local identity only)",
                  status)) {
    return;
  }
  ExpectMask(permission, HARNESS_TEST_SETTING_ID, unlistedMask,
             "GetPermission \"" HARNESS_TEST_SETTING_ID "\" is 1 (no entry)", Log);
  ExpectMask(permission, OWNER_KEY_SETTING_ID, ownerKeyMask,
             "GetPermission \"" OWNER_KEY_SETTING_ID "\" is 9", Log);
  CheckStoredPermissions(SystemTable, Log);
}

VOID CheckAccessDecisions(EFI_BOOT_SERVICES *BootServices, CheckLog &Log) {
  VOID *interface = nullptr;
  EFI_STATUS status =
      BootServices->LocateProtocol(&gZelmSettingAccessProtocolGuid, nullptr, &interface);
  if (EFI_ERROR(status) || interface == nullptr) {
    Log.expect(FALSE, "Set and Get with tokens (no settings access protocol)", status);
    return;
  }
  auto *access = static_cast<ZELM_SETTING_ACCESS_PROTOCOL *>(interface);
  ZELM_AUTH_TOKEN local = HarnessToken(ZELM_IDENTITY_LOCAL);
  ZELM_AUTH_TOKEN owner = HarnessToken(ZELM_IDENTITY_OWNER);
  // A value the component never handed out: the driver must refuse, never
  // treat it as some identity.
  ZELM_AUTH_TOKEN forged = ZELM_IDENTITY_LOCAL;
  const UINT8 value = HARNESS_TEST_SETTING_VALUE;

  UINT64 flags = 0;
  status = access->Set(access, HARNESS_TEST_SETTING_ID, &local, ZELM_SETTING_TYPE_ENABLE,
                       sizeof(value), &value, &flags);
  Log.expect(status == EFI_SUCCESS, "Set value 1 with a local token is EFI_SUCCESS", status);

  flags = 0;
  status = access->Set(access, HARNESS_TEST_SETTING_ID, &owner, ZELM_SETTING_TYPE_ENABLE,
                       sizeof(value), &value, &flags);
  Log.expect(status == EFI_ACCESS_DENIED,
             "Set value 1 with an owner-only token is EFI_ACCESS_DENIED", status);

  flags = 0;
  status = access->Set(access, HARNESS_TEST_SETTING_ID, &forged, ZELM_SETTING_TYPE_ENABLE,
                       sizeof(value), &value, &flags);
  Log.expect(EFI_ERROR(status), "Set with a token the component never made is refused", status);

  UINT8 read = 0;
  UINTN size = sizeof(read);
  flags = 0;
  status = access->Get(access, HARNESS_TEST_SETTING_ID, &local, ZELM_SETTING_TYPE_ENABLE, &size,
                       &read, &flags);
  Log.expect(status == EFI_SUCCESS && (flags & ZELM_SETTING_FLAG_WRITABLE) != 0,
             "Get with a local token reports the setting writable", status);

  size = sizeof(read);
  flags = 0;
  status = access->Get(access, HARNESS_TEST_SETTING_ID, &owner, ZELM_SETTING_TYPE_ENABLE, &size,
                       &read, &flags);
  Log.expect(status == EFI_SUCCESS && (flags & ZELM_SETTING_FLAG_WRITABLE) == 0,
             "Get with an owner-only token does not report it writable", status);
}
