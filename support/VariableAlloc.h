// Whole-variable reads into a pool buffer, through the runtime services.
#ifndef ZELM_SUPPORT_VARIABLE_ALLOC_H_
#define ZELM_SUPPORT_VARIABLE_ALLOC_H_

#include <uefi/UefiBaseType.h>

// Reads the variable Name / Guid into a new pool buffer that the caller
// frees. *Buffer (and *Size when asked for) are cleared first; on success
// *Buffer holds the data and *Size its size; on failure nothing stays
// allocated and *Buffer is NULL.
// EFI_SUCCESS; the probe's status unchanged when it is not
// EFI_BUFFER_TOO_SMALL (EFI_NOT_FOUND for an absent variable);
// EFI_UNSUPPORTED (the probe reported a size of 0, or succeeded with none);
// EFI_OUT_OF_RESOURCES (allocation); the read's status; EFI_BAD_BUFFER_SIZE
// (the read claimed more bytes than the buffer holds);
// EFI_INVALID_PARAMETER (Name, Guid or Buffer NULL).
[[nodiscard]] EFI_STATUS GetVariableAlloc(const CHAR16 *Name, const EFI_GUID *Guid, VOID **Buffer,
                                          UINTN *Size OPTIONAL);

// As GetVariableAlloc, also returning the attributes (cleared first, filled
// by GetVariable).
[[nodiscard]] EFI_STATUS GetVariableAllocWithAttributes(const CHAR16 *Name, const EFI_GUID *Guid,
                                                        VOID **Buffer, UINTN *Size OPTIONAL,
                                                        UINT32 *Attributes OPTIONAL);

// The attributes of Name / Guid, from a read of the whole variable: a probe
// answered EFI_BUFFER_TOO_SMALL need not fill them. EFI_SUCCESS; the
// statuses of GetVariableAllocWithAttributes.
[[nodiscard]] EFI_STATUS ReadVariableAttributes(const CHAR16 *Name, const EFI_GUID *Guid,
                                                UINT32 *Attributes);

// Deletes Name / Guid when a read shows it stored with attributes other
// than Attributes: the firmware refuses a write that changes them, so a
// variable planted with others would block every later write. A variable
// whose attributes cannot be read is left alone (the write that follows
// then reports any refusal). EFI_SUCCESS (also when there was nothing to
// delete); the deletion's status.
EFI_STATUS DeleteVariableOfOtherAttributes(const CHAR16 *Name, const EFI_GUID *Guid,
                                           UINT32 Attributes);

#endif
