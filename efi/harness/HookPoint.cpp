#include "efi/harness/HookPoint.h"

#include <platform/PlatformGuids.h>
#include <platform/PlatformHookRegistry.h>

#include "support/Memory.h"

namespace {

// More links than any registry holds: a list that has not closed by then
// is broken, and walking on would never end.
constexpr UINTN maxLinks = 256;

template <typename T> T *RecordOf(LIST_ENTRY *link, UINTN offset) {
  return reinterpret_cast<T *>(reinterpret_cast<UINT8 *>(link) - offset);
}

PLATFORM_HOOK_HEADER *FindHeader(LIST_ENTRY *head, const EFI_GUID *hookGuid) {
  UINTN links = 0;
  for (LIST_ENTRY *link = head->ForwardLink; link != head && links < maxLinks;
       link = link->ForwardLink, ++links) {
    auto *header = RecordOf<PLATFORM_HOOK_HEADER>(link, offsetof(PLATFORM_HOOK_HEADER, Link));
    if (header->Signature == PLATFORM_HOOK_HEADER_SIGNATURE &&
        CompareGuid(&header->HookGuid, hookGuid)) {
      return header;
    }
  }
  return nullptr;
}

EFI_STATUS RunList(LIST_ENTRY *list, UINTN *actionsRun) {
  UINTN links = 0;
  for (LIST_ENTRY *link = list->ForwardLink; link != list; link = link->ForwardLink) {
    if (++links > maxLinks) {
      return EFI_VOLUME_CORRUPTED;
    }
    auto *callback =
        RecordOf<PLATFORM_HOOK_CALLBACK>(link, offsetof(PLATFORM_HOOK_CALLBACK, FirstLink));
    if (callback->Signature != PLATFORM_HOOK_CALLBACK_SIGNATURE || callback->Action == nullptr) {
      return EFI_VOLUME_CORRUPTED;
    }
    callback->Action();
    ++*actionsRun;
  }
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS RunHookPoint(EFI_BOOT_SERVICES *BootServices, const EFI_GUID *HookGuid,
                        UINTN *ActionsRun) {
  *ActionsRun = 0;
  VOID *interface = nullptr;
  EFI_STATUS status =
      BootServices->LocateProtocol(&gPlatformHookRegistryProtocolGuid, nullptr, &interface);
  if (EFI_ERROR(status) || interface == nullptr) {
    return EFI_NOT_FOUND;
  }
  PLATFORM_HOOK_HEADER *header = FindHeader(static_cast<LIST_ENTRY *>(interface), HookGuid);
  if (header == nullptr) {
    return EFI_NOT_FOUND;
  }
  for (LIST_ENTRY &list : header->FirstSet) {
    status = RunList(&list, ActionsRun);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  return EFI_SUCCESS;
}
