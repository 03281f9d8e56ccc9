// Fuzz target for the HOB walk: any bytes as the HOBs between the handoff
// HOB and the end-of-list HOB, as PEI hands them over.
//
// Input: byte 0 is the smallest data size asked for; the rest are the
// HOBs. The firmware double publishes the list (its handoff HOB, the HOBs,
// the end-of-list HOB) as a block of exactly its size, so a walk that
// steps past its end is caught.
//
// Checked on every input: each lookup (the two GUIDs the driver looks for
// and the name of the first GUID HOB of the input) returns what a model of
// the walk returns: the data of the first GUID-extension HOB of that name
// with enough data, met before the end-of-list HOB or a HOB shorter than
// its header, whose bytes all lie inside the list; or NULL.
#include <platform/PlatformGuids.h>
#include <uefi/Pi/PiHob.h>

#include <memory>
#include <vector>

#include "driver/DriverState.h"
#include "driver/Hob.h"
#include "fuzz/FuzzBoot.h"
#include "fuzz/FuzzSupport.h"
#include "host/HostFirmware.h"
#include "support/FirmwareTables.h"

namespace {

using fuzz::Check;

const uint8_t *ModelFind(const uint8_t *list, size_t size, const EFI_GUID &name, size_t minData) {
  size_t at = 0;
  while (size - at >= sizeof(EFI_HOB_GENERIC_HEADER)) {
    EFI_HOB_GENERIC_HEADER header;
    memcpy(&header, list + at, sizeof(header));
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || header.HobLength < sizeof(header) ||
        header.HobLength > size - at) {
      return nullptr;
    }
    if (header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        header.HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        header.HobLength - sizeof(EFI_HOB_GUID_TYPE) >= minData &&
        memcmp(list + at + sizeof(header), &name, sizeof(name)) == 0) {
      return list + at + sizeof(EFI_HOB_GUID_TYPE);
    }
    at += header.HobLength;
  }
  return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || size > 0xFFFF) {
    return 0;
  }
  const size_t minData = data[0];
  host::Platform platform;
  platform.AddRawHob(std::vector<UINT8>(data + 1, data + size));
  host::Firmware firmware(platform);
  Check(firmware.RunImage(fuzz::TakeTables) == EFI_SUCCESS);
  const uint8_t *list = firmware.HobList();
  Check(list != nullptr);
  // The list ends where its handoff HOB says: at the end-of-list HOB.
  uint64_t end = 0;
  memcpy(&end, list + 48, sizeof(end));
  const size_t listSize = static_cast<size_t>(end - reinterpret_cast<uintptr_t>(list));
  Check(listSize + sizeof(EFI_HOB_GENERIC_HEADER) == firmware.HobListSize());

  std::vector<EFI_GUID> names = {gPlatformTimerCalibrationHobGuid, gPlatformRegionTableHobGuid};
  if (size >= 1 + sizeof(EFI_HOB_GUID_TYPE)) {
    EFI_GUID first;
    memcpy(&first, data + 1 + sizeof(EFI_HOB_GENERIC_HEADER), sizeof(first));
    names.push_back(first);
  }
  // The list is looked up anew in this boot's configuration table.
  mDriver.hobListSearched = FALSE;
  mDriver.hobList = nullptr;
  for (const EFI_GUID &name : names) {
    for (size_t want : {size_t{0}, size_t{8}, minData}) {
      const VOID *found = FindGuidHobData(&name, want);
      Check(found == ModelFind(list, listSize, name, want));
    }
  }
  mDriver.hobListSearched = FALSE;
  mDriver.hobList = nullptr;
  return 0;
}
