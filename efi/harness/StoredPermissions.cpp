#include "efi/harness/StoredPermissions.h"

#include <zelm/ZelmGuids.h>

#include "efi/harness/Console.h"

namespace {

constexpr UINT32 storeAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINTN defaultStoreSize = 146;
constexpr UINT8 storeSignature[] = {'S', 'B', 'C', 'Z'};
constexpr UINT8 storeFormat = 4;

constexpr UINT32 currentAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr CHAR8 currentOpening[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                   "<CurrentPermissionsPacket Default=\"1\" Delegated=\"128\">";

BOOLEAN StartsWith(const UINT8 *data, UINTN size, const UINT8 *prefix, UINTN prefixSize) {
  if (size < prefixSize) {
    return FALSE;
  }
  for (UINTN i = 0; i < prefixSize; ++i) {
    if (data[i] != prefix[i]) {
      return FALSE;
    }
  }
  return TRUE;
}

// A pool buffer freed when the check that read into it is done.
class PoolBuffer {
public:
  PoolBuffer(EFI_BOOT_SERVICES *bs, UINTN size) : bs_(bs) {
    if (EFI_ERROR(bs_->AllocatePool(EfiBootServicesData, size, &data_))) {
      data_ = nullptr;
    }
  }
  ~PoolBuffer() {
    if (data_ != nullptr) {
      bs_->FreePool(data_);
    }
  }
  PoolBuffer(const PoolBuffer &) = delete;
  PoolBuffer &operator=(const PoolBuffer &) = delete;
  UINT8 *get() const { return static_cast<UINT8 *>(data_); }

private:
  EFI_BOOT_SERVICES *bs_;
  VOID *data_ = nullptr;
};

VOID CheckStore(EFI_RUNTIME_SERVICES *rt, CheckLog &log) {
  CHAR16 name[] = u"_SPP";
  // Room for more than the default store, so a wrong size is seen as one.
  UINT8 data[2 * defaultStoreSize] = {};
  UINTN size = sizeof(data);
  UINT32 attributes = 0;
  EFI_STATUS status =
      rt->GetVariable(name, &gZelmSettingsManagerVariableGuid, &attributes, &size, data);
  BOOLEAN passed =
      status == EFI_SUCCESS && attributes == storeAttributes && size == defaultStoreSize &&
      StartsWith(data, size, storeSignature, sizeof(storeSignature)) && data[4] == storeFormat;
  if (status == EFI_SUCCESS) {
    Print("zelm-harness: info: \"_SPP\" attributes %u size %u format %u\n",
          static_cast<UINT64>(attributes), static_cast<UINT64>(size),
          static_cast<UINT64>(size > 4 ? data[4] : 0));
  }
  log.expect(passed, "\"_SPP\" saved: attributes 3, 146 bytes, \"SBCZ\" format 4", status);
}

VOID CheckCurrent(EFI_BOOT_SERVICES *bs, EFI_RUNTIME_SERVICES *rt, CheckLog &log) {
  const CHAR8 *what = "\"ZelmPermissionCurrent\" published: attributes 7, default packet "
                      "opening, NUL at the end";
  CHAR16 name[] = u"ZelmPermissionCurrent";
  UINTN size = 0;
  EFI_STATUS status = rt->GetVariable(name, &gZelmPermissionVariableGuid, nullptr, &size, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL) {
    log.expect(FALSE, what, status);
    return;
  }
  PoolBuffer text(bs, size);
  if (text.get() == nullptr) {
    log.expect(FALSE, what, EFI_OUT_OF_RESOURCES);
    return;
  }
  UINT32 attributes = 0;
  status = rt->GetVariable(name, &gZelmPermissionVariableGuid, &attributes, &size, text.get());
  BOOLEAN passed = status == EFI_SUCCESS && attributes == currentAttributes &&
                   StartsWith(text.get(), size, reinterpret_cast<const UINT8 *>(currentOpening),
                              sizeof(currentOpening) - 1) &&
                   text.get()[size - 1] == '\0';
  if (status == EFI_SUCCESS) {
    Print("zelm-harness: info: \"ZelmPermissionCurrent\" attributes %u size %u\n",
          static_cast<UINT64>(attributes), static_cast<UINT64>(size));
  }
  log.expect(passed, what, status);
}

} // namespace

VOID CheckStoredPermissions(EFI_SYSTEM_TABLE *SystemTable, CheckLog &Log) {
  CheckStore(SystemTable->RuntimeServices, Log);
  CheckCurrent(SystemTable->BootServices, SystemTable->RuntimeServices, Log);
}
