/* Everything another driver needs to use Zelm. */
#ifndef ZELM_H_
#define ZELM_H_

#include <zelm/ZelmApplyPacket.h>
#include <zelm/ZelmAuthentication.h>
#include <zelm/ZelmGuids.h>
#include <zelm/ZelmSettingAccess.h>
#include <zelm/ZelmSettingPermission.h>
#include <zelm/ZelmSettingProvider.h>

#endif
