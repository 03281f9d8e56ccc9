// Detection of the system-management environment.
#ifndef ZELM_DRIVER_SMM_H_
#define ZELM_DRIVER_SMM_H_

#include <uefi/Protocol/SmmBase2.h>

// TRUE when EFI_SMM_BASE2_PROTOCOL is present and reports that the driver
// runs inside SMRAM; *Smst then receives the SMM system table (NULL when
// GetSmstLocation fails).
BOOLEAN QuerySmm(EFI_SMM_SYSTEM_TABLE2 **Smst);

#endif
