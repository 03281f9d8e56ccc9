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

struct Pool::Header {
  Header *newer;
  Header *older;
  PoolBlock block;
};

Pool::Pool(std::string name, PoolKind kind) : name_(std::move(name)), kind_(kind) {
  if (kind_ == PoolKind::kChecking) {
    blocks_.reserve(1024);
  }
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
  VOID *memory = nullptr;
  if (size != 0 && !InjectedFailure() && size <= limit_ && stats_.liveBytes + size <= limit_) {
    memory = kind_ == PoolKind::kChecking ? TakeChecked(type, size) : TakeFirmware(type, size);
  }
  if (memory == nullptr) {
    stats_.failedAllocations++;
    return EFI_OUT_OF_RESOURCES;
  }
  stats_.liveCount++;
  stats_.liveBytes += size;
  stats_.totalAllocations++;
  if (stats_.liveBytes > stats_.peakBytes) {
    stats_.peakBytes = stats_.liveBytes;
  }
  *buffer = memory;
  return EFI_SUCCESS;
}

VOID *Pool::TakeChecked(EFI_MEMORY_TYPE type, UINTN size) {
  VOID *memory = std::malloc(size);
  if (memory != nullptr) {
    std::memset(memory, kFreshFill, size);
    blocks_.emplace(memory, PoolBlock{memory, size, type, ++serial_});
  }
  return memory;
}

VOID *Pool::TakeFirmware(EFI_MEMORY_TYPE type, UINTN size) {
  // The caller's part stays aligned as malloc's is.
  static_assert(sizeof(Header) % 16 == 0);
  auto *header = static_cast<Header *>(std::malloc(sizeof(Header) + size));
  if (header == nullptr) {
    return nullptr;
  }
  VOID *memory = header + 1;
  *header = Header{nullptr, firmwareBlocks_, PoolBlock{memory, size, type, ++serial_}};
  if (firmwareBlocks_ != nullptr) {
    firmwareBlocks_->newer = header;
  }
  firmwareBlocks_ = header;
  return memory;
}

EFI_STATUS Pool::Free(VOID *buffer) {
  if (buffer == nullptr) {
    stats_.invalidFrees++;
    return EFI_INVALID_PARAMETER;
  }
  return kind_ == PoolKind::kChecking ? FreeChecked(buffer) : FreeFirmware(buffer);
}

EFI_STATUS Pool::FreeChecked(VOID *buffer) {
  auto it = blocks_.find(buffer);
  if (it == blocks_.end()) {
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

EFI_STATUS Pool::FreeFirmware(VOID *buffer) {
  Header *header = static_cast<Header *>(buffer) - 1;
  if (header->newer != nullptr) {
    header->newer->older = header->older;
  } else {
    firmwareBlocks_ = header->older;
  }
  if (header->older != nullptr) {
    header->older->newer = header->newer;
  }
  stats_.liveCount--;
  stats_.liveBytes -= header->block.size;
  std::free(header);
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

bool Pool::Owns(const VOID *address) const {
  if (kind_ == PoolKind::kChecking) {
    return blocks_.count(address) != 0;
  }
  for (const Header *h = firmwareBlocks_; h != nullptr; h = h->older) {
    if (h->block.address == address) {
      return true;
    }
  }
  return false;
}

std::vector<PoolBlock> Pool::LiveSince(size_t mark) const {
  std::vector<PoolBlock> live;
  for (const auto &entry : blocks_) {
    if (entry.second.serial > mark) {
      live.push_back(entry.second);
    }
  }
  for (const Header *h = firmwareBlocks_; h != nullptr; h = h->older) {
    if (h->block.serial > mark) {
      live.push_back(h->block);
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
