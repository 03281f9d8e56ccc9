/* The packet record that the transport fills for each signed packet, and
   the apply protocol (one instance for settings, one for permissions). */
#ifndef ZELM_APPLY_PACKET_H_
#define ZELM_APPLY_PACKET_H_

#include <zelm/ZelmAuthentication.h>

EFI_EXTERN_C_BEGIN

/* Largest packet the driver accepts. */
#define ZELM_MAX_PACKET_SIZE 0x6000u

/* Packet states. */
#define ZELM_PACKET_STATE_NONE 0u
#define ZELM_PACKET_STATE_PENDING 1u
#define ZELM_PACKET_STATE_AUTHENTICATED 2u
#define ZELM_PACKET_STATE_APPLIED 4u
/* Refusals: a version below the lowest supported one, a malformed packet,
   inconsistent lengths or versions, a refused signature, an internal or
   record failure. */
#define ZELM_PACKET_STATE_VERSION_TOO_LOW 240u
#define ZELM_PACKET_STATE_MALFORMED 248u
#define ZELM_PACKET_STATE_BAD_LENGTH 253u
#define ZELM_PACKET_STATE_SIGNATURE_REFUSED 254u
#define ZELM_PACKET_STATE_INTERNAL_FAILURE 255u

/* Largest result text, its NUL counted. */
#define ZELM_MAX_RESULT_SIZE 8192u

typedef struct {
  CONST UINT8 *PacketData;
  UINT64 PacketSize;
  CONST CHAR16 *MailboxVariableName;
  CONST CHAR16 *ResultVariableName;
  UINT8 Reserved0[12];
  UINT8 FormatVersion;
  UINT8 Reserved1[3];
  CONST UINT8 *Signature;
  UINT64 SignedLength;
  UINT32 State;
  UINT32 SessionId;
  UINT8 Reserved2[32];
  UINT8 NoAppend;
  UINT8 Reserved3[7];
  EFI_STATUS Status;
  UINT8 ResetRequired;
  UINT8 PermissionsChanged;
  UINT8 Reserved4[6];
  UINT64 PayloadSize;
  CONST CHAR8 *Payload;
  ZELM_AUTH_TOKEN AuthToken;
  UINT8 Reserved5[8];
  CHAR8 *ResultText;
  UINT64 ResultSize;
} ZELM_APPLY_PACKET;
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, FormatVersion) == 0x2c, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, Signature) == 0x30, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, State) == 0x40, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, SessionId) == 0x44, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, NoAppend) == 0x68, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, Status) == 0x70, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, ResetRequired) == 0x78, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, PermissionsChanged) == 0x79,
                  "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, PayloadSize) == 0x80, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, Payload) == 0x88, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, AuthToken) == 0x90, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, ResultText) == 0xa0, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(offsetof(ZELM_APPLY_PACKET, ResultSize) == 0xa8, "ZELM_APPLY_PACKET layout");
EFI_STATIC_ASSERT(sizeof(ZELM_APPLY_PACKET) == 0xb0, "ZELM_APPLY_PACKET layout");

#define ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE 0x41505059u /* "YPPA" */
#define ZELM_APPLY_PACKET_PROTOCOL_VERSION 1u

typedef struct ZELM_APPLY_PACKET_PROTOCOL_ ZELM_APPLY_PACKET_PROTOCOL;

/* Checks, authenticates and applies one packet; outcome in Packet->State,
   Packet->Status and Packet->ResetRequired. */
typedef EFI_STATUS(EFIAPI *ZELM_APPLY_PACKET_APPLY)(IN ZELM_APPLY_PACKET_PROTOCOL *This,
                                                    IN OUT ZELM_APPLY_PACKET *Packet);
/* Writes the packet's result variable. */
typedef EFI_STATUS(EFIAPI *ZELM_APPLY_PACKET_REPORT_RESULT)(IN ZELM_APPLY_PACKET_PROTOCOL *This,
                                                            IN OUT ZELM_APPLY_PACKET *Packet);
/* Commits or discards the packet's provisional changes. */
typedef EFI_STATUS(EFIAPI *ZELM_APPLY_PACKET_COMPLETE)(IN ZELM_APPLY_PACKET_PROTOCOL *This,
                                                       IN OUT ZELM_APPLY_PACKET *Packet,
                                                       IN UINT8 Operation);

struct ZELM_APPLY_PACKET_PROTOCOL_ {
  UINT32 Signature;
  UINT32 Version;
  ZELM_APPLY_PACKET_APPLY ApplyPacket;
  ZELM_APPLY_PACKET_REPORT_RESULT ReportResult;
  ZELM_APPLY_PACKET_COMPLETE CompletePacket;
};
EFI_STATIC_ASSERT(sizeof(ZELM_APPLY_PACKET_PROTOCOL) == 32, "ZELM_APPLY_PACKET_PROTOCOL layout");

EFI_EXTERN_C_END

#endif
