// Platform services of the double for the configuration block: the
// default-store protocol, the SMM buffer protocol and the SMM-side handler
// of the privileged variable write.
#include <platform/PlatformDefaultStore.h>
#include <platform/PlatformGuids.h>
#include <platform/PlatformSmmBuffer.h>
#include <platform/PlatformSmmVariableWrite.h>

#include <cstring>
#include <stdexcept>

#include "host/PlatformRegions.h"

namespace host {

namespace {

struct ServiceState {
  UINT64 storeId = 0;
  size_t storeIdCalls = 0;
  std::unique_ptr<UINT8[]> buffer;
  size_t bufferSize = 0;
  SmmBufferConfig bufferConfig;
  std::vector<SmmVariableWrite> writes;
};

ServiceState &Services() {
  static ServiceState state;
  return state;
}

UINT64 EFIAPI GetCurrentStoreId() {
  Services().storeIdCalls++;
  return Services().storeId;
}

PLATFORM_DEFAULT_STORE_PROTOCOL gDefaultStore = {nullptr, GetCurrentStoreId};

EFI_STATUS EFIAPI GetBuffer(VOID **Buffer, UINTN *Size) {
  ServiceState &s = Services();
  if (Buffer == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (EFI_ERROR(s.bufferConfig.status)) {
    return s.bufferConfig.status;
  }
  *Buffer = s.bufferConfig.handOutNull ? nullptr : s.buffer.get();
  *Size = s.bufferSize;
  return EFI_SUCCESS;
}

PLATFORM_SMM_BUFFER_PROTOCOL gSmmBuffer = {GetBuffer};

constexpr size_t kHeaderSize = sizeof(PLATFORM_SMM_VARIABLE_WRITE_HEADER);
constexpr size_t kCommunicateHeaderSize = 24;

// Checks the message and carries out the write.
EFI_STATUS Perform(const UINT8 *bytes, size_t extent, const PLATFORM_SMM_VARIABLE_WRITE_HEADER &h,
                   SmmVariableWrite &record) {
  if (h.Signature != PLATFORM_SMM_VARIABLE_WRITE_SIGNATURE ||
      h.Function != PLATFORM_SMM_VARIABLE_WRITE_FUNCTION) {
    return EFI_UNSUPPORTED;
  }
  size_t room = extent - kHeaderSize;
  if (h.NameSize > room || h.DataSize > room - h.NameSize) {
    return EFI_BAD_BUFFER_SIZE;
  }
  record.message.assign(bytes, bytes + kHeaderSize + h.NameSize + h.DataSize);
  const UINT8 *nameBytes = bytes + kHeaderSize;
  if (h.NameSize < 4 || h.NameSize % 2 != 0) {
    return EFI_INVALID_PARAMETER;
  }
  std::u16string name(h.NameSize / 2, u'\0');
  std::memcpy(name.data(), nameBytes, h.NameSize);
  if (name.back() != u'\0' || name.find(u'\0') != name.size() - 1) {
    return EFI_INVALID_PARAMETER;
  }
  name.pop_back();
  Firmware *firmware = Firmware::Current();
  Platform &platform = firmware->GetPlatform();
  EFI_STATUS status = EFI_SUCCESS;
  const UINT8 *data = nameBytes + h.NameSize;
  SetVariableCall call{name,         h.VendorGuid,
                       h.Attributes, std::vector<UINT8>(data, data + h.DataSize),
                       EFI_SUCCESS,  platform.BootCount()};
  platform.BeforeSetVariable();
  if (platform.TakeSetVariableFailure(&status)) {
  } else if (h.NameSize + h.DataSize > platform.limits.maxVariableSize) {
    status = EFI_OUT_OF_RESOURCES;
  } else if (h.DataSize == 0) {
    status = platform.EraseVariable(name, h.VendorGuid) ? EFI_SUCCESS : EFI_NOT_FOUND;
  } else {
    platform.PutVariable(name, h.VendorGuid, h.Attributes, call.data);
  }
  platform.AfterSetVariable();
  call.status = status;
  platform.LogSetVariable(std::move(call));
  return status;
}

EFI_STATUS Handle(EFI_SMM_COMMUNICATE_HEADER *buffer, UINTN size) {
  auto *bytes = reinterpret_cast<UINT8 *>(buffer);
  SmmVariableWrite record;
  record.tpl = Firmware::Current()->CurrentTpl();
  if (size < kHeaderSize) {
    record.status = EFI_BAD_BUFFER_SIZE;
    Services().writes.push_back(record);
    return EFI_BAD_BUFFER_SIZE;
  }
  PLATFORM_SMM_VARIABLE_WRITE_HEADER h;
  std::memcpy(&h, bytes, sizeof(h));
  // The handler reads no further than the buffer and the stated message.
  size_t extent = size;
  if (h.MessageLength < extent - kCommunicateHeaderSize) {
    extent = kCommunicateHeaderSize + h.MessageLength;
  }
  EFI_STATUS status =
      extent < kHeaderSize ? EFI_BAD_BUFFER_SIZE : Perform(bytes, extent, h, record);
  record.status = status;
  UINT64 stored = status;
  std::memcpy(bytes + offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, ReturnStatus), &stored,
              sizeof(stored));
  Services().writes.push_back(std::move(record));
  return EFI_SUCCESS;
}

void Install(Firmware &firmware, const EFI_GUID &guid, VOID *interface) {
  if (EFI_ERROR(firmware.InstallProtocol(guid, interface))) {
    throw std::logic_error("platform protocol could not be installed");
  }
}

} // namespace

void InstallDefaultStoreProtocol(Firmware &firmware, UINT64 storeId) {
  Services().storeId = storeId;
  Services().storeIdCalls = 0;
  Install(firmware, gPlatformDefaultStoreProtocolGuid, &gDefaultStore);
}

size_t DefaultStoreIdCalls() {
  return Services().storeIdCalls;
}

void InstallSmmBuffer(Firmware &firmware, size_t size) {
  ServiceState &s = Services();
  s.buffer = std::make_unique<UINT8[]>(std::max<size_t>(size, 1));
  std::memset(s.buffer.get(), 0xCC, size);
  s.bufferSize = size;
  s.bufferConfig = {};
  Install(firmware, gPlatformSmmBufferProtocolGuid, &gSmmBuffer);
}

SmmBufferConfig &SmmBuffer() {
  return Services().bufferConfig;
}

UINT8 *SmmBufferBytes() {
  return Services().buffer.get();
}

void InstallSmmVariableWriteHandler(Firmware &firmware) {
  Services().writes.clear();
  firmware.SetSmmHandler(gEfiSmmVariableProtocolGuid, Handle);
}

const std::vector<SmmVariableWrite> &SmmVariableWrites() {
  return Services().writes;
}

} // namespace host
