// malloc-backed pool for host builds of the XML library, with counting.
#include "HostPool.h"

#include <stdlib.h>

namespace {

// Each block starts with its requested size so that frees can be counted in
// bytes; 16 bytes keep the caller's part aligned as malloc's is.
constexpr UINTN kHeaderSize = 16;

struct PoolCounters {
  XmlHostPoolStats stats;
  UINTN attempts;
  UINTN failAt; // attempt number that fails; 0 none
};

PoolCounters gCounters;

} // namespace

VOID *XmlPoolAllocate(UINTN Size) {
  gCounters.attempts++;
  if (gCounters.failAt != 0 && gCounters.attempts == gCounters.failAt) {
    gCounters.failAt = 0;
    gCounters.stats.FailedAllocations++;
    return nullptr;
  }
  if (Size > ~static_cast<UINTN>(0) - kHeaderSize) {
    gCounters.stats.FailedAllocations++;
    return nullptr;
  }
  UINT8 *block = static_cast<UINT8 *>(malloc(Size + kHeaderSize));
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
  gCounters.stats.CurrentBytes -= *reinterpret_cast<UINTN *>(block);
  free(block);
}

VOID XmlHostPoolReset() {
  gCounters = PoolCounters{};
}

XmlHostPoolStats XmlHostPoolGetStats() {
  return gCounters.stats;
}

UINTN XmlHostPoolOutstanding() {
  return gCounters.stats.Allocations - gCounters.stats.Frees;
}

VOID XmlHostPoolFailAt(UINTN Nth) {
  gCounters.failAt = Nth == 0 ? 0 : gCounters.attempts + Nth;
}

VOID XmlHostPoolResetPeak() {
  gCounters.stats.PeakBytes = gCounters.stats.CurrentBytes;
}
