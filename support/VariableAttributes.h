// The two attribute sets of every variable the driver writes (UEFI 2.10
// section 8.2).
#ifndef ZELM_SUPPORT_VARIABLE_ATTRIBUTES_H_
#define ZELM_SUPPORT_VARIABLE_ATTRIBUTES_H_

#include <uefi/UefiSystemTable.h>

// The driver's own stores and the platform's setting variables:
// non-volatile, boot-service access (3).
inline constexpr UINT32 kStoredVariableAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// What the operating system reads: runtime access as well (7).
inline constexpr UINT32 kPublishedVariableAttributes =
    kStoredVariableAttributes | EFI_VARIABLE_RUNTIME_ACCESS;

#endif
