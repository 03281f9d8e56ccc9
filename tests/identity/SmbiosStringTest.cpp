// GetSmbiosString over string sets held in blocks of exactly the bytes it
// may read, so the sanitizer build catches a read past them.
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "identity/SmbiosStrings.h"
#include "support/Pool.h"
#include "tests/identity/DeviceIdentifierTestSupport.h"

namespace {

using deviceidtest::DeviceIdTest;

struct StringCase {
  const char *name;
  std::string set; // the bytes that may be read
  UINT8 number;
  std::string expected;
};
void PrintTo(const StringCase &c, std::ostream *os) {
  *os << c.name;
}

class SmbiosStringTest : public DeviceIdTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(SmbiosStringTest, CopiesTheNumberedStringOrGivesAnEmptyOne) {
  const std::string &set = GetParam().set;
  std::unique_ptr<CHAR8[]> exact(new CHAR8[set.size()]);
  std::memcpy(exact.get(), set.data(), set.size());
  CHAR8 *result = nullptr;
  ASSERT_EQ(GetSmbiosString(exact.get(), set.size(), GetParam().number, &result), EFI_SUCCESS);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::string(result), GetParam().expected);
  EXPECT_TRUE(firmware->BootPool().Owns(result));
  FreePool(result);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, SmbiosStringTest,
    ::testing::Values(StringCase{"First", std::string("One\0Two\0\0", 9), 1, "One"},
                      StringCase{"Second", std::string("One\0Two\0\0", 9), 2, "Two"},
                      StringCase{"Number0", std::string("One\0Two\0\0", 9), 0, ""},
                      StringCase{"PastTheSet", std::string("One\0Two\0\0", 9), 3, ""},
                      StringCase{"PastAnEmptySet", std::string("\0\0", 2), 1, ""},
                      StringCase{"Number255PastTheSet", std::string("One\0\0", 5), 255, ""},
                      StringCase{"NoBytes", std::string(), 1, ""},
                      StringCase{"UnterminatedWanted", std::string("One\0Two", 7), 2, ""},
                      StringCase{"PastAnUnterminatedString", std::string("One\0Two", 7), 3, ""},
                      StringCase{"PastASetWithoutItsSecondNul", std::string("One\0", 4), 2, ""},
                      StringCase{"BeforeACut", std::string("One\0Two", 7), 1, "One"}),
    [](const ::testing::TestParamInfo<StringCase> &info) { return info.param.name; });

TEST_F(DeviceIdTest, GetSmbiosStringReportsAnExhaustedPoolInsteadOfANullString) {
  const char set[] = "One\0Two\0";
  for (UINT8 number : {UINT8{0}, UINT8{2}, UINT8{7}}) {
    firmware->BootPool().FailNth(1);
    CHAR8 *result = reinterpret_cast<CHAR8 *>(1);
    EXPECT_EQ(GetSmbiosString(set, sizeof(set), number, &result), EFI_OUT_OF_RESOURCES)
        << int(number);
    EXPECT_EQ(result, nullptr);
  }
  CHAR8 *result = nullptr;
  EXPECT_EQ(GetSmbiosString(nullptr, 1, 1, &result), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetSmbiosString(set, sizeof(set), 1, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(DeviceIdTest, GetSystemInfoStringsGivesAllAddressesOrNone) {
  AddSystemInfo("Maker", "Model", "S-1");
  firmware->InstallSmbios();
  host::Pool &pool = firmware->BootPool();
  size_t live = pool.Stats().liveCount;
  CHAR8 *manufacturer = reinterpret_cast<CHAR8 *>(1);
  CHAR8 *product = reinterpret_cast<CHAR8 *>(1);
  CHAR8 *serial = reinterpret_cast<CHAR8 *>(1);
  pool.FailNth(3);
  EXPECT_EQ(GetSystemInfoStrings(&manufacturer, &product, &serial), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(manufacturer, nullptr);
  EXPECT_EQ(product, nullptr);
  EXPECT_EQ(serial, nullptr);
  EXPECT_EQ(pool.Stats().liveCount, live);
  ASSERT_EQ(GetSystemInfoStrings(&manufacturer, nullptr, &serial), EFI_SUCCESS);
  EXPECT_STREQ(manufacturer, "Maker");
  EXPECT_STREQ(serial, "S-1");
  FreePool(manufacturer);
  FreePool(serial);
}

} // namespace
