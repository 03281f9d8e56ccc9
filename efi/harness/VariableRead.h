// Reading a whole variable back through the runtime services, as the
// operating system or another driver would, and looking for text in it.
#ifndef ZELM_EFI_HARNESS_VARIABLE_READ_H_
#define ZELM_EFI_HARNESS_VARIABLE_READ_H_

#include <uefi/UefiSystemTable.h>

#include "efi/harness/PoolBuffer.h"

// Reads Name under Guid into Buffer (allocated to its size); *Size and,
// when Attributes is not NULL, *Attributes describe it. The status of
// GetVariable, or EFI_OUT_OF_RESOURCES.
EFI_STATUS ReadVariable(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                        PoolBuffer &Buffer, UINTN *Size, UINT32 *Attributes);

// TRUE when the NUL-terminated Text occurs within the Size bytes at Data.
BOOLEAN ContainsText(const UINT8 *Data, UINTN Size, const CHAR8 *Text);

#endif
