// The configuration block "Setup": reads, writes (plain, SMM and the
// privileged message), the cached default block and "BootOrderLock".
#include <platform/PlatformDefaultStore.h>
#include <platform/PlatformSmmVariableWrite.h>

#include <cstring>

#include "providers/BootOrderLock.h"
#include "providers/DefaultStores.h"
#include "providers/PlatformSetup.h"
#include "support/VariableAccess.h"
#include "tests/support/PlatformTestSupport.h"

namespace {

using platformtest::Bytes;
using platformtest::CountingSmmVariable;
using platformtest::HostileGetVariable;
using platformtest::kHostileGetVariables;
using platformtest::Pattern;
using platformtest::PlatformTest;

std::vector<UINT8> Hex(const char *text) {
  std::vector<UINT8> out;
  for (const char *p = text; *p != 0;) {
    if (*p == ' ') {
      p++;
      continue;
    }
    out.push_back(static_cast<UINT8>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::vector<UINT8> BlockBytes(const PlatformSetupBlock &block) {
  return std::vector<UINT8>(block.data, block.data + block.size);
}

class PlatformSetupTest : public PlatformTest {};

// A platform that publishes no default-store region has no defaults, and
// says so rather than handing an empty block on.
TEST_F(PlatformSetupTest, NoDefaultStoreRegionMeansNoDefaults) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  UINT8 buffer[8] = {};
  UINTN size = sizeof(buffer);
  EXPECT_EQ(FindDefaultSetupInStores(0, &size, buffer), EFI_NOT_FOUND);
  EXPECT_EQ(FindDefaultSetupInStores(0, &size, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(FindDefaultSetupInStores(0, nullptr, nullptr), EFI_INVALID_PARAMETER);
  size = 0;
  EXPECT_EQ(ReadPlatformSetupDefaults(0, &size), EFI_NOT_FOUND);
  const PlatformSetupBlock *defaults = nullptr;
  EXPECT_EQ(GetPlatformSetupDefaults(&defaults), EFI_NOT_FOUND);
}

TEST_F(PlatformSetupTest, ReadGivesAFreshCopyWithItsSize) {
  PutSetup(Pattern(0x90));
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  PlatformSetupCopy first;
  ASSERT_EQ(ReadPlatformSetup(&first.block), EFI_SUCCESS);
  EXPECT_EQ(BlockBytes(first.block), Pattern(0x90));
  EXPECT_TRUE(firmware->BootPool().Owns(first.block.data));
  PlatformSetupCopy second;
  ASSERT_EQ(ReadPlatformSetup(&second.block), EFI_SUCCESS);
  EXPECT_NE(first.block.data, second.block.data);
  EXPECT_EQ(ReadPlatformSetup(nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(PlatformSetupTest, ReadFailuresLeaveNoCopy) {
  struct Case {
    const char *name;
    bool present;
    int inject; // 0 none, 1 pool, 2 read failure, 3 exit boot services
    EFI_STATUS status;
  } cases[] = {
      {"absent", false, 0, EFI_NOT_FOUND},
      {"allocation fails", true, 1, EFI_OUT_OF_RESOURCES},
      {"read fails", true, 2, EFI_DEVICE_ERROR},
      {"after exit boot services", true, 3, EFI_OUT_OF_RESOURCES},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Reboot();
    platform.EraseVariable(u"Setup", gPlatformSetupVariableGuid);
    if (c.present) {
      PutSetup(Pattern(0x90));
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    size_t mark = firmware->BootPool().Mark();
    if (c.inject == 1) {
      firmware->BootPool().FailNth(1);
    } else if (c.inject == 2) {
      platform.FailGetVariable(2, EFI_DEVICE_ERROR);
    } else if (c.inject == 3) {
      firmware->ExitBootServices();
    }
    PlatformSetupBlock block = {reinterpret_cast<UINT8 *>(1), 5};
    EXPECT_EQ(ReadPlatformSetup(&block), c.status);
    EXPECT_EQ(block.data, nullptr);
    EXPECT_EQ(block.size, 0u);
    EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
    firmware->BootPool().ClearFaults();
  }
}

TEST_F(PlatformSetupTest, HostileVariableServiceAnswers) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EFI_GET_VARIABLE original = firmware->RuntimeServices()->GetVariable;
  for (const HostileGetVariable &c : kHostileGetVariables) {
    SCOPED_TRACE(c.name);
    firmware->RuntimeServices()->GetVariable = c.service;
    size_t mark = firmware->BootPool().Mark();
    PlatformSetupBlock block = {};
    EXPECT_EQ(ReadPlatformSetup(&block), c.status);
    EXPECT_EQ(block.data, nullptr);
    EXPECT_EQ(block.size, 0u);
    EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
  }
  firmware->RuntimeServices()->GetVariable = original;
}

TEST_F(PlatformSetupTest, ReadInSmmModeUsesTheSmmService) {
  PutSetup(Pattern(0x81));
  CountingSmmVariable smmVariable;
  firmware->InstallSmmBase2(true);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  PlatformSetupCopy copy;
  EXPECT_EQ(ReadPlatformSetup(&copy.block), EFI_UNSUPPORTED);
  ASSERT_EQ(firmware->InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &smmVariable.protocol),
            EFI_SUCCESS);
  ASSERT_EQ(ReadPlatformSetup(&copy.block), EFI_SUCCESS);
  EXPECT_EQ(BlockBytes(copy.block), Pattern(0x81));
  EXPECT_EQ(CountingSmmVariable::gets, 2u);
}

// Callers reach the bytes only through the size-checked accessors.
TEST_F(PlatformSetupTest, BytesBeyondTheBlockAreRefused) {
  UINT8 bytes[0x81] = {};
  bytes[0x80] = 4;
  struct Case {
    UINTN size;
    UINTN offset;
    EFI_STATUS status;
  } cases[] = {
      {0x81, 0x80, EFI_SUCCESS},
      {0x80, 0x80, EFI_BAD_BUFFER_SIZE},
      {0x70, kSetupOnboardNetworkBoot, EFI_SUCCESS},
      {0x6F, kSetupOnboardNetworkBoot, EFI_BAD_BUFFER_SIZE},
      {0x5C, kSetupUsbBootDisabled, EFI_BAD_BUFFER_SIZE},
      {0, 0, EFI_BAD_BUFFER_SIZE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.offset);
    SCOPED_TRACE(c.size);
    PlatformSetupBlock block = {bytes, c.size};
    UINT8 value = 0xEE;
    EXPECT_EQ(GetSetupByte(&block, c.offset, &value), c.status);
    EXPECT_EQ(SetSetupByte(&block, c.offset, value), c.status);
    if (c.status != EFI_SUCCESS) {
      EXPECT_EQ(value, 0xEE);
    }
  }
  PlatformSetupBlock empty = {};
  UINT8 value = 0;
  EXPECT_EQ(GetSetupByte(&empty, 0, &value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(GetSetupByte(nullptr, 0, &value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetSetupByte(nullptr, 0, 0), EFI_INVALID_PARAMETER);
}

// PrivilegedMarker: the SMM variable protocol installed in the
// boot-services database as a marker with a NULL interface, as platforms
// often do; installed is installed.
enum class WritePath { Runtime, Smm, SmmWithoutService, Privileged, PrivilegedMarker };

struct WriteCase {
  const char *name;
  WritePath path;
  bool failWrite;
  bool lockSetup;
  EFI_STATUS status;
};

class WriteTest : public PlatformTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, WritesTheWholeBlockOrNothing) {
  const WriteCase &c = GetParam();
  PutSetup(Pattern(0x90, 0));
  CountingSmmVariable smmVariable;
  if (c.path == WritePath::Smm || c.path == WritePath::SmmWithoutService) {
    firmware->InstallSmmBase2(true);
  }
  if (c.path == WritePath::Smm) {
    ASSERT_EQ(firmware->InstallSmmProtocol(gEfiSmmVariableProtocolGuid, &smmVariable.protocol),
              EFI_SUCCESS);
  }
  if (c.path == WritePath::Privileged) {
    InstallPrivilegedPath();
  }
  if (c.path == WritePath::PrivilegedMarker) {
    ASSERT_EQ(firmware->InstallProtocol(gEfiSmmVariableProtocolGuid, nullptr), EFI_SUCCESS);
    firmware->InstallVariableLock();
    firmware->InstallSmmCommunication();
    host::InstallSmmBuffer(*firmware, 0x12000);
    host::InstallSmmVariableWriteHandler(*firmware);
  }
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  if (c.lockSetup) {
    firmware->LockVariable(u"Setup", gPlatformSetupVariableGuid);
  }
  if (c.failWrite) {
    platform.FailSetVariable(1, EFI_DEVICE_ERROR);
  }
  std::vector<UINT8> next = Pattern(0x90, 5);
  std::vector<UINT8> caller = next;
  PlatformSetupBlock block = {caller.data(), caller.size()};
  EXPECT_EQ(WritePlatformSetup(&block), c.status);
  EXPECT_EQ(caller, next); // the caller's block is not touched
  EXPECT_EQ(StoredSetup(), c.status == EFI_SUCCESS ? next : Pattern(0x90, 0));
  if (c.status == EFI_SUCCESS) {
    EXPECT_EQ(platform.FindVariable(u"Setup", gPlatformSetupVariableGuid)->attributes, 7u);
  }
  const bool privileged = c.path == WritePath::Privileged || c.path == WritePath::PrivilegedMarker;
  EXPECT_EQ(firmware->SmmCommunicateCount(), privileged ? 1u : 0u);
  EXPECT_EQ(CountingSmmVariable::sets, c.path == WritePath::Smm ? 1u : 0u);
  EXPECT_EQ(firmware->CurrentTpl(), TPL_APPLICATION);
}

const WriteCase kWriteCases[] = {
    {"runtime", WritePath::Runtime, false, false, EFI_SUCCESS},
    {"runtime, write fails", WritePath::Runtime, true, false, EFI_DEVICE_ERROR},
    {"runtime, Setup locked", WritePath::Runtime, false, true, EFI_WRITE_PROTECTED},
    {"SMM", WritePath::Smm, false, false, EFI_SUCCESS},
    {"SMM, write fails", WritePath::Smm, true, false, EFI_DEVICE_ERROR},
    {"SMM without the service", WritePath::SmmWithoutService, false, false, EFI_UNSUPPORTED},
    {"privileged", WritePath::Privileged, false, false, EFI_SUCCESS},
    {"privileged, Setup locked", WritePath::Privileged, false, true, EFI_SUCCESS},
    {"privileged, write fails", WritePath::Privileged, true, false, EFI_DEVICE_ERROR},
    {"privileged, NULL SMM variable marker", WritePath::PrivilegedMarker, false, true, EFI_SUCCESS},
};

INSTANTIATE_TEST_SUITE_P(Paths, WriteTest, ::testing::ValuesIn(kWriteCases),
                         [](const ::testing::TestParamInfo<WriteCase> &info) {
                           std::string name;
                           for (const char *p = info.param.name; *p != 0; p++) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST_F(PlatformSetupTest, PrivilegedMessageBytes) {
  PutSetup(Pattern(0x90, 0));
  InstallPrivilegedPath(0x11166);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  std::vector<UINT8> data = Bytes({0xDE, 0xAD, 0xBE});
  PlatformSetupBlock block = {data.data(), data.size()};
  ASSERT_EQ(WritePlatformSetup(&block), EFI_SUCCESS);
  ASSERT_EQ(host::SmmVariableWrites().size(), 1u);
  const host::SmmVariableWrite &write = host::SmmVariableWrites()[0];
  std::vector<UINT8> golden =
      Hex("33d532ede69909429cc02d72cdd998a7" // EFI_SMM_VARIABLE_PROTOCOL_GUID
          "4e11010000000000"                 // message length 0x1114E
          "0300000000000080"                 // preset EFI_UNSUPPORTED
          "53535653"                         // "SSVS"
          "21000000"                         // function 0x21
          "27535d350ba6e24c8168fdecc6c8ac3e" // gPlatformSetupVariableGuid
          "07000000"                         // attributes
          "0c00000000000000"                 // name size
          "0300000000000000"                 // data size
          "0000"
          "530065007400750070000000" // u"Setup"
          "deadbe");
  EXPECT_EQ(write.message, golden);
  EXPECT_EQ(write.tpl, TPL_NOTIFY);
  EXPECT_EQ(firmware->CurrentTpl(), TPL_APPLICATION);
  EXPECT_EQ(StoredSetup(), data);
  // The handler's status is in the buffer; nothing past the message changed.
  UINT64 status = 1;
  std::memcpy(&status, host::SmmBufferBytes() + 0x18, sizeof(status));
  EXPECT_EQ(status, EFI_SUCCESS);
  EXPECT_EQ(host::SmmBufferBytes()[golden.size()], 0xCC);
}

TEST_F(PlatformSetupTest, PrivilegedWriteNeedsItsServicesAndRoom) {
  struct Case {
    const char *name;
    size_t bufferSize; // 0: no buffer protocol
    size_t dataSize;
    int spoil; // 1 GetBuffer fails, 2 NULL buffer, 3 no communication protocol
    EFI_STATUS status;
  } cases[] = {
      {"buffer holds the whole message", 0x11166, 0x90, 0, EFI_SUCCESS},
      // Enough for name and data, not for the message length the header states.
      {"buffer shorter than the stated message", 0x1000, 0x90, 0, EFI_OUT_OF_RESOURCES},
      {"buffer one byte short", 0x11165, 0x90, 0, EFI_OUT_OF_RESOURCES},
      {"largest data the message carries", 0x11166, 0x1110C, 0, EFI_SUCCESS},
      {"data past the stated message", 0x20000, 0x1110D, 0, EFI_OUT_OF_RESOURCES},
      {"no buffer protocol", 0, 0x90, 0, EFI_OUT_OF_RESOURCES},
      {"GetBuffer fails", 0x12000, 0x90, 1, EFI_OUT_OF_RESOURCES},
      {"NULL buffer", 0x12000, 0x90, 2, EFI_OUT_OF_RESOURCES},
      {"no communication protocol", 0x12000, 0x90, 3, EFI_UNSUPPORTED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Reboot();
    PutSetup(Pattern(0x90, 0));
    platform.limits.maxVariableSize = 0x20000;
    firmware->InstallSmmVariable(false);
    firmware->InstallVariableLock();
    if (c.spoil != 3) {
      firmware->InstallSmmCommunication();
    }
    if (c.bufferSize != 0) {
      host::InstallSmmBuffer(*firmware, c.bufferSize);
    }
    host::SmmBuffer().status = c.spoil == 1 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
    host::SmmBuffer().handOutNull = c.spoil == 2;
    host::InstallSmmVariableWriteHandler(*firmware);
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    std::vector<UINT8> data = Pattern(c.dataSize, 9);
    PlatformSetupBlock block = {data.data(), data.size()};
    EXPECT_EQ(WritePlatformSetup(&block), c.status);
    EXPECT_EQ(firmware->SmmCommunicateCount(), c.status == EFI_SUCCESS ? 1u : 0u);
    EXPECT_EQ(StoredSetup(), c.status == EFI_SUCCESS ? data : Pattern(0x90, 0));
    EXPECT_EQ(firmware->CurrentTpl(), TPL_APPLICATION);
  }
}

TEST_F(PlatformSetupTest, WriteRefusesEmptyBlocksAndEndedBootServices) {
  PutSetup(Pattern(0x90));
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  UINT8 byte = 1;
  struct Case {
    const char *name;
    PlatformSetupBlock block;
    EFI_STATUS status;
  } cases[] = {
      // A write of 0 bytes would delete the block.
      {"size 0", {&byte, 0}, EFI_INVALID_PARAMETER},
      {"no data", {nullptr, 4}, EFI_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WritePlatformSetup(&c.block), c.status);
  }
  EXPECT_EQ(WritePlatformSetup(nullptr), EFI_INVALID_PARAMETER);
  firmware->ExitBootServices();
  PlatformSetupBlock block = {&byte, 1};
  EXPECT_EQ(WritePlatformSetup(&block), EFI_UNSUPPORTED);
  EXPECT_EQ(StoredSetup(), Pattern(0x90));
  EXPECT_TRUE(platform.SetVariableLog().empty());
}

class DefaultsTest : public PlatformTest {
protected:
  // Store 0 and store 3 with their own default blocks.
  void PublishTwoStores(size_t size0 = 0x90, size_t size3 = 0x81) {
    std::vector<UINT8> stores = SetupStore(0, Pattern(size0, 0));
    std::vector<UINT8> three = SetupStore(3, Pattern(size3, 3));
    stores.insert(stores.end(), three.begin(), three.end());
    PublishRegions(stores);
  }
};

TEST_F(DefaultsTest, TheStoreInUseGivesTheDefaultBlock) {
  struct Case {
    const char *name;
    bool protocol;
    UINT64 storeId;
    bool region;
    EFI_STATUS status;
    std::vector<UINT8> data;
  } cases[] = {
      {"store 3", true, 3, true, EFI_SUCCESS, Pattern(0x81, 3)},
      {"store 0", true, 0, true, EFI_SUCCESS, Pattern(0x90, 0)},
      {"unknown store falls back to 0", true, 7, true, EFI_SUCCESS, Pattern(0x90, 0)},
      {"no default-store protocol", false, 3, true, EFI_NOT_FOUND, {}},
      {"no default-store region", true, 3, false, EFI_NOT_FOUND, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.ClearHobs();
    Reboot();
    if (c.region) {
      PublishTwoStores();
    }
    if (c.protocol) {
      host::InstallDefaultStoreProtocol(*firmware, c.storeId);
    }
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    const PlatformSetupBlock *defaults = nullptr;
    EXPECT_EQ(GetPlatformSetupDefaults(&defaults), c.status);
    if (c.status == EFI_SUCCESS) {
      ASSERT_NE(defaults, nullptr);
      EXPECT_EQ(BlockBytes(*defaults), c.data);
      // Cached: the protocol is not asked again and the same block returns.
      const PlatformSetupBlock *again = nullptr;
      EXPECT_EQ(GetPlatformSetupDefaults(&again), EFI_SUCCESS);
      EXPECT_EQ(again, defaults);
      EXPECT_EQ(host::DefaultStoreIdCalls(), 1u);
    } else {
      EXPECT_EQ(defaults, nullptr);
    }
  }
}

TEST_F(DefaultsTest, TheCachedDefaultKeepsItsSize) {
  PublishTwoStores(0x5C, 0x81);
  host::InstallDefaultStoreProtocol(*firmware, 0);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  const PlatformSetupBlock *defaults = nullptr;
  ASSERT_EQ(GetPlatformSetupDefaults(&defaults), EFI_SUCCESS);
  EXPECT_EQ(defaults->size, 0x5Cu);
  UINT8 value = 0;
  EXPECT_EQ(GetSetupByte(defaults, kSetupUsbBootDisabled, &value), EFI_BAD_BUFFER_SIZE);
  EXPECT_EQ(GetSetupByte(defaults, kSetupUsbBootDisabled - 1, &value), EFI_SUCCESS);
  EXPECT_EQ(value, Pattern(0x5C, 0)[0x5B]);
}

TEST_F(DefaultsTest, ReadDefaultsRulesAndRelease) {
  PublishTwoStores();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  UINTN size = 0;
  EXPECT_EQ(ReadPlatformSetupDefaults(3, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ReadPlatformSetupDefaults(9, &size), EFI_NOT_FOUND);
  size_t mark = firmware->BootPool().Mark();
  firmware->BootPool().FailNth(1);
  EXPECT_EQ(ReadPlatformSetupDefaults(3, &size), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
  ASSERT_EQ(ReadPlatformSetupDefaults(3, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 0x81u);
  // A second read replaces the cache without leaking the first.
  ASSERT_EQ(ReadPlatformSetupDefaults(0, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 0x90u);
  EXPECT_EQ(firmware->BootPool().LiveSince(mark).size(), 1u);
  ReleasePlatformSetupDefaults();
  EXPECT_TRUE(firmware->BootPool().LiveSince(mark).empty());
  firmware->ExitBootServices();
  EXPECT_EQ(ReadPlatformSetupDefaults(3, &size), EFI_OUT_OF_RESOURCES);
}

TEST_F(PlatformSetupTest, BootOrderLockByte) {
  struct Case {
    const char *name;
    std::vector<UINT8> stored; // empty: absent
    UINTN size;
    EFI_STATUS status;
    UINTN sizeAfter;
  } cases[] = {
      {"one byte", {1}, 1, EFI_SUCCESS, 1},
      {"absent", {}, 1, EFI_NOT_FOUND, 1},
      {"two bytes", {1, 0}, 1, EFI_BUFFER_TOO_SMALL, 2},
  };
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    platform.EraseVariable(u"BootOrderLock", gBootOrderLockVariableGuid);
    if (!c.stored.empty()) {
      platform.PutVariable(u"BootOrderLock", gBootOrderLockVariableGuid, 3, c.stored);
    }
    UINT8 value = 0xEE;
    UINTN size = c.size;
    EXPECT_EQ(ReadBootOrderLockVariable(&size, &value), c.status);
    EXPECT_EQ(size, c.sizeAfter);
    EXPECT_EQ(value, c.status == EFI_SUCCESS ? c.stored[0] : 0xEE);
  }
  UINT8 value = 0;
  EXPECT_EQ(ReadBootOrderLockVariable(nullptr, &value), EFI_INVALID_PARAMETER);
}

} // namespace
