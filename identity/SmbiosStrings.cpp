#include "identity/SmbiosStrings.h"

#include <uefi/SmbiosTable.h>
#include <uefi/UefiGuids.h>

#include "identity/SmbiosBounds.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/Text.h"

namespace {

// Offsets in the System Information structure of the string numbers read.
constexpr UINT8 kManufacturerOffset = 4;
constexpr UINT8 kProductNameOffset = 5;
constexpr UINT8 kSerialNumberOffset = 7;
// Handles are 16 bits wide, so a walk that has not ended after this many
// structures never will.
constexpr UINTN kMaxStructures = 0x10000;

struct Structure {
  const UINT8 *bytes;
  UINTN readable; // bytes that may be read from bytes[0] on
};

// The last System Information structure of the GetNext walk.
BOOLEAN FindLastSystemInfo(EFI_SMBIOS_PROTOCOL *smbios, Structure *found) {
  SmbiosTableRange table = FindSmbiosTable();
  BOOLEAN any = FALSE;
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  for (UINTN walked = 0; walked < kMaxStructures; walked++) {
    EFI_SMBIOS_TABLE_HEADER *record = nullptr;
    if (EFI_ERROR(smbios->GetNext(smbios, &handle, nullptr, &record, nullptr))) {
      break;
    }
    if (record == nullptr) {
      continue;
    }
    UINTN readable = SmbiosReadableSize(table, record);
    // A structure cut inside its header has no type to go by.
    if (readable < sizeof(EFI_SMBIOS_TABLE_HEADER)) {
      continue;
    }
    const UINT8 *bytes = reinterpret_cast<const UINT8 *>(record);
    if (bytes[0] == SMBIOS_TYPE_SYSTEM_INFORMATION) {
      *found = Structure{bytes, readable};
      any = TRUE;
    }
  }
  return any;
}

// The string named by the byte at Offset of the formatted area; a field the
// formatted area does not reach names no string.
EFI_STATUS ReadField(const Structure &structure, UINT8 offset, CHAR8 **result) {
  UINTN formatted = structure.bytes[1];
  if (formatted > structure.readable) {
    formatted = structure.readable;
  }
  UINT8 number = offset < formatted ? structure.bytes[offset] : 0;
  return GetSmbiosString(reinterpret_cast<const CHAR8 *>(structure.bytes + formatted),
                         structure.readable - formatted, number, result);
}

} // namespace

EFI_STATUS GetSmbiosString(const CHAR8 *Strings, UINTN Available, UINT8 Number, CHAR8 **Result) {
  if (Result == nullptr || (Strings == nullptr && Available != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  *Result = nullptr;
  const CHAR8 *wanted = nullptr;
  UINTN wantedLength = 0;
  UINTN at = 0;
  // Strings are counted from 1; the set ends at an empty string (its second
  // NUL), and a string without a NUL inside Available ends it as well.
  for (UINT8 current = 1; Number != 0 && at < Available && Strings[at] != 0; current++) {
    const UINTN length = BoundedLength(Strings + at, Available - at);
    if (at + length == Available) {
      break;
    }
    if (current == Number) {
      wanted = Strings + at;
      wantedLength = length;
      break;
    }
    at += length + 1;
  }
  CHAR8 *copy = static_cast<CHAR8 *>(AllocPool(wantedLength + 1));
  if (copy == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(copy, wanted, wantedLength);
  copy[wantedLength] = 0;
  *Result = copy;
  return EFI_SUCCESS;
}

EFI_STATUS GetSystemInfoStrings(CHAR8 **Manufacturer, CHAR8 **ProductName, CHAR8 **SerialNumber) {
  struct Field {
    CHAR8 **out;
    UINT8 offset;
  };
  const Field fields[] = {{Manufacturer, kManufacturerOffset},
                          {ProductName, kProductNameOffset},
                          {SerialNumber, kSerialNumberOffset}};
  for (const Field &field : fields) {
    if (field.out != nullptr) {
      *field.out = nullptr;
    }
  }
  EFI_SMBIOS_PROTOCOL *smbios = nullptr;
  EFI_STATUS status =
      gBS->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, reinterpret_cast<VOID **>(&smbios));
  if (EFI_ERROR(status)) {
    return status;
  }
  if (smbios == nullptr) {
    return EFI_NOT_FOUND;
  }
  Structure systemInfo = {nullptr, 0};
  BOOLEAN found = FindLastSystemInfo(smbios, &systemInfo);
  PoolPtr<CHAR8> values[3];
  for (UINTN i = 0; i < 3; i++) {
    if (fields[i].out == nullptr) {
      continue;
    }
    if (!found) {
      return EFI_NOT_FOUND;
    }
    CHAR8 *value = nullptr;
    status = ReadField(systemInfo, fields[i].offset, &value);
    if (EFI_ERROR(status)) {
      return status;
    }
    values[i].reset(value);
  }
  for (UINTN i = 0; i < 3; i++) {
    if (fields[i].out != nullptr) {
      *fields[i].out = values[i].release();
    }
  }
  return EFI_SUCCESS;
}
