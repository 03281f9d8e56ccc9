// Run options of the boot test, given as empty marker files that the
// runner puts on the ESP next to the harness.
#ifndef ZELM_EFI_HARNESS_MARKER_FILE_H_
#define ZELM_EFI_HARNESS_MARKER_FILE_H_

#include <uefi/UefiSystemTable.h>

// TRUE when FileName (a path such as u"\\zelm-no-region-hob") opens for
// reading on the volume the harness was started from. A volume that cannot
// be opened counts as having no marker.
BOOLEAN MarkerFileExists(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices,
                         const CHAR16 *FileName);

#endif
