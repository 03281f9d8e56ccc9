/* The platform region table ("QFDM"): a read-only, checksummed table in
   memory that tells where the platform keeps certain regions. All integers
   little-endian; the records are packed and may sit at any alignment. */
#ifndef PLATFORM_REGION_TABLE_H_
#define PLATFORM_REGION_TABLE_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

#define PLATFORM_REGION_TABLE_SIGNATURE 0x4D444651u /* "QFDM" */
/* Entry attribute: the entry is to be ignored. */
#define PLATFORM_REGION_ATTRIBUTE_IGNORED 0x00000002u

#pragma pack(push, 1)
typedef struct {
  UINT32 Signature;
  /* Bytes from the table start to its end, header included. */
  UINT32 Length;
  UINT32 FirstEntryOffset;
  /* Distance from one entry to the next. */
  UINT32 EntrySize;
  UINT32 Reserved;
  /* Added to every entry's RegionOffset. */
  UINT64 BaseAddress;
} PLATFORM_REGION_TABLE_HEADER;

typedef struct {
  EFI_GUID Type;
  EFI_GUID SubId;
  UINT64 RegionOffset;
  UINT64 RegionSize;
  UINT32 Attributes;
} PLATFORM_REGION_TABLE_ENTRY;
#pragma pack(pop)

EFI_STATIC_ASSERT(sizeof(PLATFORM_REGION_TABLE_HEADER) == 28, "region table header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_HEADER, EntrySize) == 12,
                  "region table header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_HEADER, BaseAddress) == 20,
                  "region table header layout");
EFI_STATIC_ASSERT(sizeof(PLATFORM_REGION_TABLE_ENTRY) == 52, "region table entry layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_ENTRY, SubId) == 16, "region table entry layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_ENTRY, RegionOffset) == 32,
                  "region table entry layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_ENTRY, RegionSize) == 40,
                  "region table entry layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_REGION_TABLE_ENTRY, Attributes) == 48,
                  "region table entry layout");

/* The variable region (PLATFORM_VARIABLE_REGION_GUID) holds at this offset a
   16-bit distance from the region start to the address handed to pointer
   conversion. */
#define PLATFORM_VARIABLE_REGION_POINTER_OFFSET 0x30u

EFI_EXTERN_C_END

#endif
