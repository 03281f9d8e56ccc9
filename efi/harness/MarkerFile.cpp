#include "efi/harness/MarkerFile.h"

#include <uefi/UefiGuids.h>

namespace {

// The simple file system and file protocols (UEFI 2.10 sections 13.4 and
// 13.5), as far as the harness uses them: OpenVolume, Open, Close, Write
// and Flush.
struct FileProtocol;
using FileOpen = EFI_STATUS(EFIAPI *)(FileProtocol *This, FileProtocol **NewHandle,
                                      CHAR16 *FileName, UINT64 OpenMode, UINT64 Attributes);
using FileClose = EFI_STATUS(EFIAPI *)(FileProtocol *This);
using FileWrite = EFI_STATUS(EFIAPI *)(FileProtocol *This, UINTN *BufferSize, VOID *Buffer);
using FileFlush = EFI_STATUS(EFIAPI *)(FileProtocol *This);

struct FileProtocol {
  UINT64 Revision;
  FileOpen Open;
  FileClose Close;
  VOID *Delete;
  VOID *Read;
  FileWrite Write;
  VOID *GetPosition;
  VOID *SetPosition;
  VOID *GetInfo;
  VOID *SetInfo;
  FileFlush Flush;
};
static_assert(sizeof(FileProtocol) == 88, "EFI_FILE_PROTOCOL revision 1 layout");

struct SimpleFileSystemProtocol {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *OpenVolume)(SimpleFileSystemProtocol *This, FileProtocol **Root);
};
static_assert(sizeof(SimpleFileSystemProtocol) == 16, "EFI_SIMPLE_FILE_SYSTEM_PROTOCOL layout");

constexpr UINT64 fileModeRead = 0x0000000000000001ull;

// The root directory of the volume the harness was started from, or NULL.
FileProtocol *OpenHarnessVolume(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices) {
  EFI_GUID fileSystemGuid = {
      0x964e5b22, 0x6459, 0x11d2, {0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
  EFI_LOADED_IMAGE_PROTOCOL *loadedImage = nullptr;
  if (EFI_ERROR(BootServices->HandleProtocol(HarnessImage, &gEfiLoadedImageProtocolGuid,
                                             reinterpret_cast<VOID **>(&loadedImage))) ||
      loadedImage == nullptr) {
    return nullptr;
  }
  SimpleFileSystemProtocol *fileSystem = nullptr;
  if (EFI_ERROR(BootServices->HandleProtocol(loadedImage->DeviceHandle, &fileSystemGuid,
                                             reinterpret_cast<VOID **>(&fileSystem))) ||
      fileSystem == nullptr) {
    return nullptr;
  }
  FileProtocol *root = nullptr;
  if (EFI_ERROR(fileSystem->OpenVolume(fileSystem, &root))) {
    return nullptr;
  }
  return root;
}

} // namespace

BOOLEAN MarkerFileExists(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices,
                         const CHAR16 *FileName) {
  FileProtocol *root = OpenHarnessVolume(HarnessImage, BootServices);
  if (root == nullptr) {
    return FALSE;
  }
  FileProtocol *file = nullptr;
  EFI_STATUS status = root->Open(root, &file, const_cast<CHAR16 *>(FileName), fileModeRead, 0);
  if (!EFI_ERROR(status) && file != nullptr) {
    file->Close(file);
  }
  root->Close(root);
  return !EFI_ERROR(status) && file != nullptr;
}
