// Saving and loading the variable store.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

std::string TempPath(const char *tag) {
  return ::testing::TempDir() + "zelm_host_store_" + tag + "_" + std::to_string(::getpid());
}

TEST(VariableFileTest, RoundTripKeepsNonVolatileVariables) {
  host::Platform first;
  first.PutVariable(u"Alpha", kGuidA, kNvBs, std::string_view("one"));
  first.PutVariable(u"Beta", kGuidB, kNvBs | EFI_VARIABLE_RUNTIME_ACCESS, std::vector<UINT8>{});
  first.PutVariable(u"Volatile", kGuidA, EFI_VARIABLE_BOOTSERVICE_ACCESS, std::string_view("v"));
  std::string path = TempPath("roundtrip");
  ASSERT_TRUE(first.SaveVariables(path));

  host::Platform second;
  second.PutVariable(u"Old", kGuidC, kNvBs, std::string_view("gone"));
  ASSERT_TRUE(second.LoadVariables(path));
  std::remove(path.c_str());
  ASSERT_EQ(second.Variables().size(), 2u);
  const host::Variable *alpha = second.FindVariable(u"Alpha", kGuidA);
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(alpha->attributes, kNvBs);
  EXPECT_EQ(std::string(alpha->data.begin(), alpha->data.end()), "one");
  EXPECT_NE(second.FindVariable(u"Beta", kGuidB), nullptr);
  EXPECT_EQ(second.FindVariable(u"Old", kGuidC), nullptr);
}

TEST(VariableFileTest, MissingFileIsRefused) {
  host::Platform platform;
  EXPECT_FALSE(platform.LoadVariables(TempPath("absent")));
}

TEST(VariableFileTest, HostileImagesAreRefusedAndChangeNothing) {
  host::Platform source;
  source.PutVariable(u"Ab", kGuidA, kNvBs, std::string_view("xyz"));
  const std::vector<UINT8> good = source.SerializeVariables();
  // Layout: magic 0-3, version 4-7, count 8-11, then GUID 12-27, attributes
  // 28-31, name length 32-35, data size 36-39, name 40-43, data 44-46.
  ASSERT_EQ(good.size(), 47u);
  struct Case {
    const char *what;
    std::vector<UINT8> bytes;
  };
  auto patched = [&](size_t offset, std::vector<UINT8> with) {
    std::vector<UINT8> bytes = good;
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<long>(offset));
    return bytes;
  };
  std::vector<UINT8> duplicate = good;
  duplicate[8] = 2;
  duplicate.insert(duplicate.end(), good.begin() + 12, good.end());
  const Case cases[] = {
      {"empty", {}},
      {"bad magic", patched(0, {'X'})},
      {"unknown version", patched(4, {2})},
      {"count beyond data", patched(8, {2})},
      {"truncated record", std::vector<UINT8>(good.begin(), good.end() - 1)},
      {"trailing bytes",
       [&] {
         auto b = good;
         b.push_back(0);
         return b;
       }()},
      {"huge name length", patched(32, {0xFF, 0xFF, 0xFF, 0x7F})},
      {"huge data size", patched(36, {0xFF, 0xFF, 0xFF, 0xFF})},
      {"empty name", patched(32, {0, 0, 0, 0})},
      {"NUL inside name", patched(40, {0, 0})},
      {"volatile entry", patched(28, {0x02})},
      {"no boot-service access", patched(28, {0x05})},
      {"duplicate entry", duplicate},
  };
  for (const Case &c : cases) {
    host::Platform target;
    target.PutVariable(u"Keep", kGuidB, kNvBs, std::string_view("k"));
    EXPECT_FALSE(target.DeserializeVariables(c.bytes)) << c.what;
    EXPECT_EQ(target.Variables().size(), 1u) << c.what;
  }
  host::Platform target;
  EXPECT_TRUE(target.DeserializeVariables(good));
}

TEST(VariableFileTest, StoreSurvivesRebootThroughFile) {
  std::string path = TempPath("reboot");
  {
    host::Platform platform;
    host::Firmware firmware(platform);
    EFI_GUID guid = kGuidA;
    char data[] = "persist";
    ASSERT_EQ(
        firmware.RuntimeServices()->SetVariable(const_cast<CHAR16 *>(u"P"), &guid, kNvBs, 7, data),
        EFI_SUCCESS);
    ASSERT_TRUE(platform.SaveVariables(path));
  }
  host::Platform platform;
  ASSERT_TRUE(platform.LoadVariables(path));
  std::remove(path.c_str());
  host::Firmware firmware(platform);
  EFI_GUID guid = kGuidA;
  char buffer[16];
  UINTN size = sizeof(buffer);
  ASSERT_EQ(firmware.RuntimeServices()->GetVariable(const_cast<CHAR16 *>(u"P"), &guid, nullptr,
                                                    &size, buffer),
            EFI_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), "persist");
}

} // namespace
} // namespace hosttest
