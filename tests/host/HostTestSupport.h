// Shared pieces of the firmware double's own tests.
#ifndef ZELM_TESTS_HOST_HOST_TEST_SUPPORT_H_
#define ZELM_TESTS_HOST_HOST_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "host/HostFirmware.h"

namespace hosttest {

// One boot on a fresh platform.
class BootTest : public ::testing::Test {
protected:
  BootTest() : firmware(std::make_unique<host::Firmware>(platform)) {}
  EFI_BOOT_SERVICES *bs() { return firmware->BootServices(); }
  EFI_RUNTIME_SERVICES *rt() { return firmware->RuntimeServices(); }
  // Ends the boot and starts the next one over the same platform.
  void Reboot() {
    firmware.reset();
    firmware = std::make_unique<host::Firmware>(platform);
  }

  host::Platform platform;
  std::unique_ptr<host::Firmware> firmware;
};

// Context of ProbeNotify: records each run and can act inside it.
struct Probe {
  explicit Probe(int probeId = 0, std::vector<int> *runOrder = nullptr)
      : id(probeId), order(runOrder) {}
  int id = 0;
  std::vector<int> *order = nullptr;
  int runs = 0;
  EFI_TPL seenTpl = 0;
  std::function<void(EFI_EVENT)> action;
};

inline VOID EFIAPI ProbeNotify(EFI_EVENT event, VOID *context) {
  auto *probe = static_cast<Probe *>(context);
  probe->runs++;
  probe->seenTpl = host::Firmware::Current()->CurrentTpl();
  if (probe->order != nullptr) {
    probe->order->push_back(probe->id);
  }
  if (probe->action) {
    probe->action(event);
  }
}

inline constexpr EFI_GUID kGuidA = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
inline constexpr EFI_GUID kGuidB = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};
inline constexpr EFI_GUID kGuidC = {0x33333333, 0x3333, 0x3333, {3, 3, 3, 3, 3, 3, 3, 3}};

} // namespace hosttest

#endif
