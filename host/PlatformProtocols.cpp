// Platform interfaces a test may publish: the shared hook registry (and a
// walker that runs its actions), the pointer-conversion service, device-path
// utilities and the variable lock protocol.
#include <platform/PlatformGuids.h>
#include <platform/PlatformHookRegistry.h>
#include <uefi/UefiGuids.h>

#include <algorithm>
#include <cstring>

#include "host/FirmwareState.h"

namespace host {

namespace {

EFI_STATUS EFIAPI RegisterPointer(VOID **Address) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    s->pointerConversions.registered.push_back(Address);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI UnregisterPointer(VOID **Address) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::vector<VOID **> active = s->pointerConversions.Active();
    bool known = std::find(active.begin(), active.end(), Address) != active.end();
    s->pointerConversions.unregistered.push_back(Address);
    return known ? EFI_SUCCESS : EFI_NOT_FOUND;
  });
}

PLATFORM_POINTER_CONVERSION_PROTOCOL gPointerConversion = {nullptr, nullptr, RegisterPointer,
                                                           UnregisterPointer};

EFI_STATUS EFIAPI RequestToLock(CONST EDKII_VARIABLE_LOCK_PROTOCOL *, CHAR16 *VariableName,
                                EFI_GUID *VendorGuid) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || VariableName == nullptr || VendorGuid == nullptr || VariableName[0] == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (s->endOfDxe) {
    return EFI_ACCESS_DENIED;
  }
  return Guarded([&] {
    s->lockedVariables.insert(VariableId{std::u16string(VariableName), *VendorGuid});
    return EFI_SUCCESS;
  });
}

EDKII_VARIABLE_LOCK_PROTOCOL gVariableLock = {RequestToLock};

template <typename T> T *Containing(LIST_ENTRY *link, size_t offset) {
  return reinterpret_cast<T *>(reinterpret_cast<UINT8 *>(link) - offset);
}

} // namespace

std::vector<VOID **> PointerConversionLog::Active() const {
  std::vector<VOID **> active = registered;
  for (VOID **gone : unregistered) {
    auto it = std::find(active.begin(), active.end(), gone);
    if (it != active.end()) {
      active.erase(it);
    }
  }
  return active;
}

LIST_ENTRY *Firmware::InstallHookRegistry() {
  auto head = std::make_unique<LIST_ENTRY>();
  head->ForwardLink = head.get();
  head->BackLink = head.get();
  state_->InstallOnNewHandle(gPlatformHookRegistryProtocolGuid, head.get());
  state_->hookRegistry = std::move(head);
  return state_->hookRegistry.get();
}

size_t Firmware::RunHookPoint(const EFI_GUID &hookGuid) {
  auto *head = static_cast<LIST_ENTRY *>(FindProtocol(gPlatformHookRegistryProtocolGuid));
  if (head == nullptr) {
    head = static_cast<LIST_ENTRY *>(FindSmmProtocol(gPlatformHookRegistryProtocolGuid));
  }
  if (head == nullptr) {
    return 0;
  }
  size_t ran = 0;
  for (LIST_ENTRY *link = head->ForwardLink; link != head; link = link->ForwardLink) {
    auto *header = Containing<PLATFORM_HOOK_HEADER>(link, offsetof(PLATFORM_HOOK_HEADER, Link));
    EFI_GUID guid;
    std::memcpy(&guid, &header->HookGuid, sizeof(guid));
    if (header->Signature != PLATFORM_HOOK_HEADER_SIGNATURE || !GuidEqual(guid, hookGuid)) {
      continue;
    }
    for (LIST_ENTRY &list : header->FirstSet) {
      for (LIST_ENTRY *entry = list.ForwardLink; entry != &list;) {
        LIST_ENTRY *next = entry->ForwardLink; // an action may unlink itself
        auto *callback =
            Containing<PLATFORM_HOOK_CALLBACK>(entry, offsetof(PLATFORM_HOOK_CALLBACK, FirstLink));
        if (callback->Signature == PLATFORM_HOOK_CALLBACK_SIGNATURE &&
            callback->Action != nullptr) {
          callback->Action();
          ran++;
        }
        entry = next;
      }
    }
  }
  return ran;
}

void Firmware::InstallPointerConversion() {
  state_->InstallOnNewHandle(gPlatformPointerConversionProtocolGuid, &gPointerConversion);
}

const PointerConversionLog &Firmware::PointerConversions() const {
  return state_->pointerConversions;
}

void Firmware::InstallVariableLock() {
  state_->InstallOnNewHandle(gEdkiiVariableLockProtocolGuid, &gVariableLock);
}

void Firmware::LockVariable(std::u16string_view name, const EFI_GUID &guid) {
  state_->lockedVariables.insert(VariableId{std::u16string(name), guid});
}

bool Firmware::IsVariableLocked(std::u16string_view name, const EFI_GUID &guid) const {
  return state_->lockedVariables.count(VariableId{std::u16string(name), guid}) != 0;
}

} // namespace host
