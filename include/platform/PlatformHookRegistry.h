/* The platform's shared hook registry: a list of hook points, each with
   prioritised lists of actions. Its list head is the interface of
   gPlatformHookRegistryProtocolGuid. All integers little-endian. */
#ifndef PLATFORM_HOOK_REGISTRY_H_
#define PLATFORM_HOOK_REGISTRY_H_

#include <uefi/UefiBaseType.h>

EFI_EXTERN_C_BEGIN

#define PLATFORM_HOOK_HEADER_SIGNATURE 0x48435051u   /* "QPCH" */
#define PLATFORM_HOOK_CALLBACK_SIGNATURE 0x50435051u /* "QPCP" */
#define PLATFORM_HOOK_PRIORITY_COUNT 5
/* Version from which the second set of lists is in use. */
#define PLATFORM_HOOK_SECOND_SET_VERSION 8

typedef VOID(EFIAPI *PLATFORM_HOOK_ACTION)(VOID);

/* Naturally aligned; the asserts below pin the layout. */
typedef struct {
  UINT32 Signature;
  UINT32 Reserved0;
  LIST_ENTRY Link;
  /* One list per priority, in the order 16, 9, 8, 7, 6. */
  LIST_ENTRY FirstSet[PLATFORM_HOOK_PRIORITY_COUNT];
  LIST_ENTRY SecondSet[PLATFORM_HOOK_PRIORITY_COUNT];
  UINT64 State;
  INT32 Version;
  EFI_GUID HookGuid;
  UINT8 Reserved1[12];
} PLATFORM_HOOK_HEADER;

typedef struct {
  UINT32 Signature;
  UINT32 Reserved0;
  LIST_ENTRY FirstLink;
  LIST_ENTRY SecondLink;
  EFI_GUID HookGuid;
  UINT32 Priority;
  UINT32 Reserved1;
  PLATFORM_HOOK_ACTION Action;
  UINT8 Reserved2[24];
} PLATFORM_HOOK_CALLBACK;

EFI_STATIC_ASSERT(sizeof(PLATFORM_HOOK_HEADER) == 224, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, Link) == 8, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, FirstSet) == 24, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, SecondSet) == 104, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, State) == 184, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, Version) == 192, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_HEADER, HookGuid) == 196, "PLATFORM_HOOK_HEADER layout");
EFI_STATIC_ASSERT(sizeof(PLATFORM_HOOK_CALLBACK) == 96, "PLATFORM_HOOK_CALLBACK layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_CALLBACK, SecondLink) == 24,
                  "PLATFORM_HOOK_CALLBACK layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_CALLBACK, HookGuid) == 40,
                  "PLATFORM_HOOK_CALLBACK layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_CALLBACK, Priority) == 56,
                  "PLATFORM_HOOK_CALLBACK layout");
EFI_STATIC_ASSERT(offsetof(PLATFORM_HOOK_CALLBACK, Action) == 64, "PLATFORM_HOOK_CALLBACK layout");

EFI_EXTERN_C_END

#endif
