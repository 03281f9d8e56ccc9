#include "tests/settings/SettingsPacketTestSupport.h"

#include <platform/PlatformGuids.h>

#include <cstring>

namespace settingspackettest {

using settingstest::FakeProvider;
using settingstest::FakeValues;

std::string SettingsXml(UINT32 version, UINT32 lowest, const std::vector<Setting> &settings) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>" +
                    std::to_string(version) + "</Version><LowestSupportedVersion>" +
                    std::to_string(lowest) + "</LowestSupportedVersion><Settings>";
  for (const Setting &s : settings) {
    xml += "<Setting><Id>" + s.id + "</Id>" +
           (s.value == nullptr ? std::string("<Value/>")
                               : "<Value>" + std::string(s.value) + "</Value>") +
           "</Setting>";
  }
  return xml + "</Settings></SettingsPacket>";
}

void SettingsPacketTest::SetUp() {
  IdentityTest::SetUp();
  platform.authentication.Enrol(kLocal);
  FakeValues()["Device.A.Enable"].bytes = {0};
  FakeValues()["Device.B.Enable"].bytes = {1};
  FakeValues()["Device.Reboot.Enable"].bytes = {0};
  FakeValues()["Device.Reboot.Enable"].setFlags = ZELM_SETTING_FLAG_REBOOT_REQUIRED;
  FakeValues()["Device.Fails.Enable"].setStatus = EFI_DEVICE_ERROR;
  FakeValues()["Device.Name"].bytes = {'o', 'l', 'd', 0};
  FakeValues()["Device.Cert"].bytes = {1, 2, 3};
  // The driver's own boot providers read this block: USB boot disabled
  // (0x5C non-zero), onboard network boot off.
  std::vector<UINT8> setup(0x100, 0);
  setup[0x5C] = 1;
  platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7, setup);
  BootAgain();
}

void SettingsPacketTest::BootAgain() {
  Boot(/*ownerEnrolled=*/false);
  for (const char *id :
       {"Device.A.Enable", "Device.B.Enable", "Device.Reboot.Enable", "Device.Fails.Enable"}) {
    ASSERT_EQ(Register(FakeProvider(id)), EFI_SUCCESS) << id;
  }
  ASSERT_EQ(Register(FakeProvider("Device.Name", ZELM_SETTING_TYPE_STRING)), EFI_SUCCESS);
  ASSERT_EQ(Register(FakeProvider("Device.Cert", ZELM_SETTING_TYPE_CERT)), EFI_SUCCESS);
  apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmSettingsApplyProtocolGuid);
  ASSERT_NE(apply, nullptr);
}

std::unique_ptr<host::Delivery> SettingsPacketTest::Deliver(const std::string &xml, UINT8 signer,
                                                            const host::DeliveryOptions &options) {
  return std::make_unique<host::Delivery>(platform, host::PacketKind::Settings,
                                          host::SignPacket(xml, signer), options);
}

std::vector<UINT8> SettingsPacketTest::Smid() const {
  return permissionstest::VariableBytes(platform, u"_SMID", gZelmSettingsManagerVariableGuid);
}

std::vector<UINT8> SettingsPacketTest::SettingsCurrent() const {
  return permissionstest::VariableBytes(platform, u"ZelmSettingsCurrent",
                                        gZelmSettingsVariableGuid);
}

std::vector<UINT8> SettingsPacketTest::SetupBlock() const {
  return permissionstest::VariableBytes(platform, u"Setup", gPlatformSetupVariableGuid);
}

SettingsPacketTest::Kvsr SettingsPacketTest::ResultOf(host::Delivery &delivery) const {
  Kvsr kvsr;
  std::vector<UINT8> bytes = delivery.ResultVariable();
  if (bytes.size() < 22) {
    return kvsr;
  }
  kvsr.written = true;
  std::memcpy(&kvsr.status, bytes.data() + 8, sizeof(kvsr.status));
  std::memcpy(&kvsr.sessionId, bytes.data() + 16, sizeof(kvsr.sessionId));
  kvsr.sizeField = bytes[20] | bytes[21] << 8;
  if (bytes.size() > 22) {
    kvsr.text.assign(bytes.begin() + 22, bytes.end() - 1);
  }
  return kvsr;
}

} // namespace settingspackettest
