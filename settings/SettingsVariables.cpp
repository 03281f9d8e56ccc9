#include "settings/SettingsVariables.h"

#include <zelm/ZelmGuids.h>

#include "support/FirmwareTables.h"

CHAR16 kSettingsCurrentVariableName[] = u"ZelmSettingsCurrent";
CHAR16 kUefiSettingsCurrentVariableName[] = u"UEFISettingsCurrent";
CHAR16 kSettingsManagerIdVariableName[] = u"_SMID";

// Deletions pass attributes 0, so they succeed whatever attributes the
// variable was written with.
// A read first: a packet changing many settings deletes the document once
// rather than writing the store for every setting.
VOID InvalidateCurrentSettings(VOID) {
  UINTN size = 0;
  if (gRT->GetVariable(kSettingsCurrentVariableName, &gZelmSettingsVariableGuid, nullptr, &size,
                       nullptr) != EFI_NOT_FOUND) {
    gRT->SetVariable(kSettingsCurrentVariableName, &gZelmSettingsVariableGuid, 0, 0, nullptr);
  }
}

VOID DeleteSettingsManagerId(VOID) {
  gRT->SetVariable(kSettingsManagerIdVariableName, &gZelmSettingsManagerVariableGuid, 0, 0,
                   nullptr);
}
