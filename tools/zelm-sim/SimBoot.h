// One boot of the simulated platform: the firmware double over the store's
// variables, the simulator's authentication component, the driver image,
// and the boot phases a real platform goes through.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_BOOT_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_BOOT_H_

#include <zelm/Zelm.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/HostFirmware.h"
#include "tools/zelm-sim/SimAuthentication.h"
#include "tools/zelm-sim/SimWhy.h"

namespace sim {

// The platform the simulator describes: a configuration block, SMBIOS
// system information. Added only where the store does not hold them yet.
void PreparePlatform(host::Platform &platform);

class SimBoot {
public:
  SimBoot(host::Platform &platform, KeyStore &keys);
  ~SimBoot();
  SimBoot(const SimBoot &) = delete;
  SimBoot &operator=(const SimBoot &) = delete;

  // Start-up and the access-start group. FALSE when the driver did not start.
  bool Start();
  // Ready-to-boot (current settings, device identifier), the boot-order
  // lock hook point, exit boot services.
  void Finish();

  ZELM_SETTING_ACCESS_PROTOCOL *Access();
  ZELM_SETTING_PERMISSION_PROTOCOL *Permission();
  ZELM_APPLY_PACKET_PROTOCOL *SettingsApply();
  ZELM_APPLY_PACKET_PROTOCOL *PermissionsApply();
  SimAuthentication &Authentication() { return *auth_; }

  // The driver's setting groups with their members, as its registry holds
  // them (after Start).
  GroupTable Groups();
  // Whether the driver would let Identity change the registered setting
  // Id: the settings access protocol's writable flag for a token of that
  // identity. Empty when Id is no registered setting.
  std::optional<bool> MayChange(const std::string &id, UINT8 identity);
  host::Firmware &Firmware() { return *firmware_; }
  EFI_STATUS EntryStatus() const { return entry_; }

private:
  std::unique_ptr<host::Firmware> firmware_;
  std::unique_ptr<SimAuthentication> auth_;
  EFI_STATUS entry_ = EFI_NOT_STARTED;
};

// The bytes of the variable Name under Guid, or empty.
std::vector<UINT8> VariableByName(const host::Platform &platform, const std::u16string &name,
                                  const EFI_GUID &guid, UINT32 *attributes = nullptr);

// The GUID under which the driver or the transport keeps a variable of
// that name, or NULL when the name is none of theirs.
const EFI_GUID *KnownGuid(const std::u16string &name);

std::u16string Wide(const std::string &text);
std::string Narrow(const std::u16string &text);

} // namespace sim

#endif
