#include "driver/HookRegistry.h"

#include <platform/PlatformGuids.h>

#include "driver/DriverState.h"
#include "driver/Smm.h"
#include "support/FirmwareTables.h"
#include "support/List.h"
#include "support/Memory.h"
#include "support/Pool.h"

namespace {

constexpr UINT32 kPriorities[PLATFORM_HOOK_PRIORITY_COUNT] = {16, 9, 8, 7, 6};

UINTN PriorityIndex(UINT32 priority) {
  for (UINTN i = 0; i < PLATFORM_HOOK_PRIORITY_COUNT; i++) {
    if (kPriorities[i] == priority) {
      return i;
    }
  }
  return 0;
}

PLATFORM_HOOK_HEADER *FindHeader(const EFI_GUID *hookGuid) {
  LIST_ENTRY *head = mDriver.hookRegistry;
  for (LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
    auto *header =
        ContainingRecord<PLATFORM_HOOK_HEADER>(link, offsetof(PLATFORM_HOOK_HEADER, Link));
    if (header->Signature == PLATFORM_HOOK_HEADER_SIGNATURE &&
        CompareGuid(&header->HookGuid, hookGuid)) {
      return header;
    }
  }
  return nullptr;
}

PLATFORM_HOOK_HEADER *CreateHeader(const EFI_GUID *hookGuid) {
  auto *header = static_cast<PLATFORM_HOOK_HEADER *>(AllocZeroedPool(sizeof(PLATFORM_HOOK_HEADER)));
  if (header == nullptr) {
    return nullptr;
  }
  header->Signature = PLATFORM_HOOK_HEADER_SIGNATURE;
  for (UINTN i = 0; i < PLATFORM_HOOK_PRIORITY_COUNT; i++) {
    InitializeListHead(&header->FirstSet[i]);
    InitializeListHead(&header->SecondSet[i]);
  }
  CopyMem(&header->HookGuid, hookGuid, sizeof(EFI_GUID));
  InsertTailList(mDriver.hookRegistry, &header->Link);
  return header;
}

} // namespace

VOID InitHookRegistry(VOID) {
  EFI_SMM_SYSTEM_TABLE2 *smst = nullptr;
  BOOLEAN inSmm = QuerySmm(&smst) && smst != nullptr;
  VOID *existing = nullptr;
  EFI_STATUS status =
      inSmm ? smst->SmmLocateProtocol(&gPlatformHookRegistryProtocolGuid, nullptr, &existing)
            : gBS->LocateProtocol(&gPlatformHookRegistryProtocolGuid, nullptr, &existing);
  if (!EFI_ERROR(status) && existing != nullptr) {
    mDriver.hookRegistry = static_cast<LIST_ENTRY *>(existing);
    return;
  }
  auto *head = static_cast<LIST_ENTRY *>(AllocPool(sizeof(LIST_ENTRY)));
  if (head == nullptr) {
    return;
  }
  InitializeListHead(head);
  EFI_HANDLE handle = nullptr;
  status = inSmm ? smst->SmmInstallProtocolInterface(&handle, &gPlatformHookRegistryProtocolGuid,
                                                     EFI_NATIVE_INTERFACE, head)
                 : gBS->InstallProtocolInterface(&handle, &gPlatformHookRegistryProtocolGuid,
                                                 EFI_NATIVE_INTERFACE, head);
  if (EFI_ERROR(status)) {
    FreePool(head);
    return;
  }
  mDriver.hookRegistry = head;
}

EFI_STATUS RegisterHookAction(const EFI_GUID *HookGuid, UINT32 Priority,
                              PLATFORM_HOOK_ACTION Action, PLATFORM_HOOK_CALLBACK **Record) {
  if (HookGuid == nullptr || Action == nullptr || Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (mDriver.hookRegistry == nullptr) {
    return EFI_NOT_READY;
  }
  PLATFORM_HOOK_HEADER *header = FindHeader(HookGuid);
  if (header == nullptr) {
    header = CreateHeader(HookGuid);
    if (header == nullptr) {
      return EFI_OUT_OF_RESOURCES;
    }
  }
  auto *record =
      static_cast<PLATFORM_HOOK_CALLBACK *>(AllocZeroedPool(sizeof(PLATFORM_HOOK_CALLBACK)));
  if (record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  record->Signature = PLATFORM_HOOK_CALLBACK_SIGNATURE;
  CopyMem(&record->HookGuid, HookGuid, sizeof(EFI_GUID));
  record->Priority = Priority;
  record->Action = Action;
  InitializeListHead(&record->FirstLink);
  InitializeListHead(&record->SecondLink);
  *Record = record;

  UINTN index = PriorityIndex(Priority);
  InsertTailList(&header->FirstSet[index], &record->FirstLink);
  if (header->Version >= PLATFORM_HOOK_SECOND_SET_VERSION) {
    InsertTailList(&header->SecondSet[index], &record->SecondLink);
  }
  return header->State != 0 ? EFI_WARN_STALE_DATA : EFI_SUCCESS;
}

VOID UnregisterHookAction(PLATFORM_HOOK_CALLBACK *Record) {
  if (Record == nullptr) {
    return;
  }
  // Links that were never inserted point to themselves, so removal is safe.
  RemoveEntryList(&Record->FirstLink);
  RemoveEntryList(&Record->SecondLink);
  FreePool(Record);
}
