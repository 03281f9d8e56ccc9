// Variable services of the firmware double: UEFI attribute rules, limits,
// boot-services end, fault injection, locks and reboots.
#include <uefi/Protocol/VariableLock.h>
#include <uefi/UefiGuids.h>

#include <string>

#include "HostTestSupport.h"

namespace hosttest {
namespace {

constexpr UINT32 NV = EFI_VARIABLE_NON_VOLATILE;
constexpr UINT32 BS = EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT32 RT = EFI_VARIABLE_RUNTIME_ACCESS;
EFI_GUID gVendor = kGuidA;

class VariablesTest : public BootTest {
protected:
  EFI_STATUS Set(const char16_t *name, UINT32 attributes, std::string data) {
    return rt()->SetVariable(const_cast<CHAR16 *>(name), &gVendor, attributes, data.size(),
                             data.empty() ? nullptr : data.data());
  }
  EFI_STATUS Get(const char16_t *name, std::string *data, UINT32 *attributes = nullptr) {
    char buffer[256];
    UINTN size = sizeof(buffer);
    EFI_STATUS status =
        rt()->GetVariable(const_cast<CHAR16 *>(name), &gVendor, attributes, &size, buffer);
    if (status == EFI_SUCCESS && data != nullptr) {
      data->assign(buffer, size);
    }
    return status;
  }
};

TEST_F(VariablesTest, WriteRulesFollowUefi) {
  struct Case {
    const char *what;
    UINT32 existing; // 0: no variable before the call
    UINT32 attributes;
    std::string data;
    EFI_STATUS expected;
    bool presentAfter;
  };
  const Case cases[] = {
      {"create", 0, NV | BS, "x", EFI_SUCCESS, true},
      {"volatile create", 0, BS, "x", EFI_SUCCESS, true},
      {"runtime without boot access", 0, NV | RT, "x", EFI_INVALID_PARAMETER, false},
      {"unknown attribute bit", 0, NV | BS | 0x100, "x", EFI_INVALID_PARAMETER, false},
      {"authenticated write", 0, NV | BS | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS, "x",
       EFI_UNSUPPORTED, false},
      {"hardware error record without its name", 0,
       NV | BS | RT | EFI_VARIABLE_HARDWARE_ERROR_RECORD, "x", EFI_INVALID_PARAMETER, false},
      {"delete absent by size 0", 0, NV | BS, "", EFI_NOT_FOUND, false},
      {"delete absent by attributes 0", 0, 0, "x", EFI_NOT_FOUND, false},
      {"rewrite same attributes", NV | BS, NV | BS, "y", EFI_SUCCESS, true},
      {"rewrite other attributes", NV | BS, NV | BS | RT, "y", EFI_INVALID_PARAMETER, true},
      {"delete by size 0", NV | BS | RT, NV | BS | RT, "", EFI_SUCCESS, false},
      {"delete by attributes 0", NV | BS | RT, 0, "", EFI_SUCCESS, false},
      {"delete by no access bits with data", NV | BS, NV, "y", EFI_SUCCESS, false},
      {"delete with other attributes", NV | BS | RT, NV | BS, "", EFI_INVALID_PARAMETER, true},
      {"append", NV | BS, NV | BS | EFI_VARIABLE_APPEND_WRITE, "y", EFI_SUCCESS, true},
      {"append nothing", NV | BS, NV | BS | EFI_VARIABLE_APPEND_WRITE, "", EFI_SUCCESS, true},
  };
  for (const Case &c : cases) {
    platform.MutableVariables().clear();
    if (c.existing != 0) {
      platform.PutVariable(u"Var", gVendor, c.existing, std::string_view("old"));
    }
    EXPECT_EQ(Set(u"Var", c.attributes, c.data), c.expected) << c.what;
    EXPECT_EQ(platform.FindVariable(u"Var", gVendor) != nullptr, c.presentAfter) << c.what;
  }
  ASSERT_NE(platform.FindVariable(u"Var", gVendor), nullptr);
  const auto &appended = platform.FindVariable(u"Var", gVendor)->data;
  EXPECT_EQ(std::string(appended.begin(), appended.end()), "old");
}

TEST_F(VariablesTest, AppendConcatenatesAndLenientDeleteCanBeChosen) {
  ASSERT_EQ(Set(u"Log", NV | BS, "ab"), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Log", NV | BS | EFI_VARIABLE_APPEND_WRITE, "cd"), EFI_SUCCESS);
  std::string data;
  ASSERT_EQ(Get(u"Log", &data), EFI_SUCCESS);
  EXPECT_EQ(data, "abcd");
  platform.strictDeleteAttributes = false;
  EXPECT_EQ(Set(u"Log", NV | BS | RT, ""), EFI_SUCCESS);
  EXPECT_EQ(Get(u"Log", &data), EFI_NOT_FOUND);
}

TEST_F(VariablesTest, GetReportsSizeAndAttributes) {
  ASSERT_EQ(Set(u"Big", NV | BS | RT, "0123456789"), EFI_SUCCESS);
  UINTN size = 4;
  UINT32 attributes = 0;
  char small[4];
  EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"Big"), &gVendor, &attributes, &size, small),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(attributes, NV | BS | RT);
  size = 0;
  EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"Big"), &gVendor, nullptr, &size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"Big"), &gVendor, nullptr, &size, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"Big"), &gVendor, nullptr, nullptr, small),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Get(u"Absent", nullptr), EFI_NOT_FOUND);
  EFI_GUID other = kGuidB;
  size = sizeof(small);
  EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"Big"), &other, nullptr, &size, small),
            EFI_NOT_FOUND);
}

