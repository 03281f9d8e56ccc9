// Start-up order, the protocols on the image handle, the two event groups,
// and the timer-calibration wait.
#include <platform/PlatformGuids.h>
#include <uefi/Pi/PiHob.h>
#include <uefi/UefiGuids.h>

#include <string>
#include <vector>

#include "driver/TimerCalibration.h"
#include "providers/ProviderLibrary.h"
#include "support/ProtocolNotify.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

struct Watch {
  std::vector<std::string> *trace;
  std::string name;
};

VOID EFIAPI RecordInstall(EFI_EVENT, VOID *context) {
  auto *watch = static_cast<Watch *>(context);
  watch->trace->push_back(watch->name);
}

class StartupTest : public DriverTest {
protected:
  // Records the installation of Guid in the trace under Name.
  void WatchProtocol(EFI_GUID *guid, const char *name) {
    watches_.push_back(std::make_unique<Watch>(Watch{&trace, name}));
    EFI_EVENT event = nullptr;
    ASSERT_EQ(firmware->BootServices()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordInstall,
                                                    watches_.back().get(), &event),
              EFI_SUCCESS);
    VOID *registration = nullptr;
    ASSERT_EQ(firmware->BootServices()->RegisterProtocolNotify(guid, event, &registration),
              EFI_SUCCESS);
  }

  std::vector<std::string> trace;
  std::vector<std::unique_ptr<Watch>> watches_;
};

TEST_F(StartupTest, StepsRunInTheirOrderAndInstallOnTheImageHandle) {
  platform.cpu.SetPortReadHook(kPmTimerPort, [this](UINT16) {
    if (trace.empty() || trace.back() != "timer") {
      trace.push_back("timer");
    }
    return 0xFFFFFFFFu;
  });
  WatchProtocol(&gPlatformHookRegistryProtocolGuid, "hook registry");
  WatchProtocol(&gZelmPermissionsApplyProtocolGuid, "permissions apply");
  WatchProtocol(&gZelmSettingProviderSupportProtocolGuid, "provider support");
  WatchProtocol(&gZelmSettingPermissionProtocolGuid, "setting permission");
  WatchProtocol(&gZelmSettingsApplyProtocolGuid, "settings apply");
  WatchProtocol(&gZelmSettingAccessProtocolGuid, "settings access");

  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  const std::vector<std::string> expected = {"timer",
                                             "hook registry",
                                             "permissions apply",
                                             "provider support",
                                             "setting permission",
                                             "settings apply"};
  EXPECT_EQ(trace, expected);
  for (EFI_GUID *guid :
       {&gZelmPermissionsApplyProtocolGuid, &gZelmSettingProviderSupportProtocolGuid,
        &gZelmSettingPermissionProtocolGuid, &gZelmSettingsApplyProtocolGuid}) {
    EXPECT_TRUE(firmware->HasProtocol(image, *guid));
  }
  EXPECT_TRUE(platform.cpu.interruptsEnabled);

  // The access protocol exists only once its group has been signalled.
  EXPECT_EQ(Find<VOID>(gZelmSettingAccessProtocolGuid), nullptr);
  EXPECT_NE(StartAccess(), nullptr);
  EXPECT_TRUE(firmware->HasProtocol(image, gZelmSettingAccessProtocolGuid));
  EXPECT_EQ(trace.back(), "settings access");
}

TEST_F(StartupTest, ApplyProtocolsCarryTheirSignatureAndVersion) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  for (EFI_GUID *guid : {&gZelmSettingsApplyProtocolGuid, &gZelmPermissionsApplyProtocolGuid}) {
    auto *apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(*guid);
    ASSERT_NE(apply, nullptr);
    EXPECT_EQ(0, memcmp(apply, "YPPA\x01\0\0\0", 8));
    ZELM_APPLY_PACKET packet{};
    ZELM_APPLY_PACKET_PROTOCOL foreign = *apply;
    EXPECT_EQ(apply->ApplyPacket(&foreign, &packet), EFI_INVALID_PARAMETER);
    EXPECT_EQ(apply->ApplyPacket(apply, nullptr), EFI_INVALID_PARAMETER);
  }
}

