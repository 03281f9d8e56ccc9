#include <platform/PlatformGuids.h>
#include <uefi/Protocol/VariableLock.h>
#include <uefi/UefiGuids.h>
#include <zelm/Zelm.h>

#include "efi/harness/Console.h"
#include "efi/harness/E2eBoots.h"
#include "efi/harness/E2eChecks.h"
#include "efi/harness/MarkerFile.h"
#include "efi/harness/PoolBuffer.h"
#include "efi/harness/VariableRead.h"

namespace {

// Local-signed, a newer version: the setting boot 1 gave to the owner
// alone must be refused on its own while the packet itself applies.
constexpr CHAR8 settingsXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>2</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
    "<Setting><Id>Device.USBBoot.Enable</Id><Value>Disabled</Value></Setting>"
    "</Settings></SettingsPacket>";
// Would change the asset tag, but reaches the driver altered.
constexpr CHAR8 alteredXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>3</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
    "<Setting><Id>Zelm3.AssetTag.String</Id><Value>E2E-6666</Value></Setting>"
    "</Settings></SettingsPacket>";
constexpr const CHAR8 *settingsResults[] = {
    "<Id>Device.USBBoot.Enable</Id>",
    "<Result>0x800000000000000F</Result>",
};

constexpr CHAR8 assetTag[] = "E2E-0001";
constexpr UINT8 usbBootId[] = "Device.USBBoot.Enable";

ZELM_SETTING_ACCESS_PROTOCOL *LocateAccess(EFI_BOOT_SERVICES *bs) {
  VOID *interface = nullptr;
  if (EFI_ERROR(bs->LocateProtocol(&gZelmSettingAccessProtocolGuid, nullptr, &interface))) {
    return nullptr;
  }
  return static_cast<ZELM_SETTING_ACCESS_PROTOCOL *>(interface);
}

// "_SPP" as boot 1's CompletePacket saved it holds the new entry's id.
VOID CheckStoredEntry(EFI_SYSTEM_TABLE *st, CheckLog &log) {
  PoolBuffer buffer(st->BootServices);
  UINTN size = 0;
  CHAR16 name[] = u"_SPP";
  EFI_STATUS status =
      ReadVariable(st, name, &gZelmSettingsManagerVariableGuid, buffer, &size, nullptr);
  log.expect(status == EFI_SUCCESS &&
                 ContainsText(buffer.get(), size, reinterpret_cast<const CHAR8 *>(usbBootId)),
             "\"_SPP\" holds the entry \"Device.USBBoot.Enable\"", status);
}

VOID CheckValuesThroughAccess(EFI_BOOT_SERVICES *bs, CheckLog &log) {
  ZELM_SETTING_ACCESS_PROTOCOL *access = LocateAccess(bs);
  if (!log.expect(access != nullptr, "settings access protocol installed after access start",
                  access != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND)) {
    return;
  }
  CHAR8 tag[40] = {};
  UINTN size = sizeof(tag);
  EFI_STATUS status = access->Get(access, "Zelm3.AssetTag.String", nullptr,
                                  ZELM_SETTING_TYPE_STRING, &size, tag, nullptr);
  BOOLEAN same = status == EFI_SUCCESS && size == sizeof(assetTag);
  for (UINTN i = 0; same && i < sizeof(assetTag); ++i) {
    same = tag[i] == assetTag[i];
  }
  log.expect(same, "Get \"Zelm3.AssetTag.String\" still reads \"E2E-0001\"", status);

  UINT8 lock = 0;
  size = sizeof(lock);
  status = access->Get(access, "Device.BootOrderLock.Enable", nullptr, ZELM_SETTING_TYPE_ENABLE,
                       &size, &lock, nullptr);
  log.expect(status == EFI_SUCCESS && size == 1 && lock == 1,
             "Get \"Device.BootOrderLock.Enable\" reads 1", status);
}

// The lock service takes requests only until the end of the DXE phase,
// and the harness runs as a boot application after it: a request it makes
// itself tells whether the driver's requests at the hook point could take
// effect. Only then is "BootOrder" expected to be read-only. Otherwise
// (OVMF: no EDKII_VARIABLE_LOCK_PROTOCOL, or one that refuses requests by
// now) the driver's action can lock nothing, and the check falls back to
// the lock setting it acts on: "BootOrderLock" holding 1.
BOOLEAN LockRequestsTakeEffect(EFI_BOOT_SERVICES *bs) {
  VOID *interface = nullptr;
  EFI_STATUS status = bs->LocateProtocol(&gEdkiiVariableLockProtocolGuid, nullptr, &interface);
  if (EFI_ERROR(status) || interface == nullptr) {
    Print("zelm-harness: info: no variable lock protocol (%r)\n", status);
    return FALSE;
  }
  auto *lock = static_cast<EDKII_VARIABLE_LOCK_PROTOCOL *>(interface);
  CHAR16 probe[] = u"ZelmHarnessLockProbe";
  status = lock->RequestToLock(lock, probe, &gZelmSettingsVariableGuid);
  Print("zelm-harness: info: variable lock protocol present, a request now answers %r\n", status);
  return status == EFI_SUCCESS;
}

VOID CheckBootOrderLocked(EFI_SYSTEM_TABLE *st, CheckLog &log) {
  EFI_BOOT_SERVICES *bs = st->BootServices;
  BOOLEAN enforced = LockRequestsTakeEffect(bs);
  ExpectBootOrderLockHookRun(bs, log);
  PoolBuffer order(bs);
  UINTN size = 0;
  UINT32 attributes = 0;
  CHAR16 name[] = u"BootOrder";
  // The same bytes written back: should the lock not hold, nothing changes.
  if (enforced &&
      !EFI_ERROR(ReadVariable(st, name, &gEfiGlobalVariableGuid, order, &size, &attributes))) {
    EFI_STATUS status = st->RuntimeServices->SetVariable(name, &gEfiGlobalVariableGuid, attributes,
                                                         size, order.get());
    log.expect(status == EFI_WRITE_PROTECTED, "SetVariable \"BootOrder\" is write-protected",
               status);
    return;
  }
  Print("zelm-harness: info: the boot-order lock cannot be enforced here: \"BootOrderLock\" "
        "checked instead\n");
  UINT8 enabled = 1;
  CHAR16 lockName[] = u"BootOrderLock";
  ExpectVariableBytes(st, lockName, &gBootOrderLockVariableGuid,
                      EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, &enabled,
                      sizeof(enabled), "\"BootOrderLock\" still holds 1", log);
}

} // namespace

