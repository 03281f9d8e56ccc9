// The settings-apply protocol instance.
#ifndef ZELM_SETTINGS_SETTINGS_APPLY_H_
#define ZELM_SETTINGS_SETTINGS_APPLY_H_

#include <zelm/ZelmApplyPacket.h>

extern ZELM_APPLY_PACKET_PROTOCOL mSettingsApply;

#endif
