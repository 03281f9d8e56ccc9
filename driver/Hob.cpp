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

namespace {

// The handoff HOB opens every list; its last field is the address of the
// list's end (PI 1.8 volume 3, 5.3).
constexpr UINTN kHandoffSize = 56;
constexpr UINTN kHandoffEndOfListOffset = 48;

// Bytes of the list from its start: up to the end the handoff HOB states.
// 0 when the list does not open with a handoff HOB that states an end
// after itself: nothing in it can then be read safely.
UINTN HobListExtent(const UINT8 *list) {
  EFI_HOB_GENERIC_HEADER header;
  CopyMem(&header, list, sizeof(header));
  if (header.HobType != EFI_HOB_TYPE_HANDOFF || header.HobLength < kHandoffSize) {
    return 0;
  }
  UINT64 end = 0;
  CopyMem(&end, list + kHandoffEndOfListOffset, sizeof(end));
  const UINTN start = reinterpret_cast<UINTN>(list);
  if (end < start || end - start < header.HobLength) {
    return 0;
  }
  return static_cast<UINTN>(end - start);
}

} // namespace

const VOID *FindGuidHobData(const EFI_GUID *Guid, UINTN MinDataSize) {
  const UINT8 *list = static_cast<const UINT8 *>(GetHobList());
  if (list == nullptr) {
    return nullptr;
  }
  // The lengths come from outside: no HOB is read unless all of it lies
  // before the list's end, so no length can step the walk past it.
  const UINTN extent = HobListExtent(list);
  UINTN at = 0;
  while (extent - at >= sizeof(EFI_HOB_GENERIC_HEADER)) {
    const UINT8 *hob = list + at;
    EFI_HOB_GENERIC_HEADER header;
    CopyMem(&header, hob, sizeof(header));
    // A HOB shorter than its header cannot be stepped over: treat it as the end.
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || header.HobLength < sizeof(header) ||
        header.HobLength > extent - at) {
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
    at += header.HobLength;
  }
  return nullptr;
}
