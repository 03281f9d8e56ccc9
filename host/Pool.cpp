#include "host/HostPool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace host {

namespace {

// Fresh and freed memory get a fixed pattern, so code that relies on
// zero-filled pool or reads freed blocks shows up in tests.
constexpr int kFreshFill = 0xAF;
constexpr int kFreedFill = 0xDF;

bool IsValidPoolType(EFI_MEMORY_TYPE type) {
  UINT32 value = static_cast<UINT32>(type);
  if (value >= EfiMaxMemoryType) {
    // OEM (0x70000000..) and OS (0x80000000..) ranges are allowed.
    return value >= 0x70000000u;
  }
  return type != EfiConventionalMemory && type != EfiPersistentMemory &&
         type != EfiUnacceptedMemoryType;
}

} // namespace

Pool::Pool(std::string name) : name_(std::move(name)) {
  blocks_.reserve(1024);
}

Pool::~Pool() {
  ReleaseAll();
}

bool Pool::InjectedFailure() {
  bool fail = false;
  if (failCountdown_ != 0 && --failCountdown_ == 0) {
    fail = true;
  }
  if (failAllArmed_) {
    if (failAllCountdown_ == 0) {
      fail = true;
    } else {
      failAllCountdown_--;
    }
  }
  return fail;
}

EFI_STATUS Pool::Allocate(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  if (buffer == nullptr || !IsValidPoolType(type)) {
    return EFI_INVALID_PARAMETER;
  }
  if (size == 0 || InjectedFailure() || size > limit_ || stats_.liveBytes + size > limit_) {
    stats_.failedAllocations++;
    return EFI_OUT_OF_RESOURCES;
  }
  VOID *memory = std::malloc(size);
  if (memory == nullptr) {
    stats_.failedAllocations++;
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(memory, kFreshFill, size);
  PoolBlock block{memory, size, type, ++serial_};
  blocks_.emplace(memory, block);
  stats_.liveCount++;
  stats_.liveBytes += size;
  stats_.totalAllocations++;
  if (stats_.liveBytes > stats_.peakBytes) {
    stats_.peakBytes = stats_.liveBytes;
  }
  *buffer = memory;
  return EFI_SUCCESS;
}

EFI_STATUS Pool::Free(VOID *buffer) {
  auto it = blocks_.find(buffer);
  if (buffer == nullptr || it == blocks_.end()) {
    stats_.invalidFrees++;
    return EFI_INVALID_PARAMETER;
  }
  std::memset(buffer, kFreedFill, it->second.size);
  stats_.liveCount--;
  stats_.liveBytes -= it->second.size;
  blocks_.erase(it);
  std::free(buffer);
  return EFI_SUCCESS;
}

void Pool::FailNth(size_t n) {
  failCountdown_ = n;
}

void Pool::FailAllAfter(size_t n) {
  failAllArmed_ = true;
  failAllCountdown_ = n;
}

void Pool::ClearFaults() {
  failCountdown_ = 0;
  failAllArmed_ = false;
  failAllCountdown_ = 0;
}

std::vector<PoolBlock> Pool::LiveSince(size_t mark) const {
  std::vector<PoolBlock> live;
  for (const auto &entry : blocks_) {
    if (entry.second.serial > mark) {
      live.push_back(entry.second);
    }
  }
  std::sort(live.begin(), live.end(),
            [](const PoolBlock &a, const PoolBlock &b) { return a.serial < b.serial; });
  return live;
}

std::vector<PoolBlock> Pool::ReleaseAll() {
  std::vector<PoolBlock> released = LiveBlocks();
  for (const PoolBlock &block : released) {
    Free(block.address);
  }
  return released;
}

} // namespace host