TEST_F(StartupTest, EachGroupEventRunsOnceAndClosesItself) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  size_t open = firmware->OpenEventCount();
  StartAccess();
  EXPECT_EQ(firmware->OpenEventCount(), open - 1);
  firmware->ReadyToBoot();
  EXPECT_EQ(firmware->OpenEventCount(), open - 2);
  firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  firmware->ReadyToBoot();
  EXPECT_EQ(firmware->OpenEventCount(), open - 2);
}

// A provider library of the test's own, driven by the driver's mechanism.
EFI_STATUS EFIAPI LibrarySet(const ZELM_SETTING_PROVIDER *, UINTN, const VOID *, UINT64 *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI LibraryGet(const ZELM_SETTING_PROVIDER *, UINTN *size, VOID *value) {
  if (*size < 1) {
    *size = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  *size = 1;
  *static_cast<UINT8 *>(value) = 1;
  return EFI_SUCCESS;
}
const ZELM_SETTING_PROVIDER kLibraryProvider = {"Test.Library.Enable",
                                                ZELM_SETTING_TYPE_ENABLE,
                                                0,
                                                LibrarySet,
                                                LibraryGet,
                                                LibraryGet,
                                                nullptr};
int libraryRuns = 0;
VOID *libraryRegistration = nullptr;

VOID EFIAPI LibraryNotify(EFI_EVENT event, VOID *) {
  libraryRuns++;
  RegisterLibraryProviders(event, &kLibraryProvider, 1);
}

// Starts the test library from inside the start-up, before the provider
// support protocol exists.
VOID EFIAPI StartLibraryEarly(EFI_EVENT event, VOID *) {
  host::Firmware::Current()->BootServices()->CloseEvent(event);
  EXPECT_NE(NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, LibraryNotify,
                             &libraryRegistration),
            nullptr);
}

bool Registered(ZELM_SETTING_ACCESS_PROTOCOL *access, const CHAR8 *id) {
  UINT8 value = 0;
  UINTN size = 1;
  return access->Get(access, id, nullptr, ZELM_SETTING_TYPE_ENABLE, &size, &value, nullptr) ==
             EFI_SUCCESS &&
         value == 1;
}

TEST_F(StartupTest, ProviderLibraryStartedBeforeTheSupportProtocolWaitsForIt) {
  libraryRuns = 0;
  EFI_EVENT event = nullptr;
  ASSERT_EQ(firmware->BootServices()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK,
                                                  StartLibraryEarly, nullptr, &event),
            EFI_SUCCESS);
  VOID *registration = nullptr;
  ASSERT_EQ(firmware->BootServices()->RegisterProtocolNotify(&gZelmPermissionsApplyProtocolGuid,
                                                             event, &registration),
            EFI_SUCCESS);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  // Once at its creation (no protocol yet), once at the installation.
  EXPECT_EQ(libraryRuns, 2);
  EXPECT_TRUE(Registered(StartAccess(), "Test.Library.Enable"));
  // Its event closed after registering: another installation does not wake it.
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL second = *Support();
  ASSERT_EQ(firmware->InstallProtocol(gZelmSettingProviderSupportProtocolGuid, &second),
            EFI_SUCCESS);
  EXPECT_EQ(libraryRuns, 2);
}

TEST_F(StartupTest, ProviderLibraryStartedAfterTheSupportProtocolRegistersAtOnce) {
  libraryRuns = 0;
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  size_t open = firmware->OpenEventCount();
  EXPECT_NE(NotifyOnProtocol(&gZelmSettingProviderSupportProtocolGuid, LibraryNotify,
                             &libraryRegistration),
            nullptr);
  EXPECT_EQ(libraryRuns, 1);
  EXPECT_EQ(firmware->OpenEventCount(), open);
  EXPECT_TRUE(Registered(StartAccess(), "Test.Library.Enable"));
}