TEST_F(VariablesTest, SizeLimitsAndStoreCapacity) {
  platform.limits.maxVariableSize = 2 * 4 + 8; // "Abc" with NUL plus 8 bytes
  EXPECT_EQ(Set(u"Abc", NV | BS, std::string(8, 'x')), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Abc", NV | BS, std::string(9, 'x')), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform.FindVariable(u"Abc", gVendor)->data.size(), 8u);

  platform.limits.maxVariableSize = 0x10000;
  platform.limits.storeSize = platform.StoreUsage(true) + host::kVariableHeaderSize + 8 + 100;
  EXPECT_EQ(Set(u"Def", NV | BS, std::string(100, 'y')), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Ghi", NV | BS, "z"), EFI_OUT_OF_RESOURCES);
  // Replacing a variable only charges the difference.
  EXPECT_EQ(Set(u"Def", NV | BS, std::string(99, 'y')), EFI_SUCCESS);
  UINT64 maxStore = 0, remaining = 0, maxVar = 0;
  ASSERT_EQ(rt()->QueryVariableInfo(NV | BS, &maxStore, &remaining, &maxVar), EFI_SUCCESS);
  EXPECT_EQ(maxStore, platform.limits.storeSize);
  EXPECT_EQ(remaining, 1u);
  EXPECT_EQ(maxVar, 0x10000u);
  EXPECT_EQ(rt()->QueryVariableInfo(0, &maxStore, &remaining, &maxVar), EFI_INVALID_PARAMETER);
}

TEST_F(VariablesTest, AfterExitBootServicesOnlyRuntimeVariablesExist) {
  ASSERT_EQ(Set(u"Boot", NV | BS, "b"), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Run", NV | BS | RT, "r"), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Vol", BS | RT, "v"), EFI_SUCCESS);
  firmware->ExitBootServices();
  std::string data;
  EXPECT_EQ(Get(u"Boot", &data), EFI_NOT_FOUND);
  EXPECT_EQ(Get(u"Run", &data), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Boot", NV | BS, "c"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Set(u"Boot", 0, ""), EFI_NOT_FOUND);
  EXPECT_EQ(Set(u"Run", NV | BS | RT, "s"), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Vol", BS | RT, "w"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Set(u"Vol", 0, ""), EFI_WRITE_PROTECTED);

  CHAR16 name[64] = {0};
  EFI_GUID guid{};
  std::vector<std::u16string> seen;
  for (;;) {
    UINTN size = sizeof(name);
    EFI_STATUS status = rt()->GetNextVariableName(&size, name, &guid);
    if (status == EFI_NOT_FOUND) {
      break;
    }
    ASSERT_EQ(status, EFI_SUCCESS);
    seen.emplace_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"Run", u"Vol"}));
}

TEST_F(VariablesTest, GetNextVariableNameWalksTheStore) {
  platform.PutVariable(u"B", gVendor, NV | BS, std::string_view("1"));
  platform.PutVariable(u"LongerName", gVendor, NV | BS, std::string_view("2"));
  CHAR16 name[4] = {0};
  EFI_GUID guid{};
  UINTN size = sizeof(name);
  ASSERT_EQ(rt()->GetNextVariableName(&size, name, &guid), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"B");
  size = sizeof(name);
  EXPECT_EQ(rt()->GetNextVariableName(&size, name, &guid), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof(u"LongerName"));
  CHAR16 unknown[] = u"Nope";
  size = sizeof(unknown);
  EXPECT_EQ(rt()->GetNextVariableName(&size, unknown, &guid), EFI_INVALID_PARAMETER);
  CHAR16 unterminated[2] = {u'B', u'x'};
  size = sizeof(unterminated);
  EXPECT_EQ(rt()->GetNextVariableName(&size, unterminated, &guid), EFI_INVALID_PARAMETER);
}

TEST_F(VariablesTest, InjectedFailuresAndHookChangeNothing) {
  platform.FailSetVariable(2, EFI_DEVICE_ERROR);
  EXPECT_EQ(Set(u"One", NV | BS, "1"), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Two", NV | BS, "2"), EFI_DEVICE_ERROR);
  EXPECT_EQ(Set(u"Three", NV | BS, "3"), EFI_SUCCESS);
  EXPECT_EQ(platform.FindVariable(u"Two", gVendor), nullptr);

  platform.setVariableHook = [](const host::SetVariableCall &call) {
    return call.name == u"Locked" ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
  };
  EXPECT_EQ(Set(u"Locked", NV | BS, "x"), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Set(u"Free", NV | BS, "x"), EFI_SUCCESS);

  platform.FailGetVariable(1, EFI_DEVICE_ERROR);
  std::string data;
  EXPECT_EQ(Get(u"One", &data), EFI_DEVICE_ERROR);
  EXPECT_EQ(Get(u"One", &data), EFI_SUCCESS);
}

TEST_F(VariablesTest, LogKeepsEveryCallInOrder) {
  Set(u"A", NV | BS, "1");
  Set(u"B", NV | RT, "2");
  Set(u"A", 0, "");
  const auto &log = platform.SetVariableLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].name, u"A");
  EXPECT_EQ(log[0].attributes, NV | BS);
  EXPECT_EQ(log[0].data, std::vector<UINT8>{'1'});
  EXPECT_EQ(log[0].status, EFI_SUCCESS);
  EXPECT_EQ(log[1].status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(log[2].data.empty());
  EXPECT_EQ(log[2].boot, 1u);
}

TEST_F(VariablesTest, LockRefusesWritesAndLateRequests) {
  firmware->InstallVariableLock();
  auto *lock = static_cast<EDKII_VARIABLE_LOCK_PROTOCOL *>(
      firmware->FindProtocol(gEdkiiVariableLockProtocolGuid));
  ASSERT_NE(lock, nullptr);
  ASSERT_EQ(Set(u"Kept", NV | BS, "1"), EFI_SUCCESS);
  ASSERT_EQ(lock->RequestToLock(lock, const_cast<CHAR16 *>(u"Kept"), &gVendor), EFI_SUCCESS);
  EXPECT_EQ(Set(u"Kept", NV | BS, "2"), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Set(u"Kept", 0, ""), EFI_WRITE_PROTECTED);
  firmware->EndOfDxe();
  EXPECT_EQ(lock->RequestToLock(lock, const_cast<CHAR16 *>(u"Other"), &gVendor), EFI_ACCESS_DENIED);
  EXPECT_EQ(Set(u"Other", NV | BS, "2"), EFI_SUCCESS);
  Reboot();
  EXPECT_FALSE(firmware->IsVariableLocked(u"Kept", gVendor));
  EXPECT_EQ(Set(u"Kept", NV | BS, "3"), EFI_SUCCESS);
}

TEST_F(VariablesTest, RebootKeepsNonVolatileOnly) {
  ASSERT_EQ(Set(u"Stays", NV | BS, "1"), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Goes", BS, "2"), EFI_SUCCESS);
  Reboot();
  std::string data;
  EXPECT_EQ(Get(u"Stays", &data), EFI_SUCCESS);
  EXPECT_EQ(data, "1");
  EXPECT_EQ(Get(u"Goes", &data), EFI_NOT_FOUND);
  EXPECT_EQ(platform.BootCount(), 2u);
}

TEST_F(VariablesTest, APowerCutKeepsTheStoreAsTheCutLeftIt) {
  struct Row {
    size_t k;
    bool lands;
    std::string a, b, c; // after the reboot; "-" for absent
  };
  const Row rows[] = {
      {1, false, "-", "-", "-"}, {1, true, "1", "-", "-"},
      {2, false, "1", "-", "-"}, {2, true, "1", "2", "-"},
      {3, true, "1", "2", "3"},  {4, true, "1", "2", "3"}, // never reached: no cut
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.k) + (row.lands ? " landed" : " lost"));
    platform.MutableVariables().clear();
    platform.CutPowerAt(row.k, row.lands);
    // The boot is not told: every call still succeeds and reads back.
    ASSERT_EQ(Set(u"A", NV | BS, "1"), EFI_SUCCESS);
    ASSERT_EQ(Set(u"B", NV | BS, "2"), EFI_SUCCESS);
    ASSERT_EQ(Set(u"C", NV | BS, "3"), EFI_SUCCESS);
    std::string data;
    EXPECT_EQ(Get(u"C", &data), EFI_SUCCESS);
    EXPECT_EQ(platform.PowerWasCut(), row.k <= 3);
    Reboot();
    EXPECT_FALSE(platform.PowerWasCut());
    const std::pair<const char16_t *, std::string> expected[] = {
        {u"A", row.a}, {u"B", row.b}, {u"C", row.c}};
    for (const auto &[name, value] : expected) {
      EFI_STATUS status = Get(name, &data);
      if (value == "-") {
        EXPECT_EQ(status, EFI_NOT_FOUND);
      } else {
        EXPECT_EQ(status, EFI_SUCCESS);
        EXPECT_EQ(data, value);
      }
    }
    platform.CutPowerAt(0, false);
  }
}

TEST_F(VariablesTest, AttributesOfATooSmallAnswerCanBeLeftUnsetAndReadsAreCounted) {
  ASSERT_EQ(Set(u"V", NV | BS, "data"), EFI_SUCCESS);
  platform.ClearGetVariableCalls();
  for (bool filled : {true, false}) {
    platform.attributesOnBufferTooSmall = filled;
    UINT32 attributes = 0xEEEE;
    UINTN size = 0;
    EXPECT_EQ(rt()->GetVariable(const_cast<CHAR16 *>(u"V"), &gVendor, &attributes, &size, nullptr),
              EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(attributes, filled ? NV | BS : 0xEEEEu);
    std::string data;
    EXPECT_EQ(Get(u"V", &data, &attributes), EFI_SUCCESS);
    EXPECT_EQ(attributes, NV | BS); // a read that returns the data fills them
  }
  EXPECT_EQ(platform.GetVariableCalls(), 4u);
}

} // namespace
} // namespace hosttest
