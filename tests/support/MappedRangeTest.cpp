// The check that an address handed over by the platform lies inside the
// memory map before anything reads it. The addresses here are never
// dereferenced: only the map decides.
#include <platform/PlatformRegionTable.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/FirmwareTables.h"
#include "support/MappedRange.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

constexpr UINT64 kHeader = sizeof(PLATFORM_REGION_TABLE_HEADER);
constexpr UINT64 kRamStart = 0x100000; // 16 pages
constexpr UINT64 kRamEnd = 0x110000;
constexpr UINT64 kFlashStart = 0xFF000000; // 16 pages of MMIO
constexpr UINT64 kWrappingStart = 0xFFFFFFFFFFFF0000ull;

class MappedRangeTest : public DriverTest {
protected:
  MappedRangeTest() { gBS = firmware->BootServices(); }

  // Pool blocks live now; the check must leave none behind.
  size_t LivePool() { return firmware->BootPool().Stats().liveCount; }
};

TEST_F(MappedRangeTest, OnlyAHeaderInsideOneDescriptorCounts) {
  firmware->AddMemoryMapRange(kRamStart, 16, EfiBootServicesData);
  firmware->AddMemoryMapRange(kFlashStart, 16, EfiMemoryMappedIO);
  // Two adjacent descriptors: a header across their border is in neither.
  firmware->AddMemoryMapRange(0x300000, 1, EfiRuntimeServicesData);
  firmware->AddMemoryMapRange(0x301000, 1, EfiRuntimeServicesData);
  // Described, but not canonical: the map alone must not let them through.
  firmware->AddMemoryMapRange(0x0000800000000000ull, 16, EfiMemoryMappedIO);
  firmware->AddMemoryMapRange(0xAFAFAFAFAFAFA000ull, 16, EfiMemoryMappedIO);
  // Its end is past 2^64.
  firmware->AddMemoryMapRange(kWrappingStart, 0x20, EfiMemoryMappedIO);
  // Its page count times 4096 does not fit 64 bits.
  firmware->AddMemoryMapRange(0x200000, 0x0010000000000001ull, EfiReservedMemoryType);

  struct Case {
    const char *name;
    UINT64 address;
    UINT64 length;
    BOOLEAN mapped;
  } cases[] = {
      {"zero", 0, kHeader, FALSE},
      {"non-canonical pattern inside a descriptor", 0xAFAFAFAFAFAFAFAFull, kHeader, FALSE},
      {"first non-canonical address inside a descriptor", 0x0000800000000000ull, kHeader, FALSE},
      {"canonical, outside every descriptor", 0x00007FFF00000000ull, kHeader, FALSE},
      {"canonical upper half, outside every descriptor", 0xFFFF800000000000ull, kHeader, FALSE},
      {"one byte before a descriptor", kRamStart - 1, kHeader, FALSE},
      {"at the start of a descriptor", kRamStart, kHeader, TRUE},
      {"exactly at the end minus the header", kRamEnd - kHeader, kHeader, TRUE},
      {"straddling the end of a descriptor", kRamEnd - kHeader + 1, kHeader, FALSE},
      {"at the end of a descriptor", kRamEnd, kHeader, FALSE},
      {"inside a descriptor of MMIO type", kFlashStart + 0x100, kHeader, TRUE},
      {"across two adjacent descriptors", 0x301000 - 10, kHeader, FALSE},
      {"inside a descriptor whose end wraps", kWrappingStart + 0x1000, kHeader, FALSE},
      {"inside a descriptor whose size overflows", 0x200000, kHeader, FALSE},
      {"length that wraps from a mapped address", kRamStart, ~UINT64{0}, FALSE},
      {"length zero", kRamStart, 0, FALSE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    size_t pool = LivePool();
    EXPECT_EQ(IsMappedRange(c.address, c.length), c.mapped);
    EXPECT_EQ(LivePool(), pool);
  }
}

// A firmware whose GetMemoryMap the test scripts.
struct ScriptedMap {
  EFI_STATUS probeStatus = EFI_BUFFER_TOO_SMALL;
  UINTN descriptorSize = sizeof(EFI_MEMORY_DESCRIPTOR);
  // Descriptors added before every call after the probe, as an allocation
  // that splits a free range would.
  size_t growthPerCall = 0;
  // Added to the size reported on success.
  UINTN sizeOverstatement = 0;
  std::vector<EFI_MEMORY_DESCRIPTOR> descriptors;
  size_t calls = 0;
};
ScriptedMap *gScript = nullptr;

EFI_STATUS EFIAPI ScriptedGetMemoryMap(UINTN *size, EFI_MEMORY_DESCRIPTOR *map, UINTN *key,
                                       UINTN *descriptorSize, UINT32 *version) {
  ScriptedMap &s = *gScript;
  if (s.calls++ == 0 && s.probeStatus != EFI_BUFFER_TOO_SMALL) {
    *size = 0;
    return s.probeStatus;
  }
  if (s.calls > 1) {
    for (size_t i = 0; i < s.growthPerCall; i++) {
      s.descriptors.push_back(EFI_MEMORY_DESCRIPTOR{EfiConventionalMemory, 0x40000000, 0, 1, 0});
    }
  }
  *descriptorSize = s.descriptorSize;
  *version = 1;
  *key = s.calls;
  UINTN stride = std::max<UINTN>(s.descriptorSize, sizeof(EFI_MEMORY_DESCRIPTOR));
  UINTN needed = s.descriptors.size() * s.descriptorSize;
  if (*size < s.descriptors.size() * stride) {
    *size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *out = reinterpret_cast<UINT8 *>(map);
  for (size_t i = 0; i < s.descriptors.size(); i++) {
    std::memcpy(out + i * stride, &s.descriptors[i], sizeof(EFI_MEMORY_DESCRIPTOR));
  }
  *size = needed + s.sizeOverstatement;
  return EFI_SUCCESS;
}

TEST_F(MappedRangeTest, AMapThatCannotBeReadLeavesTheAddressMissing) {
  const EFI_MEMORY_DESCRIPTOR ram{EfiBootServicesData, kRamStart, 0, 16, 0};
  struct Case {
    const char *name;
    ScriptedMap script;
    size_t failPoolAt; // 0: the pool answers
    BOOLEAN mapped;
  } cases[] = {
      {"descriptors exactly the structure's size", {}, 0, TRUE},
      {"descriptors larger than the structure", {.descriptorSize = 64}, 0, TRUE},
      {"map grown by the buffer's allocation", {.growthPerCall = 3}, 0, TRUE},
      {"no pool for the map", {}, 1, FALSE},
      {"map that outgrows every buffer", {.growthPerCall = 100}, 0, FALSE},
      {"probe answers an error", {.probeStatus = EFI_DEVICE_ERROR}, 0, FALSE},
      {"probe answers an empty map", {.probeStatus = EFI_SUCCESS}, 0, FALSE},
      {"descriptor size below the structure", {.descriptorSize = 32}, 0, FALSE},
      {"descriptor size of a hostile firmware", {.descriptorSize = 1 << 20}, 0, FALSE},
      {"reported size past the buffer", {.sizeOverstatement = 4096}, 0, FALSE},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    // The covering descriptor comes last, so only a full walk finds it.
    c.script.descriptors = {EFI_MEMORY_DESCRIPTOR{EfiConventionalMemory, 0x1000, 0, 1, 0},
                            EFI_MEMORY_DESCRIPTOR{EfiMemoryMappedIO, 0xFEC00000, 0, 1, 0}, ram};
    gScript = &c.script;
    firmware->BootServices()->GetMemoryMap = ScriptedGetMemoryMap;
    size_t pool = LivePool();
    if (c.failPoolAt != 0) {
      firmware->BootPool().FailNth(c.failPoolAt);
    }
    EXPECT_EQ(IsMappedRange(kRamStart + 0x800, kHeader), c.mapped);
    firmware->BootPool().ClearFaults();
    EXPECT_EQ(LivePool(), pool);
    EXPECT_LE(c.script.calls, 4u); // the probe and at most three tries
  }
  gScript = nullptr;
}

} // namespace
