// The settings access protocol: Set, Get and ResetToDefaults by identifier,
// for settings and setting groups.
#ifndef ZELM_SETTINGS_SETTING_ACCESS_H_
#define ZELM_SETTINGS_SETTING_ACCESS_H_

#include <zelm/ZelmSettingAccess.h>

extern ZELM_SETTING_ACCESS_PROTOCOL mSettingAccess;

// Forgets the group recursion guards (start-up of a fresh driver).
VOID InitSettingAccess(VOID);

#endif
