/* EFI_DEVICE_PATH_PROTOCOL nodes (UEFI 2.10 sections 10.2 and 10.3): the
   generic node header lives in UefiSystemTable.h; here are the GUID, the end node
   and the media file-path node. */
#ifndef UEFI_PROTOCOL_DEVICE_PATH_H_
#define UEFI_PROTOCOL_DEVICE_PATH_H_

#include <uefi/UefiSystemTable.h>

EFI_EXTERN_C_BEGIN

#define EFI_DEVICE_PATH_PROTOCOL_GUID                                                              \
  {                                                                                                \
    0x09576e91, 0x6d3f, 0x11d2, {                                                                  \
      0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b                                               \
    }                                                                                              \
  }

/* Node types (section 10.3.1). */
#define MEDIA_DEVICE_PATH 0x04
#define END_DEVICE_PATH_TYPE 0x7f

/* Sub-types. */
#define MEDIA_FILEPATH_DP 0x04
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xff
#define END_INSTANCE_DEVICE_PATH_SUBTYPE 0x01

/* Section 10.3.5.4: a NUL-terminated path name follows the header; the
   node's Length covers header and name. */
typedef struct {
  EFI_DEVICE_PATH_PROTOCOL Header;
  /* CHAR16 PathName[] follows. */
} FILEPATH_DEVICE_PATH;
EFI_STATIC_ASSERT(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "EFI_DEVICE_PATH_PROTOCOL layout");
EFI_STATIC_ASSERT(sizeof(FILEPATH_DEVICE_PATH) == 4, "FILEPATH_DEVICE_PATH layout");

EFI_EXTERN_C_END

#endif
