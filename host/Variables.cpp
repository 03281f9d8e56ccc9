// Variable services (UEFI 2.10 section 8.2) over the platform's store, shared
// by the runtime services table and EFI_SMM_VARIABLE_PROTOCOL.
#include <cstring>

#include "host/FirmwareState.h"

namespace host {

namespace {

constexpr UINT32 kAccess = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 kAuthenticated =
    EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS;
constexpr UINT32 kKnownAttributes = EFI_VARIABLE_NON_VOLATILE | kAccess |
                                    EFI_VARIABLE_HARDWARE_ERROR_RECORD | kAuthenticated |
                                    EFI_VARIABLE_APPEND_WRITE;
// Longest name the services read, in characters, before calling it garbage.
constexpr size_t kMaxNameChars = 0x8000;
// Largest data copied into the call log.
constexpr size_t kMaxLoggedData = 0x1000000;

bool ReadName(const CHAR16 *name, size_t maxChars, std::u16string *out) {
  for (size_t i = 0; i < maxChars; i++) {
    if (name[i] == 0) {
      out->assign(name, i);
      return true;
    }
  }
  return false;
}

// After ExitBootServices only runtime-accessible variables exist for callers.
bool Visible(const FirmwareState &s, const Variable &variable) {
  return s.bootServicesActive || (variable.attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0;
}

size_t Cost(const std::u16string &name, size_t dataSize) {
  return kVariableHeaderSize + (name.size() + 1) * sizeof(CHAR16) + dataSize;
}

EFI_STATUS SetVariableRules(FirmwareState &s, const SetVariableCall &call, const VOID *data,
                            UINTN dataSize) {
  const UINT32 attributes = call.attributes;
  if ((attributes & ~kKnownAttributes) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((attributes & kAuthenticated) != 0) {
    return EFI_UNSUPPORTED; // the double keeps no authenticated variables
  }
  if ((attributes & kAccess) == EFI_VARIABLE_RUNTIME_ACCESS) {
    return EFI_INVALID_PARAMETER;
  }
  if ((attributes & EFI_VARIABLE_HARDWARE_ERROR_RECORD) != 0 &&
      ((attributes & (EFI_VARIABLE_NON_VOLATILE | kAccess)) !=
           (EFI_VARIABLE_NON_VOLATILE | kAccess) ||
       call.name.rfind(u"HwErrRec", 0) != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  // Once boot services are gone only NV+RT variables can be written.
  if (!s.bootServicesActive && attributes != 0 &&
      (attributes & (EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_RUNTIME_ACCESS)) !=
          (EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_RUNTIME_ACCESS)) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS injected = EFI_SUCCESS;
  if (s.platform.TakeSetVariableFailure(&injected)) {
    return injected;
  }
  if (s.platform.setVariableHook) {
    EFI_STATUS hooked = s.platform.setVariableHook(call);
    if (hooked != EFI_SUCCESS) {
      return hooked;
    }
  }
  VariableId id{call.name, call.guid};
  if (s.lockedVariables.count(id) != 0) {
    return EFI_WRITE_PROTECTED;
  }
  Platform::Store &store = s.platform.MutableVariables();
  auto existing = store.find(id);
  if (existing != store.end() && !Visible(s, existing->second)) {
    existing = store.end();
  }
  const bool append = (attributes & EFI_VARIABLE_APPEND_WRITE) != 0;
  const bool remove = (!append && dataSize == 0) || (attributes & kAccess) == 0;
  if (existing != store.end()) {
    if (!s.bootServicesActive && (existing->second.attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      return EFI_WRITE_PROTECTED; // volatile runtime variables are read-only now
    }
    // Rewriting with other attributes is refused, except with no access
    // attributes at all (a delete) or a difference only in APPEND_WRITE.
    bool differs = (attributes & kAccess) != 0 &&
                   (attributes & ~EFI_VARIABLE_APPEND_WRITE) != existing->second.attributes;
    if (differs && !(remove && !s.platform.strictDeleteAttributes)) {
      return EFI_INVALID_PARAMETER;
    }
  }
  if (remove) {
    if (existing == store.end()) {
      return EFI_NOT_FOUND;
    }
    store.erase(existing);
    return EFI_SUCCESS;
  }
  if (append && dataSize == 0) {
    return EFI_SUCCESS;
  }
  std::vector<UINT8> newData;
  if (append && existing != store.end()) {
    newData = existing->second.data;
  }
  const auto *bytes = static_cast<const UINT8 *>(data);
  newData.insert(newData.end(), bytes, bytes + dataSize);
  if ((call.name.size() + 1) * sizeof(CHAR16) + newData.size() >
      s.platform.limits.maxVariableSize) {
    return EFI_INVALID_PARAMETER;
  }
  const bool nonVolatile = (attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  size_t used = s.platform.StoreUsage(nonVolatile);
  if (existing != store.end()) {
    used -= Cost(call.name, existing->second.data.size());
  }
  size_t capacity = nonVolatile ? s.platform.limits.storeSize : s.platform.limits.volatileStoreSize;
  if (used + Cost(call.name, newData.size()) > capacity) {
    return EFI_OUT_OF_RESOURCES;
  }
  store[id] = Variable{attributes & ~EFI_VARIABLE_APPEND_WRITE, std::move(newData)};
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS EFIAPI HostGetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 *Attributes,
                                  UINTN *DataSize, VOID *Data) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (VariableName == nullptr || VendorGuid == nullptr || DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::u16string name;
    if (!ReadName(VariableName, kMaxNameChars, &name)) {
      return EFI_INVALID_PARAMETER;
    }
    if (name.empty()) {
      return EFI_NOT_FOUND;
    }
    s->platform.CountGetVariable();
    EFI_STATUS injected = EFI_SUCCESS;
    if (s->platform.TakeGetVariableFailure(&injected)) {
      return injected;
    }
    const Variable *variable = s->platform.FindVariable(name, *VendorGuid);
    if (variable == nullptr || !Visible(*s, *variable)) {
      return EFI_NOT_FOUND;
    }
    const bool tooSmall = *DataSize < variable->data.size();
    if (Attributes != nullptr && (!tooSmall || s->platform.attributesOnBufferTooSmall)) {
      *Attributes = variable->attributes;
    }
    if (tooSmall) {
      *DataSize = variable->data.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (Data == nullptr && !variable->data.empty()) {
      return EFI_INVALID_PARAMETER;
    }
    if (!variable->data.empty()) {
      std::memcpy(Data, variable->data.data(), variable->data.size());
    }
    *DataSize = variable->data.size();
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI HostGetNextVariableName(UINTN *VariableNameSize, CHAR16 *VariableName,
                                          EFI_GUID *VendorGuid) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (VariableNameSize == nullptr || VariableName == nullptr || VendorGuid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::u16string name;
    if (!ReadName(VariableName, *VariableNameSize / sizeof(CHAR16), &name)) {
      return EFI_INVALID_PARAMETER;
    }
    const Platform::Store &store = s->platform.Variables();
    auto it = store.begin();
    if (!name.empty()) {
      it = store.find(VariableId{name, *VendorGuid});
      if (it == store.end() || !Visible(*s, it->second)) {
        return EFI_INVALID_PARAMETER;
      }
      ++it;
    }
    while (it != store.end() && !Visible(*s, it->second)) {
      ++it;
    }
    if (it == store.end()) {
      return EFI_NOT_FOUND;
    }
    UINTN needed = (it->first.name.size() + 1) * sizeof(CHAR16);
    if (*VariableNameSize < needed) {
      *VariableNameSize = needed;
      return EFI_BUFFER_TOO_SMALL;
    }
    std::memcpy(VariableName, it->first.name.c_str(), needed);
    *VendorGuid = it->first.guid;
    *VariableNameSize = needed;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI HostSetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 Attributes,
                                  UINTN DataSize, VOID *Data) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (VariableName == nullptr || VariableName[0] == 0 || VendorGuid == nullptr ||
      (DataSize != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    SetVariableCall call;
    if (!ReadName(VariableName, kMaxNameChars, &call.name)) {
      return EFI_INVALID_PARAMETER;
    }
    call.guid = *VendorGuid;
    call.attributes = Attributes;
    call.boot = s->platform.BootCount();
    if (DataSize <= kMaxLoggedData) {
      const auto *bytes = static_cast<const UINT8 *>(Data);
      call.data.assign(bytes, bytes + DataSize);
    }
    s->platform.BeforeSetVariable();
    call.status = SetVariableRules(*s, call, Data, DataSize);
    s->platform.AfterSetVariable();
    EFI_STATUS status = call.status;
    s->platform.LogSetVariable(std::move(call));
    return status;
  });
}

EFI_STATUS EFIAPI HostQueryVariableInfo(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                        UINT64 *RemainingVariableStorageSize,
                                        UINT64 *MaximumVariableSize) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (MaximumVariableStorageSize == nullptr || RemainingVariableStorageSize == nullptr ||
      MaximumVariableSize == nullptr || Attributes == 0 || (Attributes & ~kKnownAttributes) != 0 ||
      (Attributes & kAccess) == EFI_VARIABLE_RUNTIME_ACCESS ||
      (!s->bootServicesActive && (Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0)) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & kAuthenticated) != 0) {
    return EFI_UNSUPPORTED;
  }
  bool nonVolatile = (Attributes & EFI_VARIABLE_NON_VOLATILE) != 0;
  size_t capacity =
      nonVolatile ? s->platform.limits.storeSize : s->platform.limits.volatileStoreSize;
  size_t used = s->platform.StoreUsage(nonVolatile);
  *MaximumVariableStorageSize = capacity;
  *RemainingVariableStorageSize = used < capacity ? capacity - used : 0;
  *MaximumVariableSize = s->platform.limits.maxVariableSize;
  return EFI_SUCCESS;
}

void FillVariableServices(EFI_RUNTIME_SERVICES &table) {
  table.GetVariable = HostGetVariable;
  table.GetNextVariableName = HostGetNextVariableName;
  table.SetVariable = HostSetVariable;
  table.QueryVariableInfo = HostQueryVariableInfo;
}

} // namespace host
