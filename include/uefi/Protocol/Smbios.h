/* EFI_SMBIOS_PROTOCOL (PI 1.8 volume 5, chapter 6). */
#ifndef UEFI_PROTOCOL_SMBIOS_H_
#define UEFI_PROTOCOL_SMBIOS_H_

#include <uefi/UefiSystemTable.h>

#define EFI_SMBIOS_PROTOCOL_GUID                                                                   \
  {                                                                                                \
    0x03583ff6, 0xcb36, 0x4940, {                                                                  \
      0x94, 0x7e, 0xb9, 0xb3, 0x9f, 0x4a, 0xfa, 0xf7                                               \
    }                                                                                              \
  }

typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;
#define SMBIOS_HANDLE_PI_RESERVED 0xFFFE

#pragma pack(push, 1)
typedef struct {
  EFI_SMBIOS_TYPE Type;
  UINT8 Length;
  EFI_SMBIOS_HANDLE Handle;
} EFI_SMBIOS_TABLE_HEADER;
#pragma pack(pop)
EFI_STATIC_ASSERT(sizeof(EFI_SMBIOS_TABLE_HEADER) == 4, "layout");

typedef struct EFI_SMBIOS_PROTOCOL_ EFI_SMBIOS_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_ADD)(IN CONST EFI_SMBIOS_PROTOCOL *This,
                                           IN EFI_HANDLE ProducerHandle OPTIONAL,
                                           IN OUT EFI_SMBIOS_HANDLE *SmbiosHandle,
                                           IN EFI_SMBIOS_TABLE_HEADER *Record);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_UPDATE_STRING)(IN CONST EFI_SMBIOS_PROTOCOL *This,
                                                     IN EFI_SMBIOS_HANDLE *SmbiosHandle,
                                                     IN UINTN *StringNumber, IN CHAR8 *String);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_REMOVE)(IN CONST EFI_SMBIOS_PROTOCOL *This,
                                              IN EFI_SMBIOS_HANDLE SmbiosHandle);
typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_GET_NEXT)(IN CONST EFI_SMBIOS_PROTOCOL *This,
                                                IN OUT EFI_SMBIOS_HANDLE *SmbiosHandle,
                                                IN EFI_SMBIOS_TYPE *Type OPTIONAL,
                                                OUT EFI_SMBIOS_TABLE_HEADER **Record,
                                                OUT EFI_HANDLE *ProducerHandle OPTIONAL);
struct EFI_SMBIOS_PROTOCOL_ {
  EFI_SMBIOS_ADD Add;
  EFI_SMBIOS_UPDATE_STRING UpdateString;
  EFI_SMBIOS_REMOVE Remove;
  EFI_SMBIOS_GET_NEXT GetNext;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};
EFI_STATIC_ASSERT(offsetof(EFI_SMBIOS_PROTOCOL, MajorVersion) == 32, "layout");

#endif
