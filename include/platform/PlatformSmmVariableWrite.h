/* The privileged variable write: a message sent through
   EFI_SMM_COMMUNICATION_PROTOCOL (header GUID EFI_SMM_VARIABLE_PROTOCOL_GUID)
   that the platform's SMM-side handler carries out, also for variables that
   are write-locked. All integers little-endian; the header is packed, the
   UTF-16 name (NameSize bytes, terminated) and the data follow it. */
#ifndef PLATFORM_SMM_VARIABLE_WRITE_H_
#define PLATFORM_SMM_VARIABLE_WRITE_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

/* The value of MessageLength in every message. */
#define PLATFORM_SMM_VARIABLE_WRITE_MESSAGE_LENGTH 0x1114Eu
#define PLATFORM_SMM_VARIABLE_WRITE_SIGNATURE 0x53565353u /* "SSVS" */
#define PLATFORM_SMM_VARIABLE_WRITE_FUNCTION 0x21u

#pragma pack(push, 1)
typedef struct {
  /* EFI_SMM_COMMUNICATE_HEADER. */
  EFI_GUID HeaderGuid;
  UINT64 MessageLength;
  /* Preset to EFI_UNSUPPORTED; the handler stores its result here. */
  UINT64 ReturnStatus;
  UINT32 Signature;
  UINT32 Function;
  EFI_GUID VendorGuid;
  UINT32 Attributes;
  UINT64 NameSize;
  UINT64 DataSize;
  UINT16 Reserved;
} PLATFORM_SMM_VARIABLE_WRITE_HEADER;
#pragma pack(pop)

EFI_STATIC_ASSERT(sizeof(PLATFORM_SMM_VARIABLE_WRITE_HEADER) == 0x4E, "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, MessageLength) == 0x10,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, ReturnStatus) == 0x18,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, Signature) == 0x20,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, Function) == 0x24,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, VendorGuid) == 0x28,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, Attributes) == 0x38,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, NameSize) == 0x3C,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, DataSize) == 0x44,
                  "privileged write layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, Reserved) == 0x4C,
                  "privileged write layout");

EFI_EXTERN_C_END

#endif
