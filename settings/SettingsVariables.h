// Variables owned by the settings manager.
#ifndef ZELM_SETTINGS_SETTINGS_VARIABLES_H_
#define ZELM_SETTINGS_SETTINGS_VARIABLES_H_

#include <uefi/UefiBaseType.h>

#include "support/VariableAttributes.h"

extern CHAR16 kSettingsCurrentVariableName[];     // "ZelmSettingsCurrent"
extern CHAR16 kUefiSettingsCurrentVariableName[]; // "UEFISettingsCurrent"
extern CHAR16 kSettingsManagerIdVariableName[];   // "_SMID"

// Deletes the published current settings, so the next ready-to-boot
// publishes them again.
VOID InvalidateCurrentSettings(VOID);

// Deletes "_SMID".
VOID DeleteSettingsManagerId(VOID);

#endif
