// A booted driver with the authentication component, fake providers and a
// group registered, and settings packets delivered through the firmware
// double's transport.
#ifndef ZELM_TESTS_SETTINGS_SETTINGS_PACKET_TEST_SUPPORT_H_
#define ZELM_TESTS_SETTINGS_SETTINGS_PACKET_TEST_SUPPORT_H_

#include <zelm/ZelmGuids.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Transport.h"
#include "tests/permissions/IdentityTestSupport.h"

namespace settingspackettest {

constexpr UINT8 kLocal = 0x01;
constexpr UINT8 kOwner = 0x80;

// One setting of a packet; a NULL value leaves "Value" without text.
struct Setting {
  std::string id;
  const char *value;
};

// "SettingsPacket" text with the declaration.
std::string SettingsXml(UINT32 version, UINT32 lowest, const std::vector<Setting> &settings);

// The registered settings: Enable providers Device.A.Enable (0),
// Device.B.Enable (1), Device.Reboot.Enable (0, asks for a reset),
// Device.Fails.Enable (Set fails with EFI_DEVICE_ERROR), the string
// Device.Name ("old"), the certificate Device.Cert; "Setup" holds USB boot
// disabled for the driver's own USB boot provider, the member of the group
// Zelm.BootExternalMedia.Enable.
class SettingsPacketTest : public identitytest::IdentityTest {
protected:
  void SetUp() override;
  // A fresh boot on the same platform with the providers registered.
  void BootAgain();

  std::unique_ptr<host::Delivery> Deliver(const std::string &xml, UINT8 signer = kLocal,
                                          const host::DeliveryOptions &options = {});
  EFI_STATUS Apply(host::Delivery &delivery) {
    return apply->ApplyPacket(apply, delivery.Record());
  }
  std::vector<UINT8> Smid() const;
  std::vector<UINT8> SettingsCurrent() const;
  std::vector<UINT8> SetupBlock() const;
  // The result variable's status field, text size field and text.
  struct Kvsr {
    bool written = false;
    EFI_STATUS status = 0;
    UINT32 sessionId = 0;
    size_t sizeField = 0;
    std::string text; // without its NUL
  };
  Kvsr ResultOf(host::Delivery &delivery) const;

  ZELM_APPLY_PACKET_PROTOCOL *apply = nullptr;
};

} // namespace settingspackettest

#endif
