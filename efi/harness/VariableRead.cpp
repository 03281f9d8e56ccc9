#include "efi/harness/VariableRead.h"

#include "support/Memory.h"

EFI_STATUS ReadVariable(EFI_SYSTEM_TABLE *SystemTable, const CHAR16 *Name, EFI_GUID *Guid,
                        PoolBuffer &Buffer, UINTN *Size, UINT32 *Attributes) {
  EFI_RUNTIME_SERVICES *rt = SystemTable->RuntimeServices;
  CHAR16 *name = const_cast<CHAR16 *>(Name);
  *Size = 0;
  EFI_STATUS status = rt->GetVariable(name, Guid, nullptr, Size, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    return EFI_ERROR(status) ? status : EFI_NOT_FOUND;
  }
  if (!Buffer.allocate(*Size)) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINT32 attributes = 0;
  status = rt->GetVariable(name, Guid, &attributes, Size, Buffer.get());
  if (Attributes != nullptr) {
    *Attributes = attributes;
  }
  return status;
}

BOOLEAN ContainsText(const UINT8 *Data, UINTN Size, const CHAR8 *Text) {
  UINTN length = 0;
  while (Text[length] != '\0') {
    ++length;
  }
  if (Data == nullptr || length > Size) {
    return FALSE;
  }
  for (UINTN i = 0; i + length <= Size; ++i) {
    if (CompareMem(Data + i, Text, length) == 0) {
      return TRUE;
    }
  }
  return FALSE;
}
