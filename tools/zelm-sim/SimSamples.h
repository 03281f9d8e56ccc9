// The sample packets the demo applies; also in tools/zelm-sim/samples/.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_SAMPLES_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_SAMPLES_H_

namespace sim {

// Local identity: lock the boot order, set the asset tag, turn USB boot off.
inline constexpr char kSampleSettings[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<SettingsPacket>\n"
    "  <Version>1</Version>\n"
    "  <LowestSupportedVersion>1</LowestSupportedVersion>\n"
    "  <Settings>\n"
    "    <Setting><Id>Device.BootOrderLock.Enable</Id><Value>Enabled</Value></Setting>\n"
    "    <Setting><Id>Zelm3.AssetTag.String</Id><Value>DEMO-0001</Value></Setting>\n"
    "    <Setting><Id>Device.USBBoot.Enable</Id><Value>Disabled</Value></Setting>\n"
    "  </Settings>\n"
    "</SettingsPacket>\n";

// Owner: from now on only the owner may change USB boot.
inline constexpr char kSamplePermissions[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<PermissionsPacket>\n"
    "  <Version>1</Version>\n"
    "  <LowestSupportedVersion>1</LowestSupportedVersion>\n"
    "  <Permissions Append=\"True\">\n"
    "    <Permission><Id>Device.USBBoot.Enable</Id><PMask>128</PMask><DMask>128</DMask>"
    "</Permission>\n"
    "  </Permissions>\n"
    "</PermissionsPacket>\n";

// Local identity again: USB boot back on, which it may no longer do.
inline constexpr char kSampleRefusedSettings[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<SettingsPacket>\n"
    "  <Version>2</Version>\n"
    "  <LowestSupportedVersion>1</LowestSupportedVersion>\n"
    "  <Settings>\n"
    "    <Setting><Id>Device.USBBoot.Enable</Id><Value>Enabled</Value></Setting>\n"
    "    <Setting><Id>Zelm3.AssetTag.String</Id><Value>DEMO-0002</Value></Setting>\n"
    "  </Settings>\n"
    "</SettingsPacket>\n";

} // namespace sim

#endif
