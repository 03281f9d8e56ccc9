// Protocol handler boot services (UEFI 2.10 section 7.3). The database is
// changed at TPL_NOTIFY, so notifications run once a whole call is done.
#include <uefi/UefiGuids.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "host/FirmwareState.h"

namespace host {

namespace {

const EFI_GUID kDevicePathProtocolGuid = {
    0x09576e91, 0x6d3f, 0x11d2, {0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};

// Runs Body with the database locked (TPL_NOTIFY); pending notifications
// are dispatched when the lock is dropped.
template <typename Body> EFI_STATUS Locked(FirmwareState *s, Body &&body) {
  EFI_TPL old = s->events.Raise(std::max<EFI_TPL>(s->events.Current(), TPL_NOTIFY));
  EFI_STATUS status = Guarded(body);
  s->events.Restore(old);
  return status;
}

// Bytes of a device path up to and including its end node; 0 when malformed.
size_t DevicePathSize(const VOID *path) {
  const auto *bytes = static_cast<const UINT8 *>(path);
  size_t size = 0;
  while (size < 0x10000) {
    UINT16 length = static_cast<UINT16>(bytes[size + 2] | bytes[size + 3] << 8);
    if (length < 4) {
      return 0;
    }
    bool end = bytes[size] == 0x7F && bytes[size + 1] == 0xFF;
    size += length;
    if (end) {
      return size;
    }
  }
  return 0;
}

bool DevicePathPresent(FirmwareState *s, const VOID *path) {
  size_t size = path != nullptr ? DevicePathSize(path) : 0;
  if (size == 0) {
    return false;
  }
  for (const ProtocolRecord &record : s->protocols.Records()) {
    if (GuidEqual(record.guid, kDevicePathProtocolGuid) && record.interface != nullptr &&
        DevicePathSize(record.interface) == size &&
        std::memcmp(record.interface, path, size) == 0) {
      return true;
    }
  }
  return false;
}

EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *Handle, EFI_GUID *Protocol,
                                           EFI_INTERFACE_TYPE InterfaceType, VOID *Interface) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Locked(s,
                [&] { return s->protocols.Install(Handle, Protocol, InterfaceType, Interface); });
}

EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                             VOID *Interface) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Locked(s, [&] { return s->protocols.Uninstall(Handle, Protocol, Interface); });
}

EFI_STATUS EFIAPI ReinstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                             VOID *OldInterface, VOID *NewInterface) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Locked(
      s, [&] { return s->protocols.Reinstall(Handle, Protocol, OldInterface, NewInterface); });
}

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return s->protocols.HandleProtocol(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI RegisterProtocolNotify(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (Event != nullptr && s->events.Find(Event) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] { return s->protocols.RegisterEvent(Protocol, Event, Registration); });
}

EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol,
                               VOID *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] {
    return s->protocols.LocateHandle(SearchType, Protocol, SearchKey, BufferSize, Buffer);
  });
}

