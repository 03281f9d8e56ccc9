/* Hand-off blocks (PI 1.8 volume 3, chapter 5): only what the driver reads. */
#ifndef UEFI_PI_HOB_H_
#define UEFI_PI_HOB_H_

#include <uefi/UefiBaseType.h>

#define EFI_HOB_TYPE_HANDOFF 0x0001
#define EFI_HOB_TYPE_GUID_EXTENSION 0x0004
#define EFI_HOB_TYPE_UNUSED 0xFFFE
#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;
EFI_STATIC_ASSERT(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "EFI_HOB_GENERIC_HEADER layout");

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  /* GUID-specific data follows. */
} EFI_HOB_GUID_TYPE;
EFI_STATIC_ASSERT(sizeof(EFI_HOB_GUID_TYPE) == 24, "EFI_HOB_GUID_TYPE layout");

/* 7739F24C-93D7-11D4-9A3A-0090273FC14D */
#define EFI_HOB_LIST_GUID                                                                          \
  {                                                                                                \
    0x7739f24c, 0x93d7, 0x11d4, {                                                                  \
      0x9a, 0x3a, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d                                               \
    }                                                                                              \
  }

#endif
