#include "driver/Hob.h"

#include <uefi/Pi/PiHob.h>
#include <uefi/UefiGuids.h>

#include "driver/DriverState.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"

VOID *GetHobList(VOID) {
  if (!mDriver.hobListSearched) {
    mDriver.hobListSearched = TRUE;
    mDriver.hobList = FindConfigurationTable(&gEfiHobListGuid);
  }
  return mDriver.hobList;
}

const VOID *FindGuidHobData(const EFI_GUID *Guid, UINTN MinDataSize) {
  const UINT8 *hob = static_cast<const UINT8 *>(GetHobList());
  if (hob == nullptr) {
    return nullptr;
  }
  for (;;) {
    EFI_HOB_GENERIC_HEADER header;
    CopyMem(&header, hob, sizeof(header));
    // A HOB shorter than its header cannot be stepped over: treat it as the end.
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || header.HobLength < sizeof(header)) {
      return nullptr;
    }
    if (header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        header.HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        header.HobLength - sizeof(EFI_HOB_GUID_TYPE) >= MinDataSize) {
      EFI_GUID name;
      CopyMem(&name, hob + offsetof(EFI_HOB_GUID_TYPE, Name), sizeof(name));
      if (CompareGuid(&name, Guid)) {
        return hob + sizeof(EFI_HOB_GUID_TYPE);
      }
    }
    hob += header.HobLength;
  }
}
