// System-management mode seen from the driver (PI 1.8 volume 4): the SMM
// base protocol, the SMM system table over a separate protocol database and
// pool, the SMM variable protocol and the communication protocol.
#include <uefi/UefiGuids.h>

#include <cstring>
#include <stdexcept>

#include "host/FirmwareState.h"

namespace host {

namespace {

CHAR16 kSmmVendor[] = u"Zelm host SMM";

std::vector<UINT8> GuidKey(const EFI_GUID &guid) {
  const auto *bytes = reinterpret_cast<const UINT8 *>(&guid);
  return std::vector<UINT8>(bytes, bytes + sizeof(EFI_GUID));
}

EFI_STATUS EFIAPI SmmAllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->smmPool.Allocate(PoolType, Size, Buffer); });
}

EFI_STATUS EFIAPI SmmFreePool(VOID *Buffer) {
  FirmwareState *s = ActiveState();
  return s == nullptr ? EFI_NOT_READY : s->smmPool.Free(Buffer);
}

EFI_STATUS EFIAPI SmmInstallProtocolInterface(EFI_HANDLE *Handle, EFI_GUID *Protocol,
                                              EFI_INTERFACE_TYPE InterfaceType, VOID *Interface) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded(
      [&] { return s->smmProtocols.Install(Handle, Protocol, InterfaceType, Interface); });
}

EFI_STATUS EFIAPI SmmUninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                                VOID *Interface) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->smmProtocols.Uninstall(Handle, Protocol, Interface); });
}

EFI_STATUS EFIAPI SmmHandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  FirmwareState *s = ActiveState();
  return s == nullptr ? EFI_NOT_READY : s->smmProtocols.HandleProtocol(Handle, Protocol, Interface);
}

EFI_STATUS EFIAPI SmmRegisterProtocolNotify(CONST EFI_GUID *Protocol, EFI_SMM_NOTIFY_FN Function,
                                            VOID **Registration) {
  FirmwareState *s = ActiveState();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded(
      [&] { return s->smmProtocols.RegisterFunction(Protocol, Function, Registration); });
}

EFI_STATUS EFIAPI SmmLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  FirmwareState *s = ActiveState();
  return s == nullptr ? EFI_NOT_READY
                      : s->smmProtocols.LocateProtocol(Protocol, Registration, Interface);
}

EFI_STATUS EFIAPI InSmm(CONST EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || This == nullptr || InSmram == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *InSmram = s->smmInSmm ? TRUE : FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetSmstLocation(CONST EFI_SMM_BASE2_PROTOCOL *This,
                                  EFI_SMM_SYSTEM_TABLE2 **Smst) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || This == nullptr || Smst == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!s->smmInSmm) {
    return EFI_UNSUPPORTED;
  }
  *Smst = &s->smst;
  return EFI_SUCCESS;
}

EFI_SMM_BASE2_PROTOCOL gSmmBase2 = {InSmm, GetSmstLocation};

EFI_SMM_VARIABLE_PROTOCOL gSmmVariable = {HostGetVariable, HostGetNextVariableName, HostSetVariable,
                                          HostQueryVariableInfo};

EFI_STATUS EFIAPI Communicate(CONST EFI_SMM_COMMUNICATION_PROTOCOL *This, VOID *CommBuffer,
                              UINTN *CommSize) {
  FirmwareState *s = ActiveState();
  if (s == nullptr || This == nullptr || CommBuffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    auto *header = static_cast<EFI_SMM_COMMUNICATE_HEADER *>(CommBuffer);
    UINTN size = CommSize != nullptr ? *CommSize : 0;
    if (CommSize != nullptr &&
        (size < offsetof(EFI_SMM_COMMUNICATE_HEADER, Data) ||
         header->MessageLength > size - offsetof(EFI_SMM_COMMUNICATE_HEADER, Data))) {
      return EFI_BAD_BUFFER_SIZE;
    }
    s->smmCommunicateCount++;
    auto it = s->smmHandlers.find(GuidKey(header->HeaderGuid));
    if (it == s->smmHandlers.end()) {
      return EFI_NOT_FOUND;
    }
    return it->second(header, size);
  });
}

EFI_SMM_COMMUNICATION_PROTOCOL gSmmCommunication = {Communicate};

} // namespace

void FillSmst(EFI_SMM_SYSTEM_TABLE2 &table) {
  table.Hdr.Signature = SMM_SMST_SIGNATURE;
  table.Hdr.Revision = (1u << 16) | 80u;
  table.Hdr.HeaderSize = sizeof(EFI_SMM_SYSTEM_TABLE2);
  table.SmmFirmwareVendor = kSmmVendor;
  table.SmmAllocatePool = SmmAllocatePool;
  table.SmmFreePool = SmmFreePool;
  table.NumberOfCpus = 1;
  table.SmmInstallProtocolInterface = SmmInstallProtocolInterface;
  table.SmmUninstallProtocolInterface = SmmUninstallProtocolInterface;
  table.SmmHandleProtocol = SmmHandleProtocol;
  table.SmmRegisterProtocolNotify = SmmRegisterProtocolNotify;
  table.SmmLocateProtocol = SmmLocateProtocol;
}

void Firmware::InstallSmmBase2(bool inSmm) {
  state_->smmInSmm = inSmm;
  state_->InstallOnNewHandle(gEfiSmmBase2ProtocolGuid, &gSmmBase2);
}

EFI_SMM_SYSTEM_TABLE2 *Firmware::Smst() {
  return &state_->smst;
}

void Firmware::InstallSmmVariable(bool smmDatabase) {
  if (smmDatabase) {
    if (EFI_ERROR(InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &gSmmVariable))) {
      throw std::logic_error("SMM variable protocol could not be installed");
    }
  } else {
    state_->InstallOnNewHandle(gEfiSmmVariableProtocolGuid, &gSmmVariable);
  }
}

void Firmware::InstallSmmCommunication() {
  state_->InstallOnNewHandle(gEfiSmmCommunicationProtocolGuid, &gSmmCommunication);
}

void Firmware::SetSmmHandler(const EFI_GUID &headerGuid, SmmHandler handler) {
  if (handler) {
    state_->smmHandlers[GuidKey(headerGuid)] = std::move(handler);
  } else {
    state_->smmHandlers.erase(GuidKey(headerGuid));
  }
}

size_t Firmware::SmmCommunicateCount() const {
  return state_->smmCommunicateCount;
}

EFI_STATUS Firmware::InstallSmmProtocol(const EFI_GUID &guid, VOID *interface, EFI_HANDLE *handle) {
  EFI_HANDLE local = nullptr;
  EFI_GUID copy = guid;
  return state_->smst.SmmInstallProtocolInterface(handle != nullptr ? handle : &local, &copy,
                                                  EFI_NATIVE_INTERFACE, interface);
}

VOID *Firmware::FindSmmProtocol(const EFI_GUID &guid) const {
  for (const ProtocolRecord &record : state_->smmProtocols.Records()) {
    if (GuidEqual(record.guid, guid)) {
      return record.interface;
    }
  }
  return nullptr;
}

size_t Firmware::SmmNotifyRegistrationCount() const {
  return state_->smmProtocols.RegistrationCount();
}

} // namespace host
