// Whole-variable reads into pool buffers.
#include "support/VariableAlloc.h"
#include "support/Pool.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using platformtest::HostileGetVariable;
using platformtest::kHostileGetVariables;
using platformtest::Pattern;
using platformtest::PlatformTest;

class VariableAllocTest : public PlatformTest {
protected:
  VariableAllocTest() { EXPECT_EQ(StartDriver(), EFI_SUCCESS); }
};

TEST_F(VariableAllocTest, ReadsWholeVariables) {
  struct Case {
    const char *name;
    std::vector<UINT8> data; // empty: the variable is absent
    UINT32 attributes;
    EFI_STATUS status;
  } cases[] = {
      {"absent", {}, 0, EFI_NOT_FOUND},
      {"one byte", {0x5A}, 3, EFI_SUCCESS},
      {"large", Pattern(0x3000), 7, EFI_SUCCESS},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.EraseVariable(u"Blob", gPlatformSettingVariableGuid);
    if (!c.data.empty()) {
      platform.PutVariable(u"Blob", gPlatformSettingVariableGuid, c.attributes, c.data);
    }
    for (bool withAttributes : {false, true}) {
      VOID *buffer = reinterpret_cast<VOID *>(1);
      UINTN size = 99;
      UINT32 attributes = 99;
      EFI_STATUS status =
          withAttributes ? GetVariableAllocWithAttributes(u"Blob", &gPlatformSettingVariableGuid,
                                                          &buffer, &size, &attributes)
                         : GetVariableAlloc(u"Blob", &gPlatformSettingVariableGuid, &buffer, &size);
      PoolPtr<VOID> owned(buffer);
      EXPECT_EQ(status, c.status);
      EXPECT_EQ(size, c.data.size());
      if (c.status == EFI_SUCCESS) {
        ASSERT_NE(buffer, nullptr);
        EXPECT_TRUE(firmware->BootPool().Owns(buffer));
        EXPECT_EQ(
            std::vector<UINT8>(static_cast<UINT8 *>(buffer), static_cast<UINT8 *>(buffer) + size),
            c.data);
      } else {
        EXPECT_EQ(buffer, nullptr);
      }
      if (withAttributes) {
        EXPECT_EQ(attributes, c.attributes);
      }
    }
  }
}

TEST_F(VariableAllocTest, FailuresLeaveNothingAllocated) {
  platform.PutVariable(u"Blob", gPlatformSettingVariableGuid, 3, Pattern(40));
  struct Case {
    const char *name;
    void (*inject)(host::Platform &, host::Firmware &);
    EFI_STATUS status;
  } cases[] = {
      {"allocation", [](host::Platform &, host::Firmware &f) { f.BootPool().FailNth(1); },
       EFI_OUT_OF_RESOURCES},
      {"probe", [](host::Platform &p, host::Firmware &) { p.FailGetVariable(1, EFI_DEVICE_ERROR); },
       EFI_DEVICE_ERROR},
      {"read", [](host::Platform &p, host::Firmware &) { p.FailGetVariable(2, EFI_DEVICE_ERROR); },
       EFI_DEVICE_ERROR},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    size_t mark = firmware->BootPool().Mark();
    c.inject(platform, *firmware);
    VOID *buffer = nullptr;
    UINTN size = 5;
    UINT32 attributes = 5;
    EXPECT_EQ(GetVariableAllocWithAttributes(u"Blob", &gPlatformSettingVariableGuid, &buffer, &size,
                                             &attributes),
              c.status);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(attributes, 0u);
    EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
    firmware->BootPool().ClearFaults();
  }
}

// A GetVariable that answers the size probe with success (or with a size
// of 0) never makes a call succeed without a buffer.
TEST_F(VariableAllocTest, HostileGetVariableAnswers) {
  EFI_GET_VARIABLE original = firmware->RuntimeServices()->GetVariable;
  for (const HostileGetVariable &c : kHostileGetVariables) {
    SCOPED_TRACE(c.name);
    firmware->RuntimeServices()->GetVariable = c.service;
    size_t mark = firmware->BootPool().Mark();
    VOID *buffer = nullptr;
    UINTN size = 5;
    EXPECT_EQ(GetVariableAlloc(u"Blob", &gPlatformSettingVariableGuid, &buffer, &size), c.status);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
  }
  firmware->RuntimeServices()->GetVariable = original;
}

TEST_F(VariableAllocTest, SizeIsOptionalAndPointersAreChecked) {
  platform.PutVariable(u"Blob", gPlatformSettingVariableGuid, 3, Pattern(3));
  VOID *buffer = nullptr;
  EXPECT_EQ(GetVariableAlloc(u"Blob", &gPlatformSettingVariableGuid, &buffer, nullptr),
            EFI_SUCCESS);
  FreePool(buffer);
  EXPECT_EQ(GetVariableAlloc(nullptr, &gPlatformSettingVariableGuid, &buffer, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetVariableAlloc(u"Blob", nullptr, &buffer, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetVariableAlloc(u"Blob", &gPlatformSettingVariableGuid, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
}

} // namespace
