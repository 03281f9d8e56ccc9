#include "host/ProtocolDatabase.h"

#include <algorithm>

#include "host/HostPlatform.h"

namespace host {

ProtocolDatabase::HandleEntry *ProtocolDatabase::FindHandle(EFI_HANDLE handle) const {
  for (const auto &entry : handles_) {
    if (entry.get() == handle) {
      return entry->live ? entry.get() : nullptr;
    }
  }
  return nullptr;
}

ProtocolDatabase::Registration *ProtocolDatabase::FindRegistration(VOID *registration) const {
  for (const auto &entry : registrations_) {
    if (entry.get() == registration) {
      return entry->live ? entry.get() : nullptr;
    }
  }
  return nullptr;
}

void ProtocolDatabase::Notify(const EFI_GUID &guid, EFI_HANDLE handle, VOID *interface) {
  // A notification may register or cancel others; walk a snapshot.
  std::vector<Registration *> targets;
  for (const auto &entry : registrations_) {
    if (entry->live && GuidEqual(entry->guid, guid)) {
      targets.push_back(entry.get());
    }
  }
  for (Registration *target : targets) {
    target->pending.emplace_back(handle, interface);
  }
  for (Registration *target : targets) {
    if (!target->live) {
      continue;
    }
    if (target->function != nullptr) {
      target->function(&guid, interface, handle);
    } else if (signalEvent) {
      signalEvent(target->event);
    }
  }
}

void ProtocolDatabase::ForgetPending(EFI_HANDLE handle, const EFI_GUID &guid) {
  for (const auto &entry : registrations_) {
    if (GuidEqual(entry->guid, guid)) {
      auto &pending = entry->pending;
      pending.erase(std::remove_if(pending.begin(), pending.end(),
                                   [handle](const auto &p) { return p.first == handle; }),
                    pending.end());
    }
  }
}

EFI_STATUS ProtocolDatabase::Install(EFI_HANDLE *handle, const EFI_GUID *guid,
                                     EFI_INTERFACE_TYPE type, VOID *interface) {
  if (handle == nullptr || guid == nullptr || type != EFI_NATIVE_INTERFACE) {
    return EFI_INVALID_PARAMETER;
  }
  HandleEntry *entry = nullptr;
  if (*handle != nullptr) {
    entry = FindHandle(*handle);
    if (entry == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (const auto &installed : entry->protocols) {
      if (GuidEqual(installed.first, *guid)) {
        return EFI_INVALID_PARAMETER;
      }
    }
  } else {
    handles_.push_back(std::make_unique<HandleEntry>());
    entry = handles_.back().get();
    *handle = static_cast<EFI_HANDLE>(entry);
  }
  entry->protocols.emplace_back(*guid, interface);
  EFI_GUID copy = *guid;
  Notify(copy, static_cast<EFI_HANDLE>(entry), interface);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Uninstall(EFI_HANDLE handle, const EFI_GUID *guid, VOID *interface) {
  HandleEntry *entry = FindHandle(handle);
  if (entry == nullptr || guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = std::find_if(entry->protocols.begin(), entry->protocols.end(), [&](const auto &p) {
    return GuidEqual(p.first, *guid) && p.second == interface;
  });
  if (it == entry->protocols.end()) {
    return EFI_NOT_FOUND;
  }
  EFI_GUID copy = *guid;
  entry->protocols.erase(it);
  ForgetPending(handle, copy);
  // A handle without protocols ceases to exist.
  if (entry->protocols.empty()) {
    entry->live = false;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Reinstall(EFI_HANDLE handle, const EFI_GUID *guid, VOID *oldInterface,
                                       VOID *newInterface) {
  HandleEntry *entry = FindHandle(handle);
  if (entry == nullptr || guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = std::find_if(entry->protocols.begin(), entry->protocols.end(), [&](const auto &p) {
    return GuidEqual(p.first, *guid) && p.second == oldInterface;
  });
  if (it == entry->protocols.end()) {
    return EFI_NOT_FOUND;
  }
  EFI_GUID copy = *guid;
  it->second = newInterface;
  ForgetPending(handle, copy);
  Notify(copy, handle, newInterface);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid,
                                            VOID **interface) const {
  if (interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *interface = nullptr;
  HandleEntry *entry = FindHandle(handle);
  if (entry == nullptr || guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (const auto &installed : entry->protocols) {
    if (GuidEqual(installed.first, *guid)) {
      *interface = installed.second;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS ProtocolDatabase::RegisterEvent(const EFI_GUID *guid, EFI_EVENT event,
                                           VOID **registration) {
  if (guid == nullptr || event == nullptr || registration == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto entry = std::make_unique<Registration>();
  entry->guid = *guid;
  entry->event = event;
  *registration = entry.get();
  registrations_.push_back(std::move(entry));
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::RegisterFunction(const EFI_GUID *guid, EFI_SMM_NOTIFY_FN function,
                                              VOID **registration) {
  if (guid == nullptr || registration == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (function == nullptr) {
    Registration *existing = FindRegistration(*registration);
    if (existing == nullptr || !GuidEqual(existing->guid, *guid)) {
      return EFI_NOT_FOUND;
    }
    existing->live = false;
    existing->pending.clear();
    return EFI_SUCCESS;
  }
  auto entry = std::make_unique<Registration>();
  entry->guid = *guid;
  entry->function = function;
  *registration = entry.get();
  registrations_.push_back(std::move(entry));
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::LocateProtocol(const EFI_GUID *guid, VOID *registration,
                                            VOID **interface) {
  if (guid == nullptr || interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *interface = nullptr;
  if (registration != nullptr) {
    Registration *entry = FindRegistration(registration);
    if (entry == nullptr || !GuidEqual(entry->guid, *guid) || entry->pending.empty()) {
      return EFI_NOT_FOUND;
    }
    *interface = entry->pending.front().second;
    entry->pending.pop_front();
    return EFI_SUCCESS;
  }
  for (const auto &handle : handles_) {
    if (!handle->live) {
      continue;
    }
    for (const auto &installed : handle->protocols) {
      if (GuidEqual(installed.first, *guid)) {
        *interface = installed.second;
        return EFI_SUCCESS;
      }
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS ProtocolDatabase::LocateHandle(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid,
                                          VOID *key, UINTN *bufferSize, EFI_HANDLE *buffer) {
  if (bufferSize == nullptr || (*bufferSize != 0 && buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> found;
  Registration *registration = nullptr;
  switch (type) {
  case AllHandles:
    found = Handles();
    break;
  case ByProtocol:
    if (guid == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (EFI_HANDLE handle : Handles()) {
      for (const EFI_GUID &on : GuidsOn(handle)) {
        if (GuidEqual(on, *guid)) {
          found.push_back(handle);
          break;
        }
      }
    }
    break;
  case ByRegisterNotify:
    registration = FindRegistration(key);
    if (registration == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    // One handle per call: the next one installed since the last look.
    if (!registration->pending.empty()) {
      found.push_back(registration->pending.front().first);
    }
    break;
  default:
    return EFI_INVALID_PARAMETER;
  }
  if (found.empty()) {
    return EFI_NOT_FOUND;
  }
  UINTN needed = found.size() * sizeof(EFI_HANDLE);
  if (*bufferSize < needed) {
    *bufferSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  *bufferSize = needed;
  std::copy(found.begin(), found.end(), buffer);
  if (registration != nullptr) {
    registration->pending.pop_front();
  }
  return EFI_SUCCESS;
}

void ProtocolDatabase::DropEventRegistrations(EFI_EVENT event) {
  for (const auto &entry : registrations_) {
    if (entry->live && entry->event == event) {
      entry->live = false;
      entry->pending.clear();
    }
  }
}

std::vector<EFI_HANDLE> ProtocolDatabase::Handles() const {
  std::vector<EFI_HANDLE> live;
  for (const auto &entry : handles_) {
    if (entry->live) {
      live.push_back(static_cast<EFI_HANDLE>(entry.get()));
    }
  }
  return live;
}

std::vector<EFI_GUID> ProtocolDatabase::GuidsOn(EFI_HANDLE handle) const {
  std::vector<EFI_GUID> guids;
  if (HandleEntry *entry = FindHandle(handle)) {
    for (const auto &installed : entry->protocols) {
      guids.push_back(installed.first);
    }
  }
  return guids;
}

std::vector<ProtocolRecord> ProtocolDatabase::Records() const {
  std::vector<ProtocolRecord> records;
  for (const auto &entry : handles_) {
    if (!entry->live) {
      continue;
    }
    for (const auto &installed : entry->protocols) {
      records.push_back(ProtocolRecord{entry.get(), installed.first, installed.second});
    }
  }
  return records;
}

size_t ProtocolDatabase::RegistrationCount() const {
  return static_cast<size_t>(std::count_if(registrations_.begin(), registrations_.end(),
                                           [](const auto &r) { return r->live; }));
}

} // namespace host
