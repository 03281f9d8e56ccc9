/* The platform's default variable stores ("$VSS", in the default-store
   region of the region table) and the default-store protocol that names the
   store in use. All integers little-endian; records are packed and follow
   each other without alignment. */
#ifndef PLATFORM_DEFAULT_STORE_H_
#define PLATFORM_DEFAULT_STORE_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

#define PLATFORM_DEFAULT_STORE_SIGNATURE 0x53535624u /* "$VSS" */
#define PLATFORM_DEFAULT_STORE_FORMATTED 0x5A
#define PLATFORM_DEFAULT_STORE_HEALTHY 0xFE
#define PLATFORM_DEFAULT_VARIABLE_START_ID 0x55AA
#define PLATFORM_DEFAULT_VARIABLE_ADDED 0x3F
/* Largest name size + data size + PLATFORM_DEFAULT_VARIABLE_EXTENT_SLACK of
   a usable variable header. */
#define PLATFORM_DEFAULT_VARIABLE_MAX_EXTENT 0x11000u
#define PLATFORM_DEFAULT_VARIABLE_EXTENT_SLACK 16u

#pragma pack(push, 1)
typedef struct {
  UINT32 Signature;
  /* Bytes of the store, this header included; at least 16. */
  UINT32 Size;
  UINT8 Format;
  UINT8 State;
  /* Non-zero: the store is not considered. */
  UINT16 Reserved;
  UINT8 ShortId;
  /* Negative ends the walk over the stores. */
  INT8 Flags;
  /* Non-zero and at most Size: the 64-bit store id sits at
     store start + Size - ExtendedIdDistance + 6. */
  UINT16 ExtendedIdDistance;
} PLATFORM_DEFAULT_STORE_HEADER;

/* The authenticated variable header; the UTF-16 name (NameSize bytes) and
   the data (DataSize bytes) follow it. */
typedef struct {
  UINT16 StartId;
  UINT8 State;
  UINT8 Reserved;
  UINT32 Attributes;
  UINT64 MonotonicCount;
  UINT8 TimeStamp[16];
  UINT32 PubKeyIndex;
  UINT32 NameSize;
  UINT32 DataSize;
  EFI_GUID VendorGuid;
} PLATFORM_DEFAULT_VARIABLE_HEADER;
#pragma pack(pop)

EFI_STATIC_ASSERT(sizeof(PLATFORM_DEFAULT_STORE_HEADER) == 16, "default store header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_DEFAULT_STORE_HEADER, ShortId) == 12,
                  "default store header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_DEFAULT_STORE_HEADER, ExtendedIdDistance) == 14,
                  "default store header layout");
EFI_STATIC_ASSERT(sizeof(PLATFORM_DEFAULT_VARIABLE_HEADER) == 60, "default variable header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_DEFAULT_VARIABLE_HEADER, NameSize) == 36,
                  "default variable header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_DEFAULT_VARIABLE_HEADER, DataSize) == 40,
                  "default variable header layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_DEFAULT_VARIABLE_HEADER, VendorGuid) == 44,
                  "default variable header layout");

/* gPlatformDefaultStoreProtocolGuid. The driver calls only the second
   member, which returns the id of the default store in use. */
typedef UINT64(EFIAPI *PLATFORM_DEFAULT_STORE_GET_CURRENT_ID)(VOID);

typedef struct {
  VOID *Reserved;
  PLATFORM_DEFAULT_STORE_GET_CURRENT_ID GetCurrentStoreId;
} PLATFORM_DEFAULT_STORE_PROTOCOL;
EFI_STATIC_ASSERT(sizeof(PLATFORM_DEFAULT_STORE_PROTOCOL) == 16, "default store protocol layout");

EFI_EXTERN_C_END

#endif