TEST_F(StartupTest, RebootStartsFromAnEmptyRegistry) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  ZELM_SETTING_ACCESS_PROTOCOL *access = StartAccess();
  UINT8 value = 0xAA;
  UINTN size = 1;
  EXPECT_EQ(access->Get(access, "Device.Password.Password", nullptr, ZELM_SETTING_TYPE_PASSWORD,
                        &size, &value, nullptr),
            EFI_SUCCESS);
  Reboot();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  access = StartAccess();
  value = 0xAA;
  EXPECT_EQ(access->Get(access, "Device.Password.Password", nullptr, ZELM_SETTING_TYPE_PASSWORD,
                        &size, &value, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(value, 0);
}

// The timer-calibration wait.
class TimerTest : public DriverTest {};

TEST_F(TimerTest, CalibrationHobSkipsAllPortIo) {
  platform.AddGuidHob(gPlatformTimerCalibrationHobGuid, {});
  Reboot(); // the HOB list is built when a boot begins
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(platform.cpu.TotalPortReads(), 0u);
  EXPECT_EQ(platform.cpu.disableCount, 0u);
}

TEST_F(TimerTest, WaitEndsWhenTheTimerPassesTheTarget) {
  UINT32 now = 0x00FFFF00; // about to wrap its 24 bits
  platform.cpu.SetPortReadHook(kPmTimerPort, [&now](UINT16) {
    UINT32 value = now & 0xFFFFFF;
    now += 100;
    return value;
  });
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  // One read for the start, then reads 100 ticks apart until 363 ticks passed.
  EXPECT_EQ(platform.cpu.PortReads(kPmTimerPort), 1u + 4u);
  EXPECT_EQ(platform.cpu.disableCount, 1u);
  EXPECT_EQ(platform.cpu.restoreCount, 1u);
  EXPECT_TRUE(platform.cpu.interruptsEnabled);
}

TEST_F(TimerTest, StuckTimerPortEndsOnTheTimeStampBudget) {
  // q35: port 0x1808 reads all-ones for ever.
  platform.cpu.SetPortReadHook(kPmTimerPort, [](UINT16) { return 0xFFFFFFFFu; });
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_GT(platform.cpu.pauseCount, 0u);
  EXPECT_LE(platform.cpu.pauseCount * platform.cpu.tscPerPause,
            kCalibrationTscBudget + platform.cpu.tscPerPause);
  EXPECT_TRUE(platform.cpu.interruptsEnabled);
}

TEST_F(TimerTest, InterruptsStayOffWhenTheyWereOff) {
  platform.cpu.interruptsEnabled = false;
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_FALSE(platform.cpu.interruptsEnabled);
}

std::vector<UINT8> Hob(UINT16 type, UINT16 length, std::vector<UINT8> body = {}) {
  std::vector<UINT8> bytes = {
      UINT8(type), UINT8(type >> 8), UINT8(length), UINT8(length >> 8), 0, 0, 0, 0};
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<UINT8> GuidBytes(const EFI_GUID &guid) {
  const auto *p = reinterpret_cast<const UINT8 *>(&guid);
  return std::vector<UINT8>(p, p + sizeof(guid));
}

// Hostile HOB lists: the calibration HOB must not be found, and the walk
// must neither hang nor read past a HOB.
TEST_F(TimerTest, MalformedHobsEndTheWalkOrAreSkipped) {
  struct Row {
    const char *name;
    std::vector<std::vector<UINT8>> hobs;
  };
  std::vector<UINT8> calibration = GuidBytes(gPlatformTimerCalibrationHobGuid);
  std::vector<UINT8> withData = calibration;
  withData.resize(calibration.size() + 8);
  const std::vector<Row> rows = {
      {"zero-length HOB before the calibration HOB",
       {Hob(EFI_HOB_TYPE_UNUSED, 0), Hob(EFI_HOB_TYPE_GUID_EXTENSION, 32, withData)}},
      {"HOB shorter than its header",
       {Hob(EFI_HOB_TYPE_UNUSED, 4), Hob(EFI_HOB_TYPE_GUID_EXTENSION, 32, withData)}},
      {"GUID HOB too short for its name",
       {Hob(EFI_HOB_TYPE_GUID_EXTENSION, 16, {1, 2, 3, 4, 5, 6, 7, 8})}},
      // A length that steps over the end-of-list HOB would send the walk
      // past the list (the sanitizer build sees the read).
      {"HOB longer than the rest of the list", {Hob(EFI_HOB_TYPE_UNUSED, 0x100)}},
      {"HOB that ends inside the end-of-list HOB", {Hob(EFI_HOB_TYPE_UNUSED, 12)}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.ClearHobs();
    platform.EnableHobList();
    for (const auto &hob : row.hobs) {
      platform.AddRawHob(hob);
    }
    platform.cpu.Reset();
    Reboot();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    EXPECT_GT(platform.cpu.PortReads(kPmTimerPort), 0u);
  }
}

} // namespace
