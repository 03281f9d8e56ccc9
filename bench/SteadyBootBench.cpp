// zelm-boot-bench: variable traffic of a boot in which nothing changed, on
// the firmware double with the driver's own providers, a "Setup" block and
// an SMBIOS table. Flash writes are the wear and the milliseconds on real
// hardware, so a steady boot must make none.
// Prints the larger of the two cases (owner enrolled, or not):
//   setvariable-calls steady-boot <n>
//   getvariable-calls steady-boot <n>
#include <platform/PlatformGuids.h>
#include <uefi/UefiGuids.h>
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver/Entry.h"
#include "host/Authentication.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "host/TypicalMachine.h"

namespace {

const char kSettings[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket>"
                         "<Version>1</Version><LowestSupportedVersion>1</LowestSupportedVersion>"
                         "<Settings><Setting><Id>Device.BootOrderLock.Enable</Id>"
                         "<Value>Enabled</Value></Setting><Setting><Id>Zelm3.AssetTag.String</Id>"
                         "<Value>BENCH-1</Value></Setting></Settings></SettingsPacket>";

void PreparePlatform(host::Platform &platform, bool owner) {
  platform.SetClock(2026, 12, 10, 9, 0, 0);
  host::AddSetupBlock(platform);
  host::AddSystemInformation(platform, "Zelm Machines", "Model 1", "SN-0001");
  platform.PutVariable(u"BootOrder", gEfiGlobalVariableGuid, 7, std::vector<UINT8>{1, 0});
  platform.authentication.Enrol(ZELM_IDENTITY_LOCAL | (owner ? ZELM_IDENTITY_OWNER : 0));
}

struct Traffic {
  size_t sets = 0;
  size_t gets = 0;
};

// One boot to the exit of boot services; with Packet, a settings packet is
// applied first. Returns its variable calls.
Traffic Boot(host::Platform &platform, bool packet) {
  const size_t sets = platform.SetVariableLog().size();
  platform.ClearGetVariableCalls();
  {
    host::Firmware firmware(platform);
    firmware.InstallSmbios();
    firmware.InstallVariableLock();
    firmware.InstallAuthentication();
    if (EFI_ERROR(firmware.RunImage(ZelmDriverEntry))) {
      std::fprintf(stderr, "zelm-boot-bench: the driver did not start\n");
      return {};
    }
    firmware.SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
    if (packet) {
      auto *apply = static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(
          firmware.FindProtocol(gZelmSettingsApplyProtocolGuid));
      host::Delivery delivery(platform, host::PacketKind::Settings,
                              host::SignPacket(kSettings, ZELM_IDENTITY_LOCAL));
      (VOID) apply->ApplyPacket(apply, delivery.Record());
    }
    firmware.ReadyToBoot();
    firmware.RunHookPoint(gPlatformBootOrderLockHookGuid);
    firmware.ExitBootServices();
  }
  return {platform.SetVariableLog().size() - sets, platform.GetVariableCalls()};
}

} // namespace

int main() {
  Traffic worst;
  for (bool owner : {true, false}) {
    host::Platform platform;
    PreparePlatform(platform, owner);
    Boot(platform, true);
    platform.SetClock(2026, 12, 11, 9, 0, 0);
    Boot(platform, false);
    platform.SetClock(2026, 12, 12, 9, 0, 0);
    const Traffic steady = Boot(platform, false);
    std::printf("steady boot, %s: %zu SetVariable, %zu GetVariable\n",
                owner ? "owner enrolled" : "no owner", steady.sets, steady.gets);
    worst.sets = std::max(worst.sets, steady.sets);
    worst.gets = std::max(worst.gets, steady.gets);
  }
  std::printf("setvariable-calls steady-boot %zu\n", worst.sets);
  std::printf("getvariable-calls steady-boot %zu\n", worst.gets);
  return 0;
}
