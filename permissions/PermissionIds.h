// The identity settings: ids no provider implements, known to the
// permission manager for their special rules.
#ifndef ZELM_PERMISSIONS_PERMISSION_IDS_H_
#define ZELM_PERMISSIONS_PERMISSION_IDS_H_

#include <uefi/UefiBaseType.h>

inline constexpr CHAR8 kOwnerKeyId[] = "Zelm.OwnerKey.Enum";
inline constexpr CHAR8 kZtdKeyId[] = "Zelm.ZtdKey.Enum";
inline constexpr CHAR8 kZtdUnenrollId[] = "Zelm.ZtdUnenroll.Enable";
inline constexpr CHAR8 kZtdRecoveryId[] = "Zelm.Ztd.Recovery.Enable";
inline constexpr CHAR8 kRecoveryId[] = "Zelm.Recovery.Enable";

#endif
