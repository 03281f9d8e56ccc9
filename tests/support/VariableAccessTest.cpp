// Both variable paths, before and after exit boot services.
#include <cctype>

#include "support/VariableAccess.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using platformtest::CountingSmmVariable;
using platformtest::PlatformTest;

enum class Smm { No, ServiceAtStart, ServiceLater, NoService };

struct PathCase {
  const char *name;
  Smm smm;
  bool exitBootServices;
  EFI_STATUS status;
  bool throughSmm;
  bool ended;
};

const PathCase kPathCases[] = {
    {"DXE", Smm::No, false, EFI_SUCCESS, false, false},
    {"DXE after exit boot services", Smm::No, true, EFI_SUCCESS, false, true},
    {"SMM", Smm::ServiceAtStart, false, EFI_SUCCESS, true, false},
    {"SMM after exit boot services", Smm::ServiceAtStart, true, EFI_SUCCESS, true, false},
    {"SMM, service installed later", Smm::ServiceLater, false, EFI_SUCCESS, true, false},
    {"SMM without the service", Smm::NoService, false, EFI_UNSUPPORTED, false, false},
    {"SMM without the service, after exit", Smm::NoService, true, EFI_UNSUPPORTED, false, false},
};

class VariableAccessTest : public PlatformTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(VariableAccessTest, GetAndSetTakeThePathOfTheMode) {
  const PathCase &c = GetParam();
  PublishRegions(SetupStore(0, {1}));
  CountingSmmVariable smmVariable;
  if (c.smm != Smm::No) {
    firmware->InstallSmmBase2(true);
  }
  if (c.smm == Smm::ServiceAtStart || c.smm == Smm::No) {
    // In DXE mode the SMM database's service must not be used.
    ASSERT_EQ(firmware->InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &smmVariable.protocol),
              EFI_SUCCESS);
  }
  platform.PutVariable(u"Value", gPlatformSettingVariableGuid, 7, std::vector<UINT8>{0x42});
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(PlatformVariableSmmMode(), c.smm != Smm::No ? TRUE : FALSE);
  if (c.smm == Smm::ServiceLater) {
    EXPECT_FALSE(PlatformSmmVariableAvailable());
    ASSERT_EQ(firmware->InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &smmVariable.protocol),
              EFI_SUCCESS);
  }
  if (c.exitBootServices) {
    firmware->ExitBootServices();
  }
  EXPECT_EQ(PlatformBootServicesEnded(), c.ended ? TRUE : FALSE);

  UINT32 attributes = 0;
  UINT8 value = 0;
  UINTN size = 1;
  EXPECT_EQ(
      PlatformGetVariable(u"Value", &gPlatformSettingVariableGuid, &attributes, &size, &value),
      c.status);
  if (c.status == EFI_SUCCESS) {
    EXPECT_EQ(value, 0x42);
    EXPECT_EQ(attributes, 7u);
  }
  UINT8 next = 0x43;
  EXPECT_EQ(PlatformSetVariable(u"Value", &gPlatformSettingVariableGuid, 7, 1, &next), c.status);
  const host::Variable *stored = platform.FindVariable(u"Value", gPlatformSettingVariableGuid);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->data,
            (std::vector<UINT8>{c.status == EFI_SUCCESS ? UINT8{0x43} : UINT8{0x42}}));
  EXPECT_EQ(CountingSmmVariable::gets, c.throughSmm ? 1u : 0u);
  EXPECT_EQ(CountingSmmVariable::sets, c.throughSmm ? 1u : 0u);
  if (c.smm == Smm::NoService) {
    EXPECT_TRUE(platform.SetVariableLog().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, VariableAccessTest, ::testing::ValuesIn(kPathCases),
                         [](const ::testing::TestParamInfo<PathCase> &info) {
                           std::string name;
                           for (const char *p = info.param.name; *p != 0; p++) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

// Before any start the layer has no mode and calls nothing.
TEST(VariableAccessUnset, NoModeMeansUnsupported) {
  host::Platform platform;
  host::Firmware firmware(platform);
  PlatformVariableStartup startup = {};
  startup.inSmm = TRUE; // in SMM without a system table: no service can be found
  StartPlatformVariableAccess(&startup);
  UINTN size = 0;
  EXPECT_EQ(PlatformGetVariable(u"X", &gPlatformSettingVariableGuid, nullptr, &size, nullptr),
            EFI_UNSUPPORTED);
  EXPECT_EQ(PlatformSetVariable(u"X", &gPlatformSettingVariableGuid, 3, 0, nullptr),
            EFI_UNSUPPORTED);
  EXPECT_EQ(InitPlatformVariableAccess(TRUE, nullptr), EFI_UNSUPPORTED);
}

} // namespace
