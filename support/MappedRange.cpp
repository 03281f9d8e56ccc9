#include "support/MappedRange.h"

#include <uefi/UefiSystemTable.h>

#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"

namespace {

constexpr UINT64 kPageSize = 4096;
constexpr UINT64 kMaxUint64 = ~UINT64{0};
// The buffer is allocated after the size probe, and that allocation can
// split a free range: room for a few more descriptors saves a retry.
constexpr UINTN kSlackDescriptors = 8;
// A firmware whose map keeps growing past this many tries is not answered.
constexpr UINTN kMapTries = 3;
// Descriptor sizes above this are not a layout any firmware uses.
constexpr UINTN kMaxDescriptorSize = 1024;

BOOLEAN IsCanonical(UINT64 address) {
  UINT64 top = address >> 47;
  return top == 0 || top == (kMaxUint64 >> 47);
}

// [Address, Address + Length) inside the descriptor. A descriptor whose
// size or end does not fit 64 bits covers nothing.
BOOLEAN DescriptorCovers(const EFI_MEMORY_DESCRIPTOR &descriptor, UINT64 address, UINT64 length) {
  if (descriptor.NumberOfPages > kMaxUint64 / kPageSize) {
    return FALSE;
  }
  UINT64 start = descriptor.PhysicalStart;
  UINT64 size = descriptor.NumberOfPages * kPageSize;
  if (size > kMaxUint64 - start) {
    return FALSE;
  }
  UINT64 end = start + size;
  return start <= address && address <= end && length <= end - address;
}

// Walks a map as returned: by DescriptorSize, never by the structure's size.
BOOLEAN MapCovers(const UINT8 *map, UINTN mapSize, UINTN descriptorSize, UINT64 address,
                  UINT64 length) {
  for (UINTN offset = 0; offset <= mapSize && mapSize - offset >= descriptorSize;
       offset += descriptorSize) {
    EFI_MEMORY_DESCRIPTOR descriptor;
    CopyMem(&descriptor, map + offset, sizeof(descriptor));
    if (DescriptorCovers(descriptor, address, length)) {
      return TRUE;
    }
  }
  return FALSE;
}

} // namespace

BOOLEAN IsMappedRange(UINT64 Address, UINT64 Length) {
  if (Address == 0 || Length == 0 || !IsCanonical(Address) || gBS == nullptr ||
      gBS->GetMemoryMap == nullptr) {
    return FALSE;
  }
  UINTN mapSize = 0;
  UINTN mapKey = 0;
  UINTN descriptorSize = 0;
  UINT32 descriptorVersion = 0;
  EFI_STATUS status =
      gBS->GetMemoryMap(&mapSize, nullptr, &mapKey, &descriptorSize, &descriptorVersion);
  for (UINTN attempt = 0; attempt < kMapTries && status == EFI_BUFFER_TOO_SMALL; attempt++) {
    UINTN unit = descriptorSize > sizeof(EFI_MEMORY_DESCRIPTOR) ? descriptorSize
                                                                : sizeof(EFI_MEMORY_DESCRIPTOR);
    if (unit > kMaxDescriptorSize || mapSize > ~UINTN{0} - kSlackDescriptors * unit) {
      return FALSE;
    }
    UINTN bufferSize = mapSize + kSlackDescriptors * unit;
    PoolPtr<UINT8> buffer(static_cast<UINT8 *>(AllocPool(bufferSize)));
    if (!buffer) {
      return FALSE;
    }
    mapSize = bufferSize;
    status = gBS->GetMemoryMap(&mapSize, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(buffer.get()),
                               &mapKey, &descriptorSize, &descriptorVersion);
    if (status == EFI_SUCCESS) {
      if (descriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR) || mapSize > bufferSize) {
        return FALSE;
      }
      return MapCovers(buffer.get(), mapSize, descriptorSize, Address, Length);
    }
  }
  return FALSE;
}
