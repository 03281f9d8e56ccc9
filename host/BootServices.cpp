// Memory, image, configuration-table and miscellaneous boot services
// (UEFI 2.10 sections 7.2, 7.4, 7.5).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/FirmwareState.h"
#include "host/PlatformRegions.h"

namespace host {

namespace {

constexpr UINTN kPageSize = 4096;

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return Guarded([&] { return s->bootPool.Allocate(PoolType, Size, Buffer); });
}

EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  return s->bootPool.Free(Buffer);
}

EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                EFI_PHYSICAL_ADDRESS *Memory) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (Memory == nullptr || Type >= MaxAllocateType || MemoryType == EfiConventionalMemory ||
      (MemoryType >= EfiMaxMemoryType && static_cast<UINT32>(MemoryType) < 0x70000000u)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Type != AllocateAnyPages) {
    return EFI_NOT_FOUND; // host memory has no fixed addresses to hand out
  }
  if (Pages == 0 || Pages > 0x10000) {
    return EFI_OUT_OF_RESOURCES;
  }
  return Guarded([&] {
    auto *block = static_cast<UINT8 *>(std::aligned_alloc(kPageSize, Pages * kPageSize));
    if (block == nullptr) {
      return EFI_OUT_OF_RESOURCES;
    }
    s->pageCounts[reinterpret_cast<UINT64>(block)] = Pages;
    *Memory = reinterpret_cast<UINT64>(block);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  auto it = s->pageCounts.find(Memory);
  if (it == s->pageCounts.end()) {
    return EFI_NOT_FOUND;
  }
  if (it->second != Pages) {
    return EFI_INVALID_PARAMETER;
  }
  std::free(reinterpret_cast<VOID *>(Memory));
  s->pageCounts.erase(it);
  return EFI_SUCCESS;
}

// Larger than the structure, as on common firmware, so that a walk by
// sizeof instead of DescriptorSize goes wrong here too.
constexpr UINTN kDescriptorSize = 48;
static_assert(kDescriptorSize >= sizeof(EFI_MEMORY_DESCRIPTOR));
constexpr UINT32 kDescriptorVersion = 1;
constexpr UINT64 kMemoryUc = 0x1;
constexpr UINT64 kMemoryWb = 0x8;

std::vector<EFI_MEMORY_DESCRIPTOR> BuildMemoryMap(const FirmwareState &s) {
  std::vector<EFI_MEMORY_DESCRIPTOR> map;
  for (const PlatformMemory::Block &block : PlatformMemory::LiveBlocks()) {
    UINT64 start = block.address & ~UINT64{kPageSize - 1};
    UINT64 end = (block.address + block.size + kPageSize - 1) & ~UINT64{kPageSize - 1};
    EFI_MEMORY_DESCRIPTOR descriptor{};
    descriptor.Type = EfiMemoryMappedIO;
    descriptor.PhysicalStart = start;
    descriptor.NumberOfPages = (end - start) / kPageSize;
    descriptor.Attribute = kMemoryUc;
    map.push_back(descriptor);
  }
  for (EFI_MEMORY_DESCRIPTOR descriptor : s.memoryMapRanges) {
    descriptor.Attribute = descriptor.Type == EfiMemoryMappedIO ? kMemoryUc : kMemoryWb;
    map.push_back(descriptor);
  }
  std::stable_sort(map.begin(), map.end(),
                   [](const EFI_MEMORY_DESCRIPTOR &a, const EFI_MEMORY_DESCRIPTOR &b) {
                     return a.PhysicalStart < b.PhysicalStart;
                   });
  return map;
}

EFI_STATUS EFIAPI GetMemoryMap(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap,
                               UINTN *MapKey, UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (MemoryMapSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    std::vector<EFI_MEMORY_DESCRIPTOR> map = BuildMemoryMap(*s);
    UINTN needed = map.size() * kDescriptorSize;
    // The descriptor layout is told even when the buffer is too small, so
    // the caller can size its buffer in whole descriptors.
    if (DescriptorSize != nullptr) {
      *DescriptorSize = kDescriptorSize;
    }
    if (DescriptorVersion != nullptr) {
      *DescriptorVersion = kDescriptorVersion;
    }
    if (*MemoryMapSize < needed) {
      *MemoryMapSize = needed;
      return EFI_BUFFER_TOO_SMALL;
    }
    if (MemoryMap == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    auto *out = reinterpret_cast<UINT8 *>(MemoryMap);
    for (size_t i = 0; i < map.size(); i++) {
      // Padding past the structure is junk, as in fresh pool.
      std::memset(out + i * kDescriptorSize, 0xAF, kDescriptorSize);
      std::memcpy(out + i * kDescriptorSize, &map[i], sizeof(map[i]));
    }
    *MemoryMapSize = needed;
    if (MapKey != nullptr) {
      *MapKey = s->memoryMapRanges.size() + PlatformMemory::Generation();
    }
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI InstallConfigurationTable(EFI_GUID *Guid, VOID *Table) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    auto &table = s->configurationTable;
    for (auto it = table.begin(); it != table.end(); ++it) {
      if (GuidEqual(it->VendorGuid, *Guid)) {
        if (Table == nullptr) {
          table.erase(it);
        } else {
          it->VendorTable = Table;
        }
        s->PublishConfigurationTable();
        return EFI_SUCCESS;
      }
    }
    if (Table == nullptr) {
      return EFI_NOT_FOUND;
    }
    table.push_back(EFI_CONFIGURATION_TABLE{*Guid, Table});
    s->PublishConfigurationTable();
    return EFI_SUCCESS;
  });
}

// Images are loaded by host::Firmware::LoadImage, not from files.
EFI_STATUS EFIAPI LoadImage(BOOLEAN, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL *, VOID *, UINTN,
                            EFI_HANDLE *) {
  EnterBootService();
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI StartImage(EFI_HANDLE, UINTN *, CHAR16 **) {
  EnterBootService();
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI Exit(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16 *) {
  EnterBootService();
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI UnloadImage(EFI_HANDLE) {
  EnterBootService();
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ExitBootServices(EFI_HANDLE ImageHandle, UINTN) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr || Firmware::Current() == nullptr) {
    return EFI_NOT_READY;
  }
  if (!s->protocols.IsHandle(ImageHandle)) {
    return EFI_INVALID_PARAMETER;
  }
  return Guarded([&] {
    Firmware::Current()->ExitBootServices();
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI GetNextMonotonicCount(UINT64 *Count) {
  FirmwareState *s = EnterBootService();
  if (s == nullptr) {
    return EFI_NOT_READY;
  }
  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = ++s->monotonicCount;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Stall(UINTN Microseconds) {
  FirmwareState *s = EnterBootService();
  if (s != nullptr) {
    // Assume a 1 GHz counter, so stalls move TSC-based waits along.
    s->platform.cpu.tsc += static_cast<UINT64>(Microseconds) * 1000;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetWatchdogTimer(UINTN, UINT64, UINTN, CHAR16 *) {
  EnterBootService();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ConnectController(EFI_HANDLE, EFI_HANDLE *, EFI_DEVICE_PATH_PROTOCOL *, BOOLEAN) {
  EnterBootService();
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI DisconnectController(EFI_HANDLE, EFI_HANDLE, EFI_HANDLE) {
  EnterBootService();
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI CalculateCrc32(VOID *Data, UINTN DataSize, UINT32 *Crc32Out) {
  EnterBootService();
  if (Data == nullptr || DataSize == 0 || Crc32Out == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Crc32Out = Crc32(Data, DataSize);
  return EFI_SUCCESS;
}

VOID EFIAPI CopyMemService(VOID *Destination, VOID *Source, UINTN Length) {
  EnterBootService();
  if (Length != 0) {
    std::memmove(Destination, Source, Length);
  }
}

VOID EFIAPI SetMemService(VOID *Buffer, UINTN Size, UINT8 Value) {
  EnterBootService();
  if (Size != 0) {
    std::memset(Buffer, Value, Size);
  }
}

} // namespace

UINT32 Crc32(const VOID *data, size_t size) {
  const auto *bytes = static_cast<const UINT8 *>(data);
  UINT32 crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

void FillBootServices(EFI_BOOT_SERVICES &table) {
  table.AllocatePages = AllocatePages;
  table.FreePages = FreePages;
  table.GetMemoryMap = GetMemoryMap;
  table.AllocatePool = AllocatePool;
  table.FreePool = FreePool;
  table.InstallConfigurationTable = InstallConfigurationTable;
  table.LoadImage = LoadImage;
  table.StartImage = StartImage;
  table.Exit = Exit;
  table.UnloadImage = UnloadImage;
  table.ExitBootServices = ExitBootServices;
  table.GetNextMonotonicCount = GetNextMonotonicCount;
  table.Stall = Stall;
  table.SetWatchdogTimer = SetWatchdogTimer;
  table.ConnectController = ConnectController;
  table.DisconnectController = DisconnectController;
  table.CalculateCrc32 = CalculateCrc32;
  table.CopyMem = CopyMemService;
  table.SetMem = SetMemService;
}

} // namespace host
