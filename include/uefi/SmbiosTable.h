/* The SMBIOS structure table as the firmware publishes it: the 64-bit
   entry point of DMTF DSP0134 3.x (section 5.2.2), found in the UEFI
   configuration table under SMBIOS3_TABLE_GUID (UEFI 2.10 section 4.6). */
#ifndef UEFI_SMBIOS_TABLE_H_
#define UEFI_SMBIOS_TABLE_H_

#include <uefi/UefiBaseType.h>

/* F2FD1544-9794-4A2C-992E-E5BBCF20E394 */
#define SMBIOS3_TABLE_GUID                                                                         \
  {                                                                                                \
    0xf2fd1544, 0x9794, 0x4a2c, {                                                                  \
      0x99, 0x2e, 0xe5, 0xbb, 0xcf, 0x20, 0xe3, 0x94                                               \
    }                                                                                              \
  }

/* The anchor string, without a terminator, and the entry point's length. */
#define SMBIOS3_ANCHOR_STRING "_SM3_"
#define SMBIOS3_ANCHOR_LENGTH 5
#define SMBIOS3_ENTRY_POINT_LENGTH 0x18

/* Structure types the driver reads. */
#define SMBIOS_TYPE_SYSTEM_INFORMATION 1
#define SMBIOS_TYPE_END_OF_TABLE 127

#pragma pack(push, 1)
typedef struct {
  UINT8 AnchorString[SMBIOS3_ANCHOR_LENGTH];
  UINT8 EntryPointStructureChecksum; /* all bytes of the structure sum to 0 */
  UINT8 EntryPointLength;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
  UINT8 DocRev;
  UINT8 EntryPointRevision;
  UINT8 Reserved;
  UINT32 TableMaximumSize; /* the structure table lies within this many bytes */
  UINT64 TableAddress;
} SMBIOS_TABLE_3_0_ENTRY_POINT;
#pragma pack(pop)
EFI_STATIC_ASSERT(offsetof(SMBIOS_TABLE_3_0_ENTRY_POINT, EntryPointLength) == 0x06,
                  "SMBIOS 3.0 entry point layout");
EFI_STATIC_ASSERT(offsetof(SMBIOS_TABLE_3_0_ENTRY_POINT, TableMaximumSize) == 0x0C,
                  "SMBIOS 3.0 entry point layout");
EFI_STATIC_ASSERT(offsetof(SMBIOS_TABLE_3_0_ENTRY_POINT, TableAddress) == 0x10,
                  "SMBIOS 3.0 entry point layout");
EFI_STATIC_ASSERT(sizeof(SMBIOS_TABLE_3_0_ENTRY_POINT) == SMBIOS3_ENTRY_POINT_LENGTH,
                  "SMBIOS 3.0 entry point layout");

#endif
