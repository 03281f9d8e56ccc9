#include "efi/harness/ImageLoader.h"

#include <uefi/Protocol/DevicePath.h>
#include <uefi/UefiGuids.h>

#include "support/Memory.h"

namespace {

// Device paths longer than this are not something QEMU's disks produce.
constexpr UINTN maxVolumePathSize = 4096;

UINT16 NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<UINT16>(Node->Length[0] | (Node->Length[1] << 8));
}

VOID SetNodeLength(EFI_DEVICE_PATH_PROTOCOL *Node, UINTN Length) {
  Node->Length[0] = static_cast<UINT8>(Length);
  Node->Length[1] = static_cast<UINT8>(Length >> 8);
}

// Bytes of Path before its end-of-path node, or 0 when it is malformed.
UINTN PathSizeWithoutEnd(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  const UINT8 *start = reinterpret_cast<const UINT8 *>(Path);
  UINTN size = 0;
  for (;;) {
    const auto *node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(start + size);
    if (node->Type == END_DEVICE_PATH_TYPE && node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      return size;
    }
    UINT16 length = NodeLength(node);
    if (length < sizeof(EFI_DEVICE_PATH_PROTOCOL) || length > maxVolumePathSize - size) {
      return 0;
    }
    size += length;
  }
}

UINTN StringLength(const CHAR16 *s) {
  UINTN n = 0;
  while (s[n] != u'\0') {
    ++n;
  }
  return n;
}

} // namespace

EFI_STATUS LoadImageFromOwnVolume(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices,
                                  const CHAR16 *FileName, EFI_HANDLE *Image) {
  EFI_GUID devicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;
  EFI_LOADED_IMAGE_PROTOCOL *loadedImage = nullptr;
  EFI_STATUS status = BootServices->HandleProtocol(HarnessImage, &gEfiLoadedImageProtocolGuid,
                                                   reinterpret_cast<VOID **>(&loadedImage));
  if (EFI_ERROR(status)) {
    return status;
  }
  EFI_DEVICE_PATH_PROTOCOL *volumePath = nullptr;
  status = BootServices->HandleProtocol(loadedImage->DeviceHandle, &devicePathGuid,
                                        reinterpret_cast<VOID **>(&volumePath));
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN volumeSize = PathSizeWithoutEnd(volumePath);
  if (volumeSize == 0) {
    return EFI_UNSUPPORTED;
  }

  UINTN fileNodeSize = sizeof(FILEPATH_DEVICE_PATH) + (StringLength(FileName) + 1) * sizeof(CHAR16);
  UINTN pathSize = volumeSize + fileNodeSize + sizeof(EFI_DEVICE_PATH_PROTOCOL);
  UINT8 *path = nullptr;
  status =
      BootServices->AllocatePool(EfiBootServicesData, pathSize, reinterpret_cast<VOID **>(&path));
  if (EFI_ERROR(status)) {
    return status;
  }
  CopyMem(path, volumePath, volumeSize);
  auto *fileNode = reinterpret_cast<FILEPATH_DEVICE_PATH *>(path + volumeSize);
  fileNode->Header.Type = MEDIA_DEVICE_PATH;
  fileNode->Header.SubType = MEDIA_FILEPATH_DP;
  SetNodeLength(&fileNode->Header, fileNodeSize);
  CopyMem(path + volumeSize + sizeof(FILEPATH_DEVICE_PATH), FileName,
          fileNodeSize - sizeof(FILEPATH_DEVICE_PATH));
  auto *end = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(path + volumeSize + fileNodeSize);
  end->Type = END_DEVICE_PATH_TYPE;
  end->SubType = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  SetNodeLength(end, sizeof(EFI_DEVICE_PATH_PROTOCOL));

  status = BootServices->LoadImage(
      FALSE, HarnessImage, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(path), nullptr, 0, Image);
  BootServices->FreePool(path);
  return status;
}
