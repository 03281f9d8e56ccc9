/* Base types, status codes and list/GUID records of the UEFI 2.10 standard
   (sections 2.3.1 "Data Types" and Appendix D "Status Codes"), for x86-64.
   Plain C so that firmware written in C can include it. */
#ifndef UEFI_BASE_TYPE_H_
#define UEFI_BASE_TYPE_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define EFI_STATIC_ASSERT(c, m) static_assert(c, m)
#define EFI_EXTERN_C extern "C"
#define EFI_EXTERN_C_BEGIN extern "C" {
#define EFI_EXTERN_C_END }
#else
#define EFI_STATIC_ASSERT(c, m) _Static_assert(c, m)
#define EFI_EXTERN_C extern
#define EFI_EXTERN_C_BEGIN
#define EFI_EXTERN_C_END
#endif

/* UEFI 2.10 section 2.3.4: x64 uses the Microsoft calling convention, in
   both the firmware image and the host build. */
#define EFIAPI __attribute__((ms_abi))

#define IN
#define OUT
#define OPTIONAL
#define CONST const

typedef uint8_t BOOLEAN;
typedef int8_t INT8;
typedef uint8_t UINT8;
typedef int16_t INT16;
typedef uint16_t UINT16;
typedef int32_t INT32;
typedef uint32_t UINT32;
typedef int64_t INT64;
typedef uint64_t UINT64;
typedef int64_t INTN;
typedef uint64_t UINTN;
typedef char CHAR8;
#ifdef __cplusplus
/* char16_t keeps u"..." literals usable; same size and signedness as the
   UINT16 that C code sees. */
typedef char16_t CHAR16;
#else
typedef uint16_t CHAR16;
#endif
typedef void VOID;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_LBA;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

EFI_STATIC_ASSERT(sizeof(UINTN) == 8, "x86-64 only");
EFI_STATIC_ASSERT(sizeof(CHAR16) == 2, "UCS-2 code unit");
EFI_STATIC_ASSERT(sizeof(BOOLEAN) == 1, "BOOLEAN is one byte");

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;
EFI_STATIC_ASSERT(sizeof(EFI_GUID) == 16, "EFI_GUID layout");

typedef struct LIST_ENTRY_ {
  struct LIST_ENTRY_ *ForwardLink;
  struct LIST_ENTRY_ *BackLink;
} LIST_ENTRY;
EFI_STATIC_ASSERT(sizeof(LIST_ENTRY) == 16, "LIST_ENTRY layout");

/* UEFI 2.10 section 8.3: EFI_TIME. */
typedef struct {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
} EFI_TIME;
EFI_STATIC_ASSERT(sizeof(EFI_TIME) == 16, "EFI_TIME layout");
EFI_STATIC_ASSERT(offsetof(EFI_TIME, Nanosecond) == 8, "EFI_TIME layout");

typedef struct {
  UINT32 Resolution;
  UINT32 Accuracy;
  BOOLEAN SetsToZero;
} EFI_TIME_CAPABILITIES;

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;
EFI_STATIC_ASSERT(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER layout");

/* Status codes, Appendix D. */
#define EFI_MAX_BIT 0x8000000000000000ULL
#define EFIERR(a) ((EFI_STATUS)(EFI_MAX_BIT | (a)))
#define EFI_ERROR(s) (((INTN)(EFI_STATUS)(s)) < 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR EFIERR(1)
#define EFI_INVALID_PARAMETER EFIERR(2)
#define EFI_UNSUPPORTED EFIERR(3)
#define EFI_BAD_BUFFER_SIZE EFIERR(4)
#define EFI_BUFFER_TOO_SMALL EFIERR(5)
#define EFI_NOT_READY EFIERR(6)
#define EFI_DEVICE_ERROR EFIERR(7)
#define EFI_WRITE_PROTECTED EFIERR(8)
#define EFI_OUT_OF_RESOURCES EFIERR(9)
#define EFI_VOLUME_CORRUPTED EFIERR(10)
#define EFI_VOLUME_FULL EFIERR(11)
#define EFI_NO_MEDIA EFIERR(12)
#define EFI_MEDIA_CHANGED EFIERR(13)
#define EFI_NOT_FOUND EFIERR(14)
#define EFI_ACCESS_DENIED EFIERR(15)
#define EFI_NO_RESPONSE EFIERR(16)
#define EFI_NO_MAPPING EFIERR(17)
#define EFI_TIMEOUT EFIERR(18)
#define EFI_NOT_STARTED EFIERR(19)
#define EFI_ALREADY_STARTED EFIERR(20)
#define EFI_ABORTED EFIERR(21)
#define EFI_ICMP_ERROR EFIERR(22)
#define EFI_TFTP_ERROR EFIERR(23)
#define EFI_PROTOCOL_ERROR EFIERR(24)
#define EFI_INCOMPATIBLE_VERSION EFIERR(25)
#define EFI_SECURITY_VIOLATION EFIERR(26)
#define EFI_CRC_ERROR EFIERR(27)
#define EFI_END_OF_MEDIA EFIERR(28)
#define EFI_END_OF_FILE EFIERR(31)
#define EFI_INVALID_LANGUAGE EFIERR(32)
#define EFI_COMPROMISED_DATA EFIERR(33)
#define EFI_IP_ADDRESS_CONFLICT EFIERR(34)
#define EFI_HTTP_ERROR EFIERR(35)

#define EFI_WARN_UNKNOWN_GLYPH ((EFI_STATUS)1)
#define EFI_WARN_DELETE_FAILURE ((EFI_STATUS)2)
#define EFI_WARN_WRITE_FAILURE ((EFI_STATUS)3)
#define EFI_WARN_BUFFER_TOO_SMALL ((EFI_STATUS)4)
#define EFI_WARN_STALE_DATA ((EFI_STATUS)5)
#define EFI_WARN_FILE_SYSTEM ((EFI_STATUS)6)
#define EFI_WARN_RESET_REQUIRED ((EFI_STATUS)7)

#endif /* UEFI_BASE_TYPE_H_ */
