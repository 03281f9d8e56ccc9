#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/Zelm.h>

#include "efi/harness/E2eBoots.h"
#include "efi/harness/E2eChecks.h"

namespace {

// Owner-signed: appends one entry that only the owner may set and
// delegate.
constexpr CHAR8 permissionsXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket><Version>1</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append=\"True\">"
    "<Permission><Id>Device.USBBoot.Enable</Id><PMask>128</PMask><DMask>128</DMask>"
    "</Permission></Permissions></PermissionsPacket>";
constexpr const CHAR8 *permissionsResults[] = {
    "<PermissionResult><Id>Device.USBBoot.Enable</Id><Result>0x0</Result></PermissionResult>",
};

// Local-signed: two settings the default permissions leave to the local
// identity.
constexpr CHAR8 settingsXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>1</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
    "<Setting><Id>Device.BootOrderLock.Enable</Id><Value>Enabled</Value></Setting>"
    "<Setting><Id>Zelm3.AssetTag.String</Id><Value>E2E-0001</Value></Setting>"
    "</Settings></SettingsPacket>";
constexpr const CHAR8 *settingsResults[] = {
    "<Id>Device.BootOrderLock.Enable</Id>",
    "<Id>Zelm3.AssetTag.String</Id>",
};

// Both are the driver's own platform variables, kept from the OS.
constexpr UINT32 platformVariableAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT8 lockEnabled = 1;
constexpr CHAR8 assetTag[] = "E2E-0001";

} // namespace

VOID RunFirstBoot(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log) {
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  if (!InstallEnrolledAuthentication(bs, ZELM_IDENTITY_OWNER | ZELM_IDENTITY_LOCAL, Log)) {
    return;
  }
  CheckPacketApplied(SystemTable,
                     {PacketKind::Permissions, "permissions, owner-signed", permissionsXml,
                      ZELM_IDENTITY_OWNER, 1, permissionsResults, 1, nullptr},
                     Log);
  ExpectPermission(bs, "Device.USBBoot.Enable", ZELM_IDENTITY_OWNER, Log);

  // No setting may fail: every result of this packet is 0x0.
  CheckPacketApplied(SystemTable,
                     {PacketKind::Settings, "settings, local-signed", settingsXml,
                      ZELM_IDENTITY_LOCAL, 2, settingsResults, 2, "<Result>0x8"},
                     Log);
  CHAR16 lockName[] = u"BootOrderLock";
  ExpectVariableBytes(SystemTable, lockName, &gBootOrderLockVariableGuid,
                      platformVariableAttributes, &lockEnabled, sizeof(lockEnabled),
                      "\"BootOrderLock\" holds 1", Log);
  CHAR16 tagName[] = u"AssetTag";
  ExpectVariableBytes(SystemTable, tagName, &gPlatformSettingVariableGuid,
                      platformVariableAttributes, assetTag, sizeof(assetTag),
                      "\"AssetTag\" holds \"E2E-0001\"", Log);

  ExpectGroupSignalled(bs, &gEfiEventReadyToBootGuid, "ready-to-boot signalled", Log);
  CHAR16 currentName[] = u"ZelmSettingsCurrent";
  ExpectVariableText(SystemTable, currentName, &gZelmSettingsVariableGuid, assetTag,
                     "\"ZelmSettingsCurrent\" published with the new asset tag", Log);
  ExpectBootOrderLockHookRun(bs, Log);
}
