// GetMemoryMap of the firmware double: the calling protocol of a real
// firmware, and a map that describes the platform memory tests hand out.
#include <cstring>
#include <vector>

#include "host/PlatformRegions.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

using drivertest::DriverTest;

constexpr UINT64 kPage = 4096;

class HostMemoryMapTest : public DriverTest {
protected:
  // No firmware has an empty map.
  HostMemoryMapTest() { firmware->AddMemoryMapRange(0x1000, 1, EfiConventionalMemory); }

  // The map as returned, one entry per descriptor.
  std::vector<EFI_MEMORY_DESCRIPTOR> ReadMap(UINTN *key = nullptr) {
    UINTN size = 0, descriptorSize = 0, mapKey = 0;
    UINT32 version = 0;
    EFI_BOOT_SERVICES *bs = firmware->BootServices();
    EXPECT_EQ(bs->GetMemoryMap(&size, nullptr, &mapKey, &descriptorSize, &version),
              EFI_BUFFER_TOO_SMALL);
    std::vector<UINT8> buffer(size);
    EXPECT_EQ(bs->GetMemoryMap(&size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(buffer.data()),
                               &mapKey, &descriptorSize, &version),
              EFI_SUCCESS);
    EXPECT_EQ(size, buffer.size());
    EXPECT_EQ(version, 1u);
    std::vector<EFI_MEMORY_DESCRIPTOR> map;
    for (UINTN offset = 0; descriptorSize != 0 && offset + descriptorSize <= size;
         offset += descriptorSize) {
      EFI_MEMORY_DESCRIPTOR d;
      std::memcpy(&d, buffer.data() + offset, sizeof(d));
      map.push_back(d);
    }
    if (key != nullptr) {
      *key = mapKey;
    }
    return map;
  }
};

TEST_F(HostMemoryMapTest, SizesAndParametersFollowTheBootService) {
  EFI_BOOT_SERVICES *bs = firmware->BootServices();
  firmware->AddMemoryMapRange(0x200000, 1, EfiMemoryMappedIO);
  firmware->AddMemoryMapRange(0x100000, 4, EfiBootServicesData);
  UINTN size = 0, descriptorSize = 0, key = 0;
  UINT32 version = 0;
  EXPECT_EQ(bs->GetMemoryMap(nullptr, nullptr, &key, &descriptorSize, &version),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->GetMemoryMap(&size, nullptr, &key, &descriptorSize, &version),
            EFI_BUFFER_TOO_SMALL);
  // Larger than the structure, so a walk by sizeof goes wrong.
  EXPECT_EQ(descriptorSize, 48u);
  EXPECT_EQ(size, 3 * descriptorSize);
  UINTN tooSmall = size - 1;
  EXPECT_EQ(bs->GetMemoryMap(&tooSmall, nullptr, &key, &descriptorSize, &version),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(tooSmall, size);
  // Big enough, but no buffer.
  EXPECT_EQ(bs->GetMemoryMap(&size, nullptr, &key, &descriptorSize, &version),
            EFI_INVALID_PARAMETER);
  std::vector<EFI_MEMORY_DESCRIPTOR> map = ReadMap();
  // In address order.
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map[0].PhysicalStart, 0x1000u);
  EXPECT_EQ(map[1].Type, static_cast<UINT32>(EfiBootServicesData));
  EXPECT_EQ(map[1].PhysicalStart, 0x100000u);
  EXPECT_EQ(map[1].NumberOfPages, 4u);
  EXPECT_EQ(map[2].Type, static_cast<UINT32>(EfiMemoryMappedIO));
  EXPECT_EQ(map[2].PhysicalStart, 0x200000u);
  EXPECT_EQ(map[2].NumberOfPages, 1u);
}

TEST_F(HostMemoryMapTest, EveryHeldBlockIsCoveredByItsOwnDescriptor) {
  UINTN keyBefore = 0;
  ReadMap(&keyBefore);
  host::PlatformMemory memory;
  struct Held {
    const UINT8 *address;
    size_t size;
  };
  std::vector<Held> held;
  for (size_t size : {size_t(1), size_t(28), size_t(5000), size_t(3 * kPage)}) {
    held.push_back({memory.Hold(std::vector<UINT8>(size, 0x5A)), size});
  }
  UINTN key = 0;
  std::vector<EFI_MEMORY_DESCRIPTOR> map = ReadMap(&key);
  EXPECT_NE(key, keyBefore);
  for (const Held &h : held) {
    SCOPED_TRACE(h.size);
    // The page-aligned cover: from the page of its first byte to the end
    // of the page of its last.
    UINT64 start = host::PlatformMemory::Address(h.address);
    UINT64 coverStart = start & ~(kPage - 1);
    UINT64 coverEnd = (start + h.size + kPage - 1) & ~(kPage - 1);
    size_t covering = 0;
    for (const EFI_MEMORY_DESCRIPTOR &d : map) {
      if (d.Type == EfiMemoryMappedIO && d.PhysicalStart == coverStart &&
          d.NumberOfPages == (coverEnd - coverStart) / kPage) {
        covering++;
      }
    }
    EXPECT_GE(covering, 1u);
  }
  EXPECT_GE(map.size(), held.size());
}

TEST_F(HostMemoryMapTest, ReleasedPlatformMemoryLeavesTheMap) {
  size_t before = ReadMap().size();
  {
    host::PlatformMemory memory;
    memory.Hold({1, 2, 3});
    EXPECT_EQ(ReadMap().size(), before + 1);
  }
  EXPECT_EQ(ReadMap().size(), before);
}

} // namespace
