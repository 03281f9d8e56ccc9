// Booting the driver on a platform with a region table, default stores and
// the platform services of the configuration block.
#ifndef ZELM_TESTS_SUPPORT_PLATFORM_TEST_SUPPORT_H_
#define ZELM_TESTS_SUPPORT_PLATFORM_TEST_SUPPORT_H_

#include <platform/PlatformGuids.h>
#include <uefi/Protocol/SmmVariable.h>

#include <string>
#include <vector>

#include "host/PlatformRegions.h"
#include "tests/driver/DriverTestSupport.h"

namespace platformtest {

inline std::vector<UINT8> Bytes(std::initializer_list<int> values) {
  std::vector<UINT8> out;
  for (int v : values) {
    out.push_back(static_cast<UINT8>(v));
  }
  return out;
}

// A block of Size bytes whose byte i is (i * 7 + Seed) & 0xFF.
inline std::vector<UINT8> Pattern(size_t size, int seed = 1) {
  std::vector<UINT8> out(size);
  for (size_t i = 0; i < size; i++) {
    out[i] = static_cast<UINT8>(i * 7 + seed);
  }
  return out;
}

// Hostile GetVariable answers: a size probe that succeeds, that reports a
// size of 0 or of 4 GiB, and a read that claims more bytes than the buffer
// it was given.
inline EFI_STATUS EFIAPI ProbeSucceeds(CHAR16 *, EFI_GUID *, UINT32 *, UINTN *size, VOID *) {
  *size = 0;
  return EFI_SUCCESS;
}
inline EFI_STATUS EFIAPI ProbeSizeZero(CHAR16 *, EFI_GUID *, UINT32 *, UINTN *size, VOID *) {
  *size = 0;
  return EFI_BUFFER_TOO_SMALL;
}
inline EFI_STATUS EFIAPI ProbeFourGiB(CHAR16 *, EFI_GUID *, UINT32 *, UINTN *size, VOID *) {
  *size = UINTN{1} << 32;
  return EFI_BUFFER_TOO_SMALL;
}
inline EFI_STATUS EFIAPI ReadOverclaims(CHAR16 *, EFI_GUID *, UINT32 *, UINTN *size, VOID *data) {
  *size = data == nullptr ? 4 : 8;
  return data == nullptr ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
}

// Each of them, with the status a read that allocates its buffer must give.
struct HostileGetVariable {
  const char *name;
  EFI_GET_VARIABLE service;
  EFI_STATUS status;
};
inline constexpr HostileGetVariable kHostileGetVariables[] = {
    {"probe succeeds", ProbeSucceeds, EFI_UNSUPPORTED},
    {"probe reports size 0", ProbeSizeZero, EFI_UNSUPPORTED},
    {"probe reports 4 GiB", ProbeFourGiB, EFI_OUT_OF_RESOURCES},
    {"read claims more than the buffer", ReadOverclaims, EFI_BAD_BUFFER_SIZE},
};

// EFI_SMM_VARIABLE_PROTOCOL that counts its calls and forwards them to the
// boot's variable services.
struct CountingSmmVariable {
  EFI_SMM_VARIABLE_PROTOCOL protocol{};
  static inline size_t gets = 0;
  static inline size_t sets = 0;

  CountingSmmVariable() {
    gets = 0;
    sets = 0;
    protocol.SmmGetVariable = Get;
    protocol.SmmSetVariable = Set;
  }
  static EFI_STATUS EFIAPI Get(CHAR16 *name, EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                               VOID *data) {
    gets++;
    return host::Firmware::Current()->RuntimeServices()->GetVariable(name, guid, attributes, size,
                                                                     data);
  }
  static EFI_STATUS EFIAPI Set(CHAR16 *name, EFI_GUID *guid, UINT32 attributes, UINTN size,
                               VOID *data) {
    sets++;
    return host::Firmware::Current()->RuntimeServices()->SetVariable(name, guid, attributes, size,
                                                                     data);
  }
};

class PlatformTest : public drivertest::DriverTest {
protected:
  // A region table with a default-store region over Stores and a variable
  // region of VariableRegionSize bytes (0: none) whose 16-bit value at 0x30
  // is PointerDistance; published through the HOB.
  const UINT8 *PublishRegions(const std::vector<UINT8> &stores, size_t variableRegionSize = 64,
                              UINT16 pointerDistance = 0x20) {
    host::RegionTableLayout layout;
    if (!stores.empty()) {
      storeRegion = memory.Hold(stores);
      layout.entries.push_back({gPlatformDefaultStoreRegionGuid,
                                {},
                                host::PlatformMemory::Address(storeRegion),
                                stores.size(),
                                0});
    }
    if (variableRegionSize != 0) {
      std::vector<UINT8> region(variableRegionSize, 0);
      if (variableRegionSize >= 0x32) {
        region[0x30] = static_cast<UINT8>(pointerDistance);
        region[0x31] = static_cast<UINT8>(pointerDistance >> 8);
      }
      variableRegion = memory.Hold(region);
      layout.entries.push_back({gPlatformVariableRegionGuid,
                                {},
                                host::PlatformMemory::Address(variableRegion),
                                variableRegionSize,
                                0});
    }
    table = memory.Hold(host::BuildRegionTable(layout));
    host::PublishRegionTableHob(platform, table);
    return table;
  }

  // One store of id StoreId holding "Setup" = Data.
  static std::vector<UINT8> SetupStore(UINT8 storeId, std::vector<UINT8> data) {
    host::DefaultStoreLayout store;
    store.shortId = storeId;
    host::DefaultVariableLayout setup;
    setup.data = std::move(data);
    store.variables.push_back(setup);
    return host::BuildDefaultStore(store);
  }

  // The privileged path's services in the boot-services database.
  void InstallPrivilegedPath(size_t bufferSize = 0x12000) {
    firmware->InstallSmmVariable(false);
    firmware->InstallVariableLock();
    firmware->InstallSmmCommunication();
    host::InstallSmmBuffer(*firmware, bufferSize);
    host::InstallSmmVariableWriteHandler(*firmware);
  }

  void PutSetup(const std::vector<UINT8> &data, UINT32 attributes = 7) {
    platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, attributes, data);
  }
  std::vector<UINT8> StoredSetup() {
    const host::Variable *v = platform.FindVariable(u"Setup", gPlatformSetupVariableGuid);
    return v == nullptr ? std::vector<UINT8>{} : v->data;
  }

  host::PlatformMemory memory;
  const UINT8 *storeRegion = nullptr;
  const UINT8 *variableRegion = nullptr;
  const UINT8 *table = nullptr;
};

} // namespace platformtest

#endif