VOID RunSecondBoot(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log) {
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  if (!InstallEnrolledAuthentication(bs, ZELM_IDENTITY_OWNER | ZELM_IDENTITY_LOCAL, Log)) {
    return;
  }
  CheckStoredEntry(SystemTable, Log);
  ExpectPermission(bs, "Device.USBBoot.Enable", ZELM_IDENTITY_OWNER, Log);
  CheckPacketApplied(SystemTable,
                     {PacketKind::Settings, "settings, local-signed, owner-only setting",
                      settingsXml, ZELM_IDENTITY_LOCAL, 3, settingsResults, 2, nullptr},
                     Log);
  CheckAlteredPacketRefused(SystemTable, PacketKind::Settings, alteredXml, ZELM_IDENTITY_LOCAL,
                            Log);

  ExpectGroupSignalled(bs, &gZelmSettingAccessStartEventGroupGuid, "access-start group signalled",
                       Log);
  CheckValuesThroughAccess(bs, Log);

  ExpectGroupSignalled(bs, &gEfiEventReadyToBootGuid, "ready-to-boot signalled", Log);
  CHAR16 settingsName[] = u"ZelmSettingsCurrent";
  ExpectVariableText(SystemTable, settingsName, &gZelmSettingsVariableGuid, assetTag,
                     "\"ZelmSettingsCurrent\" published with the asset tag", Log);
  CHAR16 permissionsName[] = u"ZelmPermissionCurrent";
  ExpectVariableText(SystemTable, permissionsName, &gZelmPermissionVariableGuid,
                     "Device.USBBoot.Enable",
                     "\"ZelmPermissionCurrent\" published with the new entry", Log);
  // QEMU gives OVMF an SMBIOS type 1 structure, so the identifier exists.
  CHAR16 identifierName[] = u"ZelmDeviceIdentifier";
  ExpectVariableText(SystemTable, identifierName, &gZelmDeviceIdentifierVariableGuid, nullptr,
                     "\"ZelmDeviceIdentifier\" published", Log);

  CheckBootOrderLocked(SystemTable, Log);
}

