// The recovery and management strings, virtualization, XPBT and asset
// tag: stored bytes, unchanged values, defaults, refusals, variables of
// other attributes, and the start-up clean-up and marker.
#include <platform/PlatformGuids.h>

#include <string>
#include <vector>

#include "providers/AssetTagSetting.h"
#include "providers/PasswordSetting.h"
#include "providers/StringSettings.h"
#include "providers/VirtualizationSetting.h"
#include "providers/XpbtSetting.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

std::vector<UINT8> Text(const std::string &s) {
  std::vector<UINT8> out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

class PlatformSettingsTest : public DriverTest {
protected:
  void SetUp() override { ASSERT_EQ(StartDriver(), EFI_SUCCESS); }
  void Put(const char16_t *name, std::vector<UINT8> bytes, UINT32 attributes = 3) {
    platform.PutVariable(name, gPlatformSettingVariableGuid, attributes, std::move(bytes));
  }
  const host::Variable *Stored(const char16_t *name) const {
    return platform.FindVariable(name, gPlatformSettingVariableGuid);
  }
  const ZELM_SETTING_PROVIDER *String(size_t index) const { return &mStringProviders[index]; }
};

TEST_F(PlatformSettingsTest, StringSettingsStoreTheirBytesVerbatim) {
  struct Row {
    const char *name;
    size_t index;
    std::vector<UINT8> before; // empty: absent
    UINT32 beforeAttributes;
    std::vector<UINT8> value;
    EFI_STATUS status;
    UINT64 flags;
    std::vector<UINT8> after; // empty: absent
  };
  const std::vector<UINT8> cert = {0x30, 0x82, 0x01, 0x0A};
  const Row rows[] = {
      {"new URL", 0, {}, 3, Text("https://a/b?c&d"), EFI_SUCCESS, 0, Text("https://a/b?c&d")},
      {"same URL", 0, Text("u"), 3, Text("u"), EFI_SUCCESS, ZELM_SETTING_FLAG_UNCHANGED, Text("u")},
      {"other URL of the same size", 1, Text("u"), 3, Text("v"), EFI_SUCCESS, 0, Text("v")},
      {"empty string while absent", 3, {}, 3, Text(""), EFI_NOT_FOUND, 0, {}},
      {"bytes without terminator kept as given", 4, {}, 3, {'a', 'b'}, EFI_SUCCESS, 0, {'a', 'b'}},
      {"certificate stored", 2, {}, 3, cert, EFI_SUCCESS, 0, cert},
      {"empty certificate while none", 2, {}, 3, {}, EFI_SUCCESS, ZELM_SETTING_FLAG_UNCHANGED, {}},
      {"empty certificate deletes", 2, cert, 3, {}, EFI_SUCCESS, 0, {}},
      {"0x4000 bytes",
       5,
       {},
       3,
       std::vector<UINT8>(0x4000, 'x'),
       EFI_SUCCESS,
       0,
       std::vector<UINT8>(0x4000, 'x')},
      {"0x4001 bytes", 5, {}, 3, std::vector<UINT8>(0x4001, 'x'), EFI_INVALID_PARAMETER, 0, {}},
      // Planted by someone else: replaced, not taken as the value.
      {"same bytes of other attributes", 6, Text("t"), 7, Text("t"), EFI_SUCCESS, 0, Text("t")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const char16_t *name = reinterpret_cast<const char16_t *>(kStringSettingVariables[row.index]);
    platform.EraseVariable(name, gPlatformSettingVariableGuid);
    if (!row.before.empty()) {
      Put(name, row.before, row.beforeAttributes);
    }
    UINT64 flags = 0;
    UINT8 dummy = 0;
    EXPECT_EQ(StringSettingSet(String(row.index), row.value.size(),
                               row.value.empty() ? &dummy : row.value.data(), &flags),
              row.status);
    EXPECT_EQ(flags, row.flags);
    const host::Variable *v = Stored(name);
    if (row.after.empty()) {
      EXPECT_EQ(v, nullptr);
    } else {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->data, row.after);
      EXPECT_EQ(v->attributes, 3u);
    }
  }
}

TEST_F(PlatformSettingsTest, StringGetsIgnoreVariablesOfOtherAttributes) {
  Put(u"ZelmHttpsCert", {1, 2, 3}, 7);
  Put(u"ZelmUrl", Text("planted"), 7);
  Put(u"ZelmUrl2", Text("real"), 3);
  UINT8 buffer[16] = {};
  UINTN size = sizeof(buffer);
  EXPECT_EQ(StringSettingGet(String(2), &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(size, 0u);
  size = sizeof(buffer);
  EXPECT_EQ(StringSettingGet(String(0), &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buffer[0], 0);
  size = 0;
  EXPECT_EQ(StringSettingGet(String(1), &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 5u);
  ZELM_SETTING_PROVIDER other = *String(0);
  other.Id = "Zelm.RecoveryUrl.StringX";
  EXPECT_EQ(StringSettingGet(&other, &size, buffer), EFI_UNSUPPORTED);
  size = 4;
  EXPECT_EQ(StringSettingGet(String(0), &size, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(PlatformSettingsTest, ResetWritesEmptyStringsAndDeletesTheCertificate) {
  Put(u"ZelmUrl", Text("url"));
  Put(u"ZelmHttpsCert", {1, 2});
  for (size_t i = 0; i < kStringSettingCount; i++) {
    EXPECT_EQ(StringSettingSetDefault(String(i)), i == 0 || i == 2 ? EFI_SUCCESS : EFI_NOT_FOUND)
        << i;
  }
  EXPECT_EQ(Stored(u"ZelmUrl")->data, std::vector<UINT8>{0});
  EXPECT_EQ(Stored(u"ZelmHttpsCert"), nullptr);
  EXPECT_EQ(Stored(u"ZelmUrl2"), nullptr);
}

TEST_F(PlatformSettingsTest, VirtualizationStaysEnabled) {
  UINT8 value = 0;
  UINTN size = 1;
  EXPECT_EQ(VirtualizationSettingGet(&mVirtualizationProvider, &size, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 1);
  size = 0;
  EXPECT_EQ(VirtualizationSettingGet(&mVirtualizationProvider, &size, &value),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(VirtualizationSettingGet(&mVirtualizationProvider, &size, nullptr),
            EFI_INVALID_PARAMETER);
  UINT64 flags = 0;
  UINT8 on = 1;
  UINT8 off = 0;
  EXPECT_EQ(VirtualizationSettingSet(&mVirtualizationProvider, 1, &on, &flags), EFI_SUCCESS);
  EXPECT_EQ(flags, ZELM_SETTING_FLAG_UNCHANGED);
  flags = 0;
  EXPECT_EQ(VirtualizationSettingSet(&mVirtualizationProvider, 1, &off, &flags), EFI_UNSUPPORTED);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(VirtualizationSettingSet(&mVirtualizationProvider, 0, &on, &flags),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(VirtualizationSettingSetDefault(&mVirtualizationProvider), EFI_SUCCESS);
}

TEST_F(PlatformSettingsTest, XpbtStoresItsByteAsGiven) {
  struct Row {
    const char *name;
    std::vector<UINT8> before;
    UINT32 beforeAttributes;
    UINT8 value;
    UINT64 flags;
    std::vector<UINT8> after;
  };
  const Row rows[] = {
      {"absent is enabled: 1 unchanged", {}, 3, 1, ZELM_SETTING_FLAG_UNCHANGED, {}},
      {"0 stored", {}, 3, 0, 0, {0}},
      {"2 stored as it is", {0}, 3, 2, 0, {2}},
      {"same byte", {2}, 3, 2, ZELM_SETTING_FLAG_UNCHANGED, {2}},
      {"a variable of two bytes is replaced", {1, 1}, 3, 1, 0, {1}},
      {"planted with attributes 7 is replaced", {0}, 7, 0, 0, {0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"XPBTen", gPlatformSettingVariableGuid);
    if (!row.before.empty()) {
      Put(u"XPBTen", row.before, row.beforeAttributes);
    }
    UINT64 flags = 0;
    EXPECT_EQ(XpbtSettingSet(&mXpbtProvider, 1, &row.value, &flags), EFI_SUCCESS);
    EXPECT_EQ(flags, row.flags);
    const host::Variable *v = Stored(u"XPBTen");
    if (row.after.empty()) {
      EXPECT_EQ(v, nullptr);
    } else {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->data, row.after);
      EXPECT_EQ(v->attributes, 3u);
    }
    UINT8 value = 0xEE;
    UINTN size = 1;
    EXPECT_EQ(XpbtSettingGet(&mXpbtProvider, &size, &value), EFI_SUCCESS);
    EXPECT_EQ(value, row.value);
  }
  UINT8 two[2] = {1, 1};
  UINT64 flags = 0;
  EXPECT_EQ(XpbtSettingSet(&mXpbtProvider, 2, two, &flags), EFI_INVALID_PARAMETER);
}

TEST_F(PlatformSettingsTest, AssetTagFollowsItsAlphabetAndLength) {
  struct Row {
    const char *name;
    std::vector<UINT8> before;
    std::vector<UINT8> value;
    EFI_STATUS status;
    UINT64 flags;
    std::vector<UINT8> after;
  };
  std::vector<UINT8> zeroInside = {'A', 'B', 0, 'C', 0};
  const Row rows[] = {
      {"ABC-12.x", {}, Text("ABC-12.x"), EFI_SUCCESS, 0, Text("ABC-12.x")},
      {"36 characters", {}, Text(std::string(36, 'Z')), EFI_SUCCESS, 0, Text(std::string(36, 'Z'))},
      {"37 characters", {}, Text(std::string(37, 'Z')), EFI_INVALID_PARAMETER, 0, {}},
      {"a space", {}, Text("AB C"), EFI_INVALID_PARAMETER, 0, {}},
      {"an underscore", {}, Text("AB_C"), EFI_INVALID_PARAMETER, 0, {}},
      {"a zero byte inside", {}, zeroInside, EFI_INVALID_PARAMETER, 0, {}},
      {"no terminator", {}, {'A', 'B'}, EFI_INVALID_PARAMETER, 0, {}},
      {"same tag", Text("T1"), Text("T1"), EFI_SUCCESS, ZELM_SETTING_FLAG_UNCHANGED, Text("T1")},
      {"empty tag while absent", {}, Text(""), EFI_NOT_FOUND, 0, {}},
      {"empty tag over another", Text("T1"), Text(""), EFI_SUCCESS, 0, Text("")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.EraseVariable(u"AssetTag", gPlatformSettingVariableGuid);
    if (!row.before.empty()) {
      Put(u"AssetTag", row.before);
    }
    UINT64 flags = 0;
    EXPECT_EQ(AssetTagSettingSet(&mAssetTagProvider, row.value.size(), row.value.data(), &flags),
              row.status);
    EXPECT_EQ(flags, row.flags);
    const host::Variable *v = Stored(u"AssetTag");
    if (row.after.empty()) {
      EXPECT_EQ(v, nullptr);
    } else {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->data, row.after);
    }
  }
  // A tag planted with other attributes reads as empty.
  Put(u"AssetTag", Text("PLANTED"), 7);
  UINT8 buffer[40] = {0xEE};
  UINTN size = sizeof(buffer);
  EXPECT_EQ(AssetTagSettingGet(&mAssetTagProvider, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(PlatformSettingsTest, PasswordRefusesEveryChange) {
  UINT64 flags = 0xFF;
  UINT8 value = 1;
  EXPECT_EQ(PasswordSettingSet(&mPasswordProvider, 1, &value, &flags), EFI_UNSUPPORTED);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(PasswordSettingSet(&mPasswordProvider, 1, nullptr, &flags), EFI_INVALID_PARAMETER);
  EXPECT_EQ(PasswordSettingSetDefault(&mPasswordProvider), EFI_ACCESS_DENIED);
  ZELM_SETTING_PROVIDER other = mPasswordProvider;
  other.Id = "Device.Password.PasswordX";
  EXPECT_EQ(PasswordSettingSetDefault(&other), EFI_UNSUPPORTED);
  EXPECT_EQ(PasswordSettingSetDefault(nullptr), EFI_INVALID_PARAMETER);
}

class StartupCleanupTest : public DriverTest {};

TEST_F(StartupCleanupTest, VariablesOfOtherAttributesGoAndTheMarkerFollowsXpbt) {
  struct Row {
    const char *name;
    UINT32 attributes;
    bool kept;
  };
  const Row rows[] = {{"attributes 7", 7, false}, {"attributes 3", 3, true}};
  const char16_t *names[] = {
      u"ZelmUrl",      u"ZelmUrl2",        u"ZelmHttpsCert", u"ZelmRegistrationId",
      u"ZelmTenantId", u"MdmFriendlyName", u"MdmTenantName", u"XPBTen",
      u"AssetTag"};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reboot();
    for (const char16_t *name : names) {
      platform.PutVariable(name, gPlatformSettingVariableGuid, row.attributes,
                           std::vector<UINT8>{1});
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    for (const char16_t *name : names) {
      EXPECT_EQ(platform.FindVariable(name, gPlatformSettingVariableGuid) != nullptr, row.kept);
    }
    // "XPBTen" of 1 kept, or gone (absent is enabled): the marker either way.
    EXPECT_TRUE(firmware->HasProtocol(image, gPlatformXpbtEnabledProtocolGuid));
  }
  struct Marker {
    std::vector<UINT8> xpbt;
    bool marker;
  };
  for (const Marker &m : {Marker{{0}, false}, Marker{{2}, false}, Marker{{}, true}}) {
    Reboot();
    platform.EraseVariable(u"XPBTen", gPlatformSettingVariableGuid);
    if (!m.xpbt.empty()) {
      platform.PutVariable(u"XPBTen", gPlatformSettingVariableGuid, 3, m.xpbt);
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    EXPECT_EQ(firmware->HasProtocol(image, gPlatformXpbtEnabledProtocolGuid), m.marker);
  }
}

} // namespace
