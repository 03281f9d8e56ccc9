// Booting the driver on the firmware double.
#ifndef ZELM_TESTS_DRIVER_DRIVER_TEST_SUPPORT_H_
#define ZELM_TESTS_DRIVER_DRIVER_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <zelm/Zelm.h>

#include <memory>

#include "driver/Entry.h"
#include "host/HostFirmware.h"

namespace drivertest {

// A platform, one boot on it, and the driver started in that boot.
class DriverTest : public ::testing::Test {
protected:
  DriverTest() : firmware(std::make_unique<host::Firmware>(platform)) {}

  // Starts the driver image; returns the entry point's status.
  EFI_STATUS StartDriver(EFI_MEMORY_TYPE codeType = EfiBootServicesCode) {
    image = firmware->LoadImage(codeType);
    return firmware->StartImage(image, ZelmDriverEntry);
  }
  // Ends this boot and begins the next over the same platform.
  void Reboot() {
    firmware.reset();
    firmware = std::make_unique<host::Firmware>(platform);
    image = nullptr;
  }
  template <typename T> T *Find(const EFI_GUID &guid) {
    return static_cast<T *>(firmware->FindProtocol(guid));
  }
  ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *Support() {
    return Find<ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL>(gZelmSettingProviderSupportProtocolGuid);
  }
  // Signals the access-start group and returns the access protocol.
  ZELM_SETTING_ACCESS_PROTOCOL *StartAccess() {
    firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
    return Find<ZELM_SETTING_ACCESS_PROTOCOL>(gZelmSettingAccessProtocolGuid);
  }

  host::Platform platform;
  std::unique_ptr<host::Firmware> firmware;
  EFI_HANDLE image = nullptr;
};

} // namespace drivertest

#endif
