#include "settings/SettingsVariables.h"

#include <zelm/ZelmGuids.h>

#include "support/FirmwareTables.h"

CHAR16 kSettingsCurrentVariableName[] = u"ZelmSettingsCurrent";
CHAR16 kSettingsManagerIdVariableName[] = u"_SMID";

VOID InvalidateCurrentSettings(VOID) {
  gRT->SetVariable(kSettingsCurrentVariableName, &gZelmSettingsVariableGuid, kPublishedAttributes,
                   0, nullptr);
}

VOID DeleteSettingsManagerId(VOID) {
  gRT->SetVariable(kSettingsManagerIdVariableName, &gZelmSettingsManagerVariableGuid,
                   kStoreAttributes, 0, nullptr);
}
