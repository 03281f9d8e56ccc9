// A whole machine on the firmware double: the platform's "Setup" block and
// SMBIOS table, the variable lock, the authentication component with local,
// zero-touch and owner keys enrolled, and the driver with its own
// providers. Boots run as a platform runs them, and the transport delivers
// whatever mailbox is still present at the start of a boot.
#ifndef ZELM_TESTS_DRIVER_MACHINE_TEST_SUPPORT_H_
#define ZELM_TESTS_DRIVER_MACHINE_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/Authentication.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"

namespace machinetest {

constexpr UINT8 kLocal = ZELM_IDENTITY_LOCAL;
constexpr UINT8 kZtd = ZELM_IDENTITY_ZERO_TOUCH;
constexpr UINT8 kOwner = ZELM_IDENTITY_OWNER;

// "SettingsPacket" text: Settings are (Id, Value) pairs.
std::string SettingsPacket(UINT32 version, UINT32 lowest,
                           const std::vector<std::pair<std::string, std::string>> &settings);
// "PermissionsPacket" text in replace mode: Entries are (Id, PMask, DMask).
struct PermissionEntryText {
  std::string id;
  int pMask;
  int dMask;
};
std::string PermissionsPacket(UINT32 version, UINT32 lowest,
                              const std::vector<PermissionEntryText> &entries);

// What the machine holds and decides, as a later boot sees it.
struct MachineState {
  std::vector<UINT8> spp;
  std::vector<UINT8> smid;
  std::map<std::string, std::vector<UINT8>> values; // every provider's current value
  // Per identity byte, the setting ids it may change.
  std::map<UINT8, std::set<std::string>> allowed;
};

class MachineTest : public ::testing::Test {
public:
  MachineTest();
  ~MachineTest() override;

  // A boot up to the access protocol: start-up with the components a
  // platform has, then the access-start group.
  void StartBoot();
  // Each mailbox still present, applied as the transport does at a boot
  // (permissions: kept when applied, discarded when not).
  void DeliverPending();
  void ReadyToBoot() { firmware->ReadyToBoot(); }
  // Ends the boot, the driver's resident state released first, and checks
  // the double's accounting: no pool block left, no invalid free.
  void EndBoot();

  // A packet in its mailbox; the caller applies it through the protocols.
  std::unique_ptr<host::Delivery> Deliver(host::PacketKind kind, const std::string &xml,
                                          UINT8 signer);
  // A settings packet delivered and applied.
  EFI_STATUS ApplySettings(const std::string &xml, UINT8 signer);
  // A permissions packet delivered, applied, reported and completed.
  host::PermissionsOutcome ApplyPermissions(const std::string &xml, UINT8 signer);

  template <typename T> T *Find(const EFI_GUID &guid) {
    return static_cast<T *>(firmware->FindProtocol(guid));
  }
  ZELM_SETTING_ACCESS_PROTOCOL *Access() {
    return Find<ZELM_SETTING_ACCESS_PROTOCOL>(gZelmSettingAccessProtocolGuid);
  }
  ZELM_SETTING_PERMISSION_PROTOCOL *Permission() {
    return Find<ZELM_SETTING_PERMISSION_PROTOCOL>(gZelmSettingPermissionProtocolGuid);
  }
  ZELM_APPLY_PACKET_PROTOCOL *SettingsApply() {
    return Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmSettingsApplyProtocolGuid);
  }
  ZELM_APPLY_PACKET_PROTOCOL *PermissionsApply() {
    return Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmPermissionsApplyProtocolGuid);
  }
  ZELM_AUTH_TOKEN Token(UINT8 identity) { return auth->IssueToken(identity); }

  // The stores as the platform holds them, with the values and decisions
  // of the driver in this boot.
  MachineState Observe();
  std::vector<UINT8> Bytes(std::u16string_view name, const EFI_GUID &guid) const;

  host::Platform platform;
  std::unique_ptr<host::Firmware> firmware;
  host::Authentication *auth = nullptr;
};

} // namespace machinetest

#endif
