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

// The simulator's own variables (attributes 3, so never exported): the
// device a mirrored store stands for, and the stand-in providers.
extern const EFI_GUID kSimVariableGuid;
inline constexpr char16_t kSimDeviceName[] = u"ZelmSimDevice";
inline constexpr char16_t kSimStandInName[] = u"ZelmSimStandIns";

// The platform the simulator describes: a configuration block, SMBIOS
// system information (the store's "ZelmSimDevice" strings when it has
// them: manufacturer, product name, serial number, each NUL-terminated).
// Added only where the store does not hold them yet.
void PreparePlatform(host::Platform &platform);

// A setting of another driver that a mirrored machine published: the
// simulator knows nothing of its rules, so its stand-in provider (a string
// setting) takes any text and stores it, and only the permissions and the
// versions decide a packet's result for it.
struct StandIn {
  std::string id;
  std::string value;
};
// The stand-ins a store holds ("ZelmSimStandIns": id NUL value NUL, ...).
std::vector<StandIn> StandInsOf(const host::Platform &platform);
void PutStandIns(host::Platform &platform, const std::vector<StandIn> &standIns);

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
  // Ids of the stand-in providers registered in this boot.
  std::vector<std::string> StandInIds() const;

private:
  struct StandInProvider {
    ZELM_SETTING_PROVIDER provider;
    SimBoot *boot;
    StandIn setting;
  };
  static EFI_STATUS EFIAPI StandInSet(const ZELM_SETTING_PROVIDER *This, UINTN ValueSize,
                                      const VOID *Value, UINT64 *Flags);
  static EFI_STATUS EFIAPI StandInGet(const ZELM_SETTING_PROVIDER *This, UINTN *ValueSize,
                                      VOID *Value);
  static EFI_STATUS EFIAPI StandInGetDefault(const ZELM_SETTING_PROVIDER *This, UINTN *ValueSize,
                                             VOID *Value);
  static EFI_STATUS EFIAPI StandInSetDefault(const ZELM_SETTING_PROVIDER *This);
  static StandInProvider *FindStandIn(const ZELM_SETTING_PROVIDER *provider);
  void RegisterStandIns();
  void SaveStandIns();

  std::vector<std::unique_ptr<StandInProvider>> standIns_;
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