namespace {

// Name, "-", then Guid in lower-case 8-4-4-4-12 form: an efivarfs file name.
VOID EfivarFileName(const CHAR16 *Name, const EFI_GUID &Guid, CHAR16 *Out, UINTN Capacity) {
  static constexpr CHAR16 hex[] = u"0123456789abcdef";
  UINTN n = 0;
  for (; Name[n] != 0 && n + 38 < Capacity; ++n) {
    Out[n] = Name[n];
  }
  UINT8 bytes[16] = {static_cast<UINT8>(Guid.Data1 >> 24), static_cast<UINT8>(Guid.Data1 >> 16),
                     static_cast<UINT8>(Guid.Data1 >> 8),  static_cast<UINT8>(Guid.Data1),
                     static_cast<UINT8>(Guid.Data2 >> 8),  static_cast<UINT8>(Guid.Data2),
                     static_cast<UINT8>(Guid.Data3 >> 8),  static_cast<UINT8>(Guid.Data3)};
  for (UINTN k = 0; k < 8; ++k) {
    bytes[8 + k] = Guid.Data4[k];
  }
  Out[n++] = u'-';
  for (UINTN k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) {
      Out[n++] = u'-';
    }
    Out[n++] = hex[bytes[k] >> 4];
    Out[n++] = hex[bytes[k] & 15];
  }
  Out[n] = 0;
}

// The file on the console, for the host to rebuild: its name, then its
// bytes as hexadecimal in short lines. QEMU's writable FAT directory does
// not bring files a guest writes back reliably (their clusters can map onto
// another file's), so the console is the channel that keeps them whole.
VOID PrintEfivarFile(const CHAR16 *Name, const UINT8 *Bytes, UINTN Size) {
  CHAR8 name[96];
  UINTN n = 0;
  for (; Name[n] != 0 && n + 1 < sizeof(name); ++n) {
    name[n] = static_cast<CHAR8>(Name[n]);
  }
  name[n] = 0;
  Print("zelm-efivar-file %a\n", name);
  static constexpr CHAR8 hex[] = "0123456789abcdef";
  constexpr UINTN kPerLine = 32;
  for (UINTN at = 0; at < Size; at += kPerLine) {
    CHAR8 line[2 * kPerLine + 1];
    UINTN k = 0;
    for (; k < kPerLine && at + k < Size; ++k) {
      line[2 * k] = hex[Bytes[at + k] >> 4];
      line[2 * k + 1] = hex[Bytes[at + k] & 15];
    }
    line[2 * k] = 0;
    Print("zelm-efivar-data %a\n", line);
  }
}

} // namespace

VOID PrintPublishedVariables(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log) {
  struct Published {
    const CHAR16 *name;
    EFI_GUID *guid;
  };
  const Published published[] = {
      {u"ZelmSettingsCurrent", &gZelmSettingsVariableGuid},
      {u"UEFISettingsCurrent", &gZelmSettingsVariableGuid},
      {u"ZelmPermissionCurrent", &gZelmPermissionVariableGuid},
      {u"ZelmDeviceIdentifier", &gZelmDeviceIdentifierVariableGuid},
  };
  EFI_BOOT_SERVICES *bs = SystemTable->BootServices;
  for (const Published &p : published) {
    PoolBuffer data(bs);
    UINTN size = 0;
    UINT32 attributes = 0;
    EFI_STATUS status = ReadVariable(SystemTable, p.name, p.guid, data, &size, &attributes);
    PoolBuffer file(bs);
    if (!EFI_ERROR(status) && !file.allocate(4 + size)) {
      status = EFI_OUT_OF_RESOURCES;
    }
    CHAR16 fileName[96];
    EfivarFileName(p.name, *p.guid, fileName, sizeof(fileName) / sizeof(fileName[0]));
    if (!EFI_ERROR(status)) {
      for (UINTN k = 0; k < 4; ++k) {
        file.get()[k] = static_cast<UINT8>(attributes >> (8 * k));
      }
      for (UINTN k = 0; k < size; ++k) {
        file.get()[4 + k] = data.get()[k];
      }
      PrintEfivarFile(fileName, file.get(), 4 + size);
    }
    Log.expect(!EFI_ERROR(status), "published variable carried on the console in efivarfs layout",
               status);
  }
}
