// "ZelmSettingsCurrent" and "UEFISettingsCurrent" at ready-to-boot: the
// exact document, and a write only when the settings in it changed.
#include <uefi/UefiGuids.h>

#include "settings/CurrentSettings.h"
#include "tests/settings/SettingsPacketTestSupport.h"

namespace {

using settingspackettest::SettingsPacketTest;
using settingspackettest::SettingsXml;
using settingstest::FakeValues;

std::string Text(const std::vector<UINT8> &bytes) {
  return bytes.empty() ? std::string() : std::string(bytes.begin(), bytes.end() - 1);
}

class CurrentSettingsTest : public SettingsPacketTest {
protected:
  std::vector<UINT8> UefiCurrent() const {
    return permissionstest::VariableBytes(platform, u"UEFISettingsCurrent",
                                          gZelmSettingsVariableGuid);
  }
  // Writes of the two documents during one ready-to-boot.
  size_t ReadyToBootWrites() {
    const size_t before = platform.SetVariableLog().size();
    firmware->SignalEventGroup(gEfiEventReadyToBootGuid);
    size_t writes = 0;
    for (size_t i = before; i < platform.SetVariableLog().size(); i++) {
      const std::u16string &name = platform.SetVariableLog()[i].name;
      writes += name == u"ZelmSettingsCurrent" || name == u"UEFISettingsCurrent";
    }
    return writes;
  }
};

TEST_F(CurrentSettingsTest, DocumentListsProvidersInOrderThenGroupsThenTheFloor) {
  FakeValues()["Device.Fails.Enable"].getStatus = EFI_DEVICE_ERROR;
  auto packet = Deliver(SettingsXml(4, 3, {}));
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  EXPECT_EQ(ReadyToBootWrites(), 2u);
  // The providers the driver registers itself come first, then the fakes
  // in registration order (a value that cannot be read is left
  // out), then the group and the floor.
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><CurrentSettingsPacket>"
      "<Date>2026-12-09T10:20:30</Date><Settings>"
      "<SettingCurrent><Id>Device.BootOrderLock.Enable</Id><Value>Disabled</Value>"
      "</SettingCurrent>"
      "<SettingCurrent><Id>Device.USBBoot.Enable</Id><Value>Disabled</Value></SettingCurrent>"
      "<SettingCurrent><Id>Zelm.BootOnboardNetwork.Enable</Id><Value>Disabled</Value>"
      "</SettingCurrent>"
      "<SettingCurrent><Id>Device.Password.Password</Id><Value>No System Password</Value>"
      "</SettingCurrent>"
      "<SettingCurrent><Id>Zelm.RecoveryUrl.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Zelm.RecoveryBootstrapUrl.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Zelm.HttpsCert.Binary</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Zelm.RegistrationId.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Zelm.TenantId.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>MDM.FriendlyName.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>MDM.TenantName.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Device.CpuAndIoVirtualization.Enable</Id><Value>Enabled</Value>"
      "</SettingCurrent>"
      "<SettingCurrent><Id>Zelm3.OnboardXpbt.Enable</Id><Value>Enabled</Value></SettingCurrent>"
      "<SettingCurrent><Id>Zelm3.AssetTag.String</Id><Value /></SettingCurrent>"
      "<SettingCurrent><Id>Device.A.Enable</Id><Value>Disabled</Value></SettingCurrent>"
      "<SettingCurrent><Id>Device.B.Enable</Id><Value>Enabled</Value></SettingCurrent>"
      "<SettingCurrent><Id>Device.Reboot.Enable</Id><Value>Disabled</Value></SettingCurrent>"
      "<SettingCurrent><Id>Device.Name</Id><Value>old</Value></SettingCurrent>"
      "<SettingCurrent><Id>Device.Cert</Id><Value>CN=Zelm Test Certificate</Value>"
      "</SettingCurrent>"
      "<SettingCurrent><Id>Zelm.BootExternalMedia.Enable</Id><Value>Disabled</Value>"
      "</SettingCurrent></Settings><LSV>3</LSV></CurrentSettingsPacket>";
  const std::string document = Text(SettingsCurrent());
  EXPECT_EQ(document, expected);
  EXPECT_EQ(SettingsCurrent().back(), 0);
  EXPECT_EQ(document.find("Device.Fails.Enable"), std::string::npos);
  EXPECT_EQ(SettingsCurrent(), UefiCurrent());
  EXPECT_EQ(platform.FindVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid)->attributes,
            7u);
}

