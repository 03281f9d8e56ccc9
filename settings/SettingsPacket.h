// One authenticated settings packet applied setting by setting under the
// signer's identity, with its "ResultsPacket".
#ifndef ZELM_SETTINGS_SETTINGS_PACKET_H_
#define ZELM_SETTINGS_SETTINGS_PACKET_H_

#include <zelm/ZelmApplyPacket.h>

#include "settings/SettingsManagerData.h"

// Applies the packet (State 2) and leaves the result text in ResultText
// and ResultSize (NULL and 0 when none could be made); records State and
// Status and returns the status. *VersionsAccepted is set once both
// version checks have passed and Data holds the packet's versions: from
// then on settings may have changed, so Data must be saved whatever the
// outcome.
[[nodiscard]] EFI_STATUS ProcessSettingsPacket(ZELM_APPLY_PACKET *Packet,
                                               ZELM_SETTINGS_MANAGER_DATA *Data,
                                               BOOLEAN *VersionsAccepted);

#endif
