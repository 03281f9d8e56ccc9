// The setting-permission protocol instance.
#ifndef ZELM_PERMISSIONS_PERMISSION_PROTOCOL_H_
#define ZELM_PERMISSIONS_PERMISSION_PROTOCOL_H_

#include <zelm/ZelmSettingPermission.h>

extern ZELM_SETTING_PERMISSION_PROTOCOL mSettingPermission;

#endif
