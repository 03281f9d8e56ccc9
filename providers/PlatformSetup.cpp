#include "providers/PlatformSetup.h"

#include <platform/PlatformDefaultStore.h>
#include <platform/PlatformGuids.h>
#include <platform/PlatformSmmBuffer.h>
#include <platform/PlatformSmmVariableWrite.h>
#include <uefi/Protocol/SmmCommunication.h>
#include <uefi/UefiGuids.h>

#include "providers/DefaultStores.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/VariableAccess.h"
#include "support/VariableAttributes.h"

namespace {

constexpr CHAR16 kSetupName[] = u"Setup";
constexpr UINTN kMessageHeaderSize = sizeof(PLATFORM_SMM_VARIABLE_WRITE_HEADER);
constexpr UINTN kCommunicateHeaderSize = offsetof(EFI_SMM_COMMUNICATE_HEADER, Data);

struct PlatformSetupState {
  PlatformSetupBlock defaults;
  PLATFORM_DEFAULT_STORE_PROTOCOL *defaultStore;
};

PlatformSetupState mPlatformSetup;

// Found is installed: these protocols serve as markers here, and markers
// are often installed with a NULL interface.
BOOLEAN IsInstalled(EFI_GUID *guid) {
  VOID *interface = nullptr;
  return !EFI_ERROR(gBS->LocateProtocol(guid, nullptr, &interface));
}

// Probes Read (size, buffer) for the size, then reads into a zeroed pool copy
// of that size. A probe that succeeds or reports no bytes is UNSUPPORTED, so
// success never comes without a buffer; a read that claims more bytes than it
// was given is BAD_BUFFER_SIZE. Nothing is allocated once boot services are gone.
template <typename Read> EFI_STATUS ReadIntoPool(Read read, PlatformSetupBlock *block) {
  if (PlatformSetupReadsEnded()) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN size = 0;
  EFI_STATUS status = read(&size, nullptr);
  if (status == EFI_SUCCESS || (status == EFI_BUFFER_TOO_SMALL && size == 0)) {
    return EFI_UNSUPPORTED;
  }
  if (status != EFI_BUFFER_TOO_SMALL) {
    return status;
  }
  if (PlatformSetupReadsEnded()) {
    return EFI_OUT_OF_RESOURCES;
  }
  PoolPtr<UINT8> data(static_cast<UINT8 *>(AllocZeroedPool(size)));
  if (!data) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN readSize = size;
  status = read(&readSize, data.get());
  if (EFI_ERROR(status)) {
    return status;
  }
  if (readSize > size) {
    return EFI_BAD_BUFFER_SIZE;
  }
  block->data = data.release();
  block->size = readSize;
  return EFI_SUCCESS;
}

// The whole message must fit the buffer, and the header's fixed message
// length must cover the name and the data: a handler reads by that length.
BOOLEAN MessageFits(UINTN dataSize, UINTN bufferSize) {
  constexpr UINTN kFixed = kMessageHeaderSize + sizeof(kSetupName);
  constexpr UINTN kDeclared = kCommunicateHeaderSize + PLATFORM_SMM_VARIABLE_WRITE_MESSAGE_LENGTH;
  if (~UINTN{0} - kFixed < dataSize) {
    return FALSE;
  }
  UINTN needed = kFixed + dataSize;
  return needed <= kDeclared && bufferSize >= kDeclared;
}

// The privileged write: the SMM handler stores the block even when
// variables are write-locked.
[[nodiscard]] EFI_STATUS SendPrivilegedWrite(const PlatformSetupBlock *block) {
  VOID *interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gPlatformSmmBufferProtocolGuid, nullptr, &interface)) ||
      interface == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  auto *bufferService = static_cast<PLATFORM_SMM_BUFFER_PROTOCOL *>(interface);
  VOID *buffer = nullptr;
  UINTN bufferSize = 0;
  if (bufferService->GetBuffer == nullptr ||
      EFI_ERROR(bufferService->GetBuffer(&buffer, &bufferSize)) || buffer == nullptr ||
      bufferSize == 0) {
    return EFI_OUT_OF_RESOURCES;
  }
  interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSmmCommunicationProtocolGuid, nullptr, &interface)) ||
      interface == nullptr) {
    return EFI_UNSUPPORTED;
  }
  auto *communication = static_cast<EFI_SMM_COMMUNICATION_PROTOCOL *>(interface);
  if (!MessageFits(block->size, bufferSize)) {
    return EFI_OUT_OF_RESOURCES;
  }

  // No lower-priority notification may use the shared buffer meanwhile.
  EFI_TPL oldTpl = gBS->RaiseTPL(TPL_NOTIFY);
  PLATFORM_SMM_VARIABLE_WRITE_HEADER header;
  ZeroMem(&header, sizeof(header));
  header.HeaderGuid = gEfiSmmVariableProtocolGuid;
  header.MessageLength = PLATFORM_SMM_VARIABLE_WRITE_MESSAGE_LENGTH;
  header.ReturnStatus = EFI_UNSUPPORTED;
  header.Signature = PLATFORM_SMM_VARIABLE_WRITE_SIGNATURE;
  header.Function = PLATFORM_SMM_VARIABLE_WRITE_FUNCTION;
  header.VendorGuid = gPlatformSetupVariableGuid;
  header.Attributes = kPublishedVariableAttributes;
  header.NameSize = sizeof(kSetupName);
  header.DataSize = block->size;
  auto *bytes = static_cast<UINT8 *>(buffer);
  CopyMem(bytes, &header, sizeof(header));
  CopyMem(bytes + kMessageHeaderSize, kSetupName, sizeof(kSetupName));
  CopyMem(bytes + kMessageHeaderSize + sizeof(kSetupName), block->data, block->size);

  UINTN commSize = bufferSize;
  EFI_STATUS status = communication->Communicate(communication, buffer, &commSize);
  UINT64 handlerStatus = EFI_UNSUPPORTED;
  CopyMem(&handlerStatus, bytes + offsetof(PLATFORM_SMM_VARIABLE_WRITE_HEADER, ReturnStatus),
          sizeof(handlerStatus));
  gBS->RestoreTPL(oldTpl);
  return EFI_ERROR(status) ? status : static_cast<EFI_STATUS>(handlerStatus);
}

} // namespace

