// The System Information strings (SMBIOS structure type 1) that identify
// the device. Every length and number in the structures is outside data:
// no read leaves the bounds of identity/SmbiosBounds.h.
#ifndef ZELM_IDENTITY_SMBIOS_STRINGS_H_
#define ZELM_IDENTITY_SMBIOS_STRINGS_H_

#include <uefi/UefiBaseType.h>

// A new pool copy (*Result, freed by the caller) of string Number of the
// string set at Strings, of which at most Available bytes are read. Number
// 0, a number past the set, an empty string and a string not terminated
// within Available bytes all give a new empty string.
// EFI_SUCCESS, EFI_INVALID_PARAMETER (Result NULL; Strings NULL with
// Available not 0), EFI_OUT_OF_RESOURCES (no pool; *Result is NULL).
[[nodiscard]] EFI_STATUS GetSmbiosString(IN const CHAR8 *Strings, IN UINTN Available,
                                         IN UINT8 Number, OUT CHAR8 **Result);

// Fills each address given with a new pool string (freed by the caller):
// the manufacturer, product name and serial number of the last type-1
// structure the SMBIOS protocol's GetNext walk returns. A field past the
// structure's formatted area gives an empty string. Each call walks the
// structures anew. On failure every address given is NULL.
// EFI_SUCCESS, LocateProtocol's status, EFI_NOT_FOUND (no type-1
// structure), EFI_OUT_OF_RESOURCES.
[[nodiscard]] EFI_STATUS GetSystemInfoStrings(OUT CHAR8 **Manufacturer OPTIONAL,
                                              OUT CHAR8 **ProductName OPTIONAL,
                                              OUT CHAR8 **SerialNumber OPTIONAL);

#endif
