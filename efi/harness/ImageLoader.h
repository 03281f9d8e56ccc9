// Loading a sibling image from the volume the harness itself was started
// from.
#ifndef ZELM_EFI_HARNESS_IMAGE_LOADER_H_
#define ZELM_EFI_HARNESS_IMAGE_LOADER_H_

#include <uefi/UefiSystemTable.h>

// LoadImage of FileName (a path such as u"\\zelm.efi") on the harness's own
// volume: the volume's device path followed by a file-path node.
// EFI_UNSUPPORTED: the volume has no usable device path. Otherwise the
// status of HandleProtocol, AllocatePool or LoadImage.
EFI_STATUS LoadImageFromOwnVolume(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices,
                                  const CHAR16 *FileName, EFI_HANDLE *Image);

#endif
