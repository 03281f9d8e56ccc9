// The platform data a typical machine brings, for scenarios that boot the
// driver with its own providers: a "Setup" block and an SMBIOS System
// Information structure.
#ifndef ZELM_HOST_TYPICAL_MACHINE_H_
#define ZELM_HOST_TYPICAL_MACHINE_H_

#include <string>

#include "host/HostPlatform.h"

namespace host {

// A 256-byte "Setup" block (attributes 7): USB boot allowed (0x5C = 0),
// onboard network boot on (0x6F = 1, 0x64 = 10), the permission indicator
// 4 at 0x80.
void AddSetupBlock(Platform &platform);

// An SMBIOS type-1 structure with the three strings the device identifier
// reads (manufacturer, product name, serial number).
void AddSystemInformation(Platform &platform, const std::string &manufacturer,
                          const std::string &product, const std::string &serial);

} // namespace host

#endif