TEST_F(CurrentSettingsTest, DocumentsAreWrittenOnlyWhenTheirSettingsChange) {
  EXPECT_EQ(ReadyToBootWrites(), 2u);
  const std::vector<UINT8> first = SettingsCurrent();
  // Next boot, a later clock, nothing changed: no write.
  BootAgain();
  platform.SetClock(2026, 12, 10, 8, 0, 0);
  EXPECT_EQ(ReadyToBootWrites(), 0u);
  EXPECT_EQ(SettingsCurrent(), first);
  // A setup screen changed a value behind the driver's back.
  BootAgain();
  FakeValues()["Device.B.Enable"].bytes = {0};
  EXPECT_EQ(ReadyToBootWrites(), 2u);
  EXPECT_NE(Text(SettingsCurrent()).find("<Id>Device.B.Enable</Id><Value>Disabled</Value>"),
            std::string::npos);
  EXPECT_NE(Text(SettingsCurrent()).find("<Date>2026-12-10T08:00:00</Date>"), std::string::npos);
  // Something other than a date between the date tags is not a date.
  BootAgain();
  std::string forged = Text(SettingsCurrent());
  size_t open = forged.find("<Date>") + 6;
  forged.replace(
      open, forged.find("</Date>") - open,
      "<Settings><SettingCurrent><Id>X</Id><Value>Y</Value></SettingCurrent></Settings>");
  platform.PutVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid, 7, forged + '\0');
  EXPECT_EQ(ReadyToBootWrites(), 1u);
  EXPECT_EQ(Text(SettingsCurrent()).find("<Id>X</Id>"), std::string::npos);
  // The operating system planted one with other attributes.
  BootAgain();
  platform.PutVariable(u"UEFISettingsCurrent", gZelmSettingsVariableGuid, 3, UefiCurrent());
  EXPECT_EQ(ReadyToBootWrites(), 2u); // its deletion, then the write
  EXPECT_EQ(platform.FindVariable(u"UEFISettingsCurrent", gZelmSettingsVariableGuid)->attributes,
            7u);
  EXPECT_EQ(UefiCurrent(), SettingsCurrent());
}

TEST_F(CurrentSettingsTest, AFailedWriteIsRepairedAtTheNextReadyToBoot) {
  platform.setVariableHook = [](const host::SetVariableCall &call) {
    return call.name == u"UEFISettingsCurrent" ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  };
  firmware->SignalEventGroup(gEfiEventReadyToBootGuid);
  platform.setVariableHook = nullptr;
  EXPECT_FALSE(SettingsCurrent().empty());
  EXPECT_TRUE(UefiCurrent().empty());
  BootAgain();
  EXPECT_EQ(ReadyToBootWrites(), 1u);
  EXPECT_EQ(UefiCurrent(), SettingsCurrent());
  // While "ZelmSettingsCurrent" cannot be written the other is left alone.
  BootAgain();
  FakeValues()["Device.A.Enable"].bytes = {1};
  const std::vector<UINT8> old = UefiCurrent();
  platform.setVariableHook = [](const host::SetVariableCall &call) {
    return call.name == u"ZelmSettingsCurrent" ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  };
  firmware->SignalEventGroup(gEfiEventReadyToBootGuid);
  platform.setVariableHook = nullptr;
  EXPECT_EQ(UefiCurrent(), old);
}

TEST_F(CurrentSettingsTest, PublicationRunsOnceABootAndClosesItsEvent) {
  const size_t events = firmware->OpenEventCount();
  EXPECT_EQ(ReadyToBootWrites(), 2u);
  EXPECT_EQ(firmware->OpenEventCount(), events - 1);
  platform.EraseVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid);
  EXPECT_EQ(ReadyToBootWrites(), 0u);
}

