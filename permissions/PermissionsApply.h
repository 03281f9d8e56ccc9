// The permissions-apply protocol instance.
#ifndef ZELM_PERMISSIONS_PERMISSIONS_APPLY_H_
#define ZELM_PERMISSIONS_PERMISSIONS_APPLY_H_

#include <zelm/ZelmApplyPacket.h>

extern ZELM_APPLY_PACKET_PROTOCOL mPermissionsApply;

#endif