EFI_STATUS EFIAPI LocateDevicePath(EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                   EFI_HANDLE *Device) {
  EnterBootService();
  if (Protocol == nullptr || DevicePath == nullptr || *DevicePath == nullptr || Device == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE,
                               EFI_HANDLE, UINT32 Attributes) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  constexpr UINT32 kTestProtocol = 0x04;
  if (Attributes == kTestProtocol) {
    VOID *ignored = nullptr;
    return s->protocols.HandleProtocol(Handle, Protocol, &ignored);
  }
  return s->protocols.HandleProtocol(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE AgentHandle,
                                EFI_HANDLE) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (!s->protocols.IsHandle(Handle) || Protocol == nullptr || AgentHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI OpenProtocolInformation(EFI_HANDLE, EFI_GUID *,
                                          EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **, UINTN *) {
  EnterBootService();
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer,
                                     UINTN *ProtocolBufferCount) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (!s->protocols.IsHandle(Handle) || ProtocolBuffer == nullptr ||
      ProtocolBufferCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::vector<EFI_GUID> guids = s->protocols.GuidsOn(Handle);
    VOID *buffer = nullptr;
    EFI_STATUS status =
        s->bootPool.Allocate(EfiBootServicesData, guids.size() * sizeof(EFI_GUID *), &buffer);
    if (EFI_ERROR(status)) {
      return status;
    }
    auto **out = static_cast<EFI_GUID **>(buffer);
    for (size_t i = 0; i < guids.size(); i++) {
      s->guidStore.push_back(guids[i]);
      out[i] = &s->guidStore.back();
    }
    *ProtocolBuffer = out;
    *ProtocolBufferCount = guids.size();
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol,
                                     VOID *SearchKey, UINTN *NoHandles, EFI_HANDLE **Buffer) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (NoHandles == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *NoHandles = 0;
  *Buffer = nullptr;
  return Guarded([&] {
    UINTN size = 0;
    EFI_STATUS status = s->protocols.LocateHandle(SearchType, Protocol, SearchKey, &size, nullptr);
    if (status != EFI_BUFFER_TOO_SMALL) {
      return status;
    }
    VOID *buffer = nullptr;
    status = s->bootPool.Allocate(EfiBootServicesData, size, &buffer);
    if (EFI_ERROR(status)) {
      return status;
    }
    status = s->protocols.LocateHandle(SearchType, Protocol, SearchKey, &size,
                                       static_cast<EFI_HANDLE *>(buffer));
    if (EFI_ERROR(status)) {
      s->bootPool.Free(buffer);
      return status;
    }
    *Buffer = static_cast<EFI_HANDLE *>(buffer);
    *NoHandles = size / sizeof(EFI_HANDLE);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI LocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return s->protocols.LocateProtocol(Protocol, Registration, Interface);
}

using Pairs = std::vector<std::pair<EFI_GUID *, VOID *>>;
// A call with more pairs than this is taken for a missing terminator.
constexpr size_t kMaxPairs = 128;

EFI_STATUS InstallPairs(FirmwareState *s, EFI_HANDLE *handle, const Pairs &pairs) {
  EFI_HANDLE original = *handle;
  size_t installed = 0;
  EFI_STATUS status = EFI_SUCCESS;
  for (const auto &pair : pairs) {
    if (GuidEqual(*pair.first, kDevicePathProtocolGuid) && DevicePathPresent(s, pair.second)) {
      status = EFI_ALREADY_STARTED;
      break;
    }
    status = s->protocols.Install(handle, pair.first, EFI_NATIVE_INTERFACE, pair.second);
    if (EFI_ERROR(status)) {
      break;
    }
    installed++;
  }
  if (EFI_ERROR(status)) {
    // All or nothing: take back what this call installed, newest first.
    for (size_t i = installed; i-- > 0;) {
      s->protocols.Uninstall(*handle, pairs[i].first, pairs[i].second);
    }
    *handle = original;
  }
  return status;
}

EFI_STATUS UninstallPairs(FirmwareState *s, EFI_HANDLE handle, const Pairs &pairs) {
  size_t removed = 0;
  EFI_STATUS status = EFI_SUCCESS;
  for (const auto &pair : pairs) {
    status = s->protocols.Uninstall(handle, pair.first, pair.second);
    if (EFI_ERROR(status)) {
      break;
    }
    removed++;
  }
  if (EFI_ERROR(status)) {
    for (size_t i = 0; i < removed; i++) {
      EFI_HANDLE again = handle;
      // The handle died with its last protocol; the interfaces go on a new one.
      if (!s->protocols.IsHandle(again)) {
        again = nullptr;
      }
      s->protocols.Install(&again, pairs[i].first, EFI_NATIVE_INTERFACE, pairs[i].second);
      handle = again;
    }
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// Reads GUID and interface pairs up to the NULL GUID; false when there are
// more than kMaxPairs.
bool ReadPairs(__builtin_ms_va_list &args, Pairs &pairs) {
  for (;;) {
    EFI_GUID *guid = __builtin_va_arg(args, EFI_GUID *);
    if (guid == nullptr) {
      return true;
    }
    VOID *interface = __builtin_va_arg(args, VOID *);
    if (pairs.size() == kMaxPairs) {
      return false;
    }
    pairs.emplace_back(guid, interface);
  }
}

EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Pairs pairs;
  __builtin_ms_va_list args;
  __builtin_ms_va_start(args, Handle);
  bool tooMany = !ReadPairs(args, pairs);
  __builtin_ms_va_end(args);
  if (tooMany) {
    return EFI_INVALID_PARAMETER;
  }
  return Locked(s, [&] { return InstallPairs(s, Handle, pairs); });
}

EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  Pairs pairs;
  __builtin_ms_va_list args;
  __builtin_ms_va_start(args, Handle);
  bool tooMany = !ReadPairs(args, pairs);
  __builtin_ms_va_end(args);
  if (tooMany || !s->protocols.IsHandle(Handle)) {
    return EFI_INVALID_PARAMETER;
  }
  return Locked(s, [&] { return UninstallPairs(s, Handle, pairs); });
}

} // namespace

void FillProtocolServices(EFI_BOOT_SERVICES &table) {
  table.InstallProtocolInterface = InstallProtocolInterface;
  table.ReinstallProtocolInterface = ReinstallProtocolInterface;
  table.UninstallProtocolInterface = UninstallProtocolInterface;
  table.HandleProtocol = HandleProtocol;
  table.RegisterProtocolNotify = RegisterProtocolNotify;
  table.LocateHandle = LocateHandle;
  table.LocateDevicePath = LocateDevicePath;
  table.OpenProtocol = OpenProtocol;
  table.CloseProtocol = CloseProtocol;
  table.OpenProtocolInformation = OpenProtocolInformation;
  table.ProtocolsPerHandle = ProtocolsPerHandle;
  table.LocateHandleBuffer = LocateHandleBuffer;
  table.LocateProtocol = LocateProtocol;
  table.InstallMultipleProtocolInterfaces = InstallMultipleProtocolInterfaces;
  table.UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfaces;
}

} // namespace host