// Reads that allocate stop once boot-services pool is gone.
BOOLEAN PlatformSetupReadsEnded(VOID) {
  return !PlatformVariableSmmMode() && PlatformBootServicesEnded();
}

VOID FreePlatformSetup(PlatformSetupBlock *Block) {
  if (Block != nullptr) {
    FreePool(Block->data);
    Block->data = nullptr;
    Block->size = 0;
  }
}

EFI_STATUS GetSetupByte(const PlatformSetupBlock *Block, UINTN Offset, UINT8 *Value) {
  if (Block == nullptr || Block->data == nullptr || Value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Offset >= Block->size) {
    return EFI_BAD_BUFFER_SIZE;
  }
  *Value = Block->data[Offset];
  return EFI_SUCCESS;
}

EFI_STATUS SetSetupByte(PlatformSetupBlock *Block, UINTN Offset, UINT8 Value) {
  if (Block == nullptr || Block->data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Offset >= Block->size) {
    return EFI_BAD_BUFFER_SIZE;
  }
  Block->data[Offset] = Value;
  return EFI_SUCCESS;
}

EFI_STATUS ReadPlatformSetup(PlatformSetupBlock *Block) {
  if (Block == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Block = {};
  return ReadIntoPool(
      [](UINTN *size, UINT8 *buffer) {
        return PlatformGetVariable(kSetupName, &gPlatformSetupVariableGuid, nullptr, size, buffer);
      },
      Block);
}

EFI_STATUS WritePlatformSetup(const PlatformSetupBlock *Block) {
  if (Block == nullptr || Block->data == nullptr || Block->size == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (PlatformBootServicesEnded()) {
    return EFI_UNSUPPORTED;
  }
  if (PlatformVariableSmmMode() || !IsInstalled(&gEfiSmmVariableProtocolGuid) ||
      !IsInstalled(&gEdkiiVariableLockProtocolGuid)) {
    return PlatformSetVariable(kSetupName, &gPlatformSetupVariableGuid,
                               kPublishedVariableAttributes, Block->size, Block->data);
  }
  return SendPrivilegedWrite(Block);
}

EFI_STATUS ReadPlatformSetupDefaults(UINT64 StoreId, UINTN *Size) {
  if (Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  PlatformSetupBlock block = {};
  EFI_STATUS status = ReadIntoPool(
      [StoreId](UINTN *size, UINT8 *buffer) {
        return FindDefaultSetupInStores(StoreId, size, buffer);
      },
      &block);
  if (EFI_ERROR(status)) {
    return status;
  }
  FreePlatformSetup(&mPlatformSetup.defaults);
  mPlatformSetup.defaults = block;
  *Size = block.size;
  return EFI_SUCCESS;
}

EFI_STATUS GetPlatformSetupDefaults(const PlatformSetupBlock **Block) {
  if (Block == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Block = nullptr;
  if (mPlatformSetup.defaults.data == nullptr) {
    // Reading the block takes boot services (the protocol, pool); after
    // exit only a block read before can answer.
    if (PlatformBootServicesEnded()) {
      return EFI_NOT_FOUND;
    }
    if (mPlatformSetup.defaultStore == nullptr) {
      VOID *interface = nullptr;
      if (EFI_ERROR(gBS->LocateProtocol(&gPlatformDefaultStoreProtocolGuid, nullptr, &interface)) ||
          interface == nullptr) {
        return EFI_NOT_FOUND;
      }
      mPlatformSetup.defaultStore = static_cast<PLATFORM_DEFAULT_STORE_PROTOCOL *>(interface);
    }
    if (mPlatformSetup.defaultStore->GetCurrentStoreId == nullptr) {
      return EFI_NOT_FOUND;
    }
    UINTN size = 0;
    if (EFI_ERROR(
            ReadPlatformSetupDefaults(mPlatformSetup.defaultStore->GetCurrentStoreId(), &size))) {
      (VOID) ReadPlatformSetupDefaults(0, &size);
    }
    if (mPlatformSetup.defaults.data == nullptr) {
      return EFI_NOT_FOUND;
    }
  }
  *Block = &mPlatformSetup.defaults;
  return EFI_SUCCESS;
}

VOID ReleasePlatformSetupDefaults(VOID) {
  FreePlatformSetup(&mPlatformSetup.defaults);
}

VOID ResetPlatformSetup(VOID) {
  mPlatformSetup = {};
}
