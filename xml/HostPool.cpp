// Pool for host builds of the XML library, with counting. Like a firmware
// pool it keeps freed small blocks on free lists by size class and hands
// them out again; larger blocks go straight to malloc. Sanitizer builds
// use malloc for every block, so that use after free is still caught.
#include "HostPool.h"

#include <stdlib.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELM_HOST_POOL_PLAIN_MALLOC 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZELM_HOST_POOL_PLAIN_MALLOC 1
#endif

namespace {

// Each block starts with its requested size so that frees can be counted in
// bytes; 16 bytes keep the caller's part aligned as malloc's is.
constexpr UINTN kHeaderSize = 16;
constexpr UINTN kClassGranule = 16;
constexpr UINTN kClassCount = 64; // blocks up to 1 KiB are kept for reuse

struct FreeBlock {
  FreeBlock *next;
};

struct PoolCounters {
  XmlHostPoolStats stats;
  UINTN failCountdown; // the attempt that brings it to 0 fails; 0 none
};

PoolCounters gCounters;
FreeBlock *gFreeLists[kClassCount];

// Size class of a request, or kClassCount when it is not kept.
UINTN ClassOf(UINTN size) {
#ifdef ZELM_HOST_POOL_PLAIN_MALLOC
  (VOID) size;
  return kClassCount;
#else
  UINTN index = size / kClassGranule;
  return index < kClassCount ? index : kClassCount;
#endif
}

UINT8 *NewBlock(UINTN size) {
  UINTN index = ClassOf(size);
  if (index == kClassCount) {
    return static_cast<UINT8 *>(malloc(size + kHeaderSize));
  }
  FreeBlock *block = gFreeLists[index];
  if (block != nullptr) {
    gFreeLists[index] = block->next;
    return reinterpret_cast<UINT8 *>(block);
  }
  return static_cast<UINT8 *>(malloc((index + 1) * kClassGranule + kHeaderSize));
}

VOID ReleaseBlock(UINT8 *block, UINTN size) {
  UINTN index = ClassOf(size);
  if (index == kClassCount) {
    free(block);
    return;
  }
  FreeBlock *free = reinterpret_cast<FreeBlock *>(block);
  free->next = gFreeLists[index];
  gFreeLists[index] = free;
}

VOID ReleaseFreeLists() {
  for (FreeBlock *&list : gFreeLists) {
    while (list != nullptr) {
      FreeBlock *next = list->next;
      free(list);
      list = next;
    }
  }
}

} // namespace

VOID *XmlPoolAllocate(UINTN Size) {
  if (gCounters.failCountdown != 0 && --gCounters.failCountdown == 0) {
    gCounters.stats.FailedAllocations++;
    return nullptr;
  }
  if (Size > ~static_cast<UINTN>(0) - kHeaderSize) {
    gCounters.stats.FailedAllocations++;
    return nullptr;
  }
  UINT8 *block = NewBlock(Size);
  if (block == nullptr) {
    gCounters.stats.FailedAllocations++;
    return nullptr;
  }
  *reinterpret_cast<UINTN *>(block) = Size;
  gCounters.stats.Allocations++;
  gCounters.stats.CurrentBytes += Size;
  if (gCounters.stats.CurrentBytes > gCounters.stats.PeakBytes) {
    gCounters.stats.PeakBytes = gCounters.stats.CurrentBytes;
  }
  return block + kHeaderSize;
}

VOID XmlPoolFree(VOID *Buffer) {
  if (Buffer == nullptr) {
    return;
  }
  UINT8 *block = static_cast<UINT8 *>(Buffer) - kHeaderSize;
  gCounters.stats.Frees++;
  UINTN size = *reinterpret_cast<UINTN *>(block);
  gCounters.stats.CurrentBytes -= size;
  ReleaseBlock(block, size);
}

VOID XmlHostPoolReset() {
  ReleaseFreeLists();
  gCounters = PoolCounters{};
}

XmlHostPoolStats XmlHostPoolGetStats() {
  return gCounters.stats;
}

UINTN XmlHostPoolOutstanding() {
  return gCounters.stats.Allocations - gCounters.stats.Frees;
}

VOID XmlHostPoolFailAt(UINTN Nth) {
  gCounters.failCountdown = Nth;
}

VOID XmlHostPoolResetPeak() {
  gCounters.stats.PeakBytes = gCounters.stats.CurrentBytes;
}
