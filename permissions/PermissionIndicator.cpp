#include <platform/PlatformGuids.h>

#include "permissions/PermissionImage.h"
#include "providers/PlatformSetup.h"
#include "support/VariableAccess.h"
#include "support/VariableAttributes.h"

namespace {

// Values of "Setup" byte 0x80 that the platform's setup screens read.
constexpr UINT8 kIndicatorLocalAbsent = 2;
constexpr UINT8 kIndicatorLocalRestored = 4;

} // namespace

EFI_STATUS SyncPermissionIndicator(BOOLEAN LocalAbsent) {
  PlatformSetupCopy copy;
  EFI_STATUS status = ReadPlatformSetup(&copy.block);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINT8 indicator = 0;
  status = GetSetupByte(&copy.block, kSetupPermissionIndicator, &indicator);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINT8 wanted = indicator;
  if (LocalAbsent && indicator != kIndicatorLocalAbsent) {
    wanted = kIndicatorLocalAbsent;
  } else if (!LocalAbsent && indicator == kIndicatorLocalAbsent) {
    wanted = kIndicatorLocalRestored;
  }
  if (wanted == indicator) {
    return EFI_SUCCESS;
  }
  status = SetSetupByte(&copy.block, kSetupPermissionIndicator, wanted);
  if (EFI_ERROR(status)) {
    return status;
  }
  return PlatformSetVariable(u"Setup", &gPlatformSetupVariableGuid, kPublishedVariableAttributes,
                             copy.block.size, copy.block.data);
}