TEST_F(CurrentSettingsTest, BuildingTheDocumentRefusesNullArguments) {
  CHAR8 *text = reinterpret_cast<CHAR8 *>(1);
  UINTN size = 7;
  EXPECT_EQ(BuildCurrentSettings(nullptr, &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(BuildCurrentSettings(&text, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(text, reinterpret_cast<CHAR8 *>(1));
  ASSERT_EQ(BuildCurrentSettings(&text, &size), EFI_SUCCESS);
  EXPECT_EQ(size, strlen(text) + 1);
  XmlPoolFree(text);
}

// Pool failing at each allocation in turn: the whole document or an error
// with no text, never a document with a setting, a group's value or the
// floor missing or wrong. Every value here differs from its default.
TEST_F(CurrentSettingsTest, PoolFailureAtEveryAllocationBuildsAllOrNothing) {
  host::Pool &pool = firmware->BootPool();
  // No "_SMID" yet: the first allocation is the document's frame.
  CHAR8 *text = reinterpret_cast<CHAR8 *>(1);
  UINTN size = 1;
  pool.FailNth(1);
  EXPECT_EQ(BuildCurrentSettings(&text, &size), EFI_ABORTED);
  pool.ClearFaults();
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(size, 0u);
  auto packet = Deliver(SettingsXml(
      4, 3, {{"Device.USBBoot.Enable", "Enabled"}, {"Zelm.RecoveryUrl.String", "https://r"}}));
  ASSERT_EQ(Apply(*packet), EFI_SUCCESS);
  ASSERT_EQ(BuildCurrentSettings(&text, &size), EFI_SUCCESS);
  const std::string whole(text, size - 1);
  XmlPoolFree(text);
  for (const char *shown : {"<LSV>3</LSV>", "<Value>https://r</Value>",
                            "<Id>Device.USBBoot.Enable</Id><Value>Enabled</Value>",
                            "<Id>Zelm.BootExternalMedia.Enable</Id><Value>Enabled</Value>",
                            "<Value>CN=Zelm Test Certificate</Value>"}) {
    ASSERT_NE(whole.find(shown), std::string::npos) << shown;
  }
  size_t n = 1;
  for (; n < 5000; n++) {
    SCOPED_TRACE(n);
    const size_t live = pool.Stats().liveCount;
    const size_t failed = pool.Stats().failedAllocations;
    pool.FailNth(n);
    text = nullptr;
    size = 0;
    EFI_STATUS status = BuildCurrentSettings(&text, &size);
    pool.ClearFaults();
    if (status == EFI_SUCCESS) {
      ASSERT_NE(text, nullptr);
      EXPECT_TRUE(std::string(text, size - 1) == whole) << std::string(text, size - 1);
      XmlPoolFree(text);
    } else {
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(pool.Stats().liveCount, live);
    if (pool.Stats().failedAllocations == failed) {
      EXPECT_EQ(status, EFI_SUCCESS);
      break;
    }
  }
  EXPECT_GT(n, 50u); // the sweep reached past the template into the values
}

TEST_F(CurrentSettingsTest, AddSettingCurrentRefusesWhatIsNotASettingsList) {
  XmlNode *root = nullptr;
  ASSERT_EQ(XmlAddNode(nullptr, "Settings", nullptr, &root), EFI_SUCCESS);
  XmlNode *other = nullptr;
  ASSERT_EQ(XmlAddNode(nullptr, "Other", nullptr, &other), EFI_SUCCESS);
  EXPECT_EQ(AddSettingCurrent(other, "Id", "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddSettingCurrent(root, nullptr, "v"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddSettingCurrent(root, "Id", nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AddSettingCurrent(root, "Id", ""), EFI_SUCCESS);
  CHAR8 *text = nullptr;
  UINTN size = 0;
  ASSERT_EQ(XmlTreeToString(root, 0, &size, &text), EFI_SUCCESS);
  EXPECT_STREQ(text, "<Settings><SettingCurrent><Id>Id</Id><Value /></SettingCurrent></Settings>");
  XmlPoolFree(text);
  // A failure to append is a device error, whichever of the three it hits.
  for (size_t n = 1; n <= 3; n++) {
    SCOPED_TRACE(n);
    firmware->BootPool().FailNth(n);
    EXPECT_EQ(AddSettingCurrent(root, "Id", "v"), EFI_DEVICE_ERROR);
  }
  EXPECT_EQ(XmlFreeTree(&root), EFI_SUCCESS);
  EXPECT_EQ(XmlFreeTree(&other), EFI_SUCCESS);
}

} // namespace
