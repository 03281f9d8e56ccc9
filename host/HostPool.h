// A tracked memory pool: every block is recorded with its size, so tests can
// ask for live blocks, peak use and leaks, and allocations can be made to
// fail on demand.
//
// Two kinds. The checking pool (tests) fills fresh and freed blocks with
// patterns and keeps a table of live blocks, so a Free of a pointer it did
// not hand out is caught. The firmware pool (benchmarks) keeps what a
// firmware pool keeps: a header before each block with its size, on a list
// of live blocks; it neither fills nor looks a pointer up, so it cannot tell
// a bad Free and costs what firmware's pool costs.
#ifndef ZELM_HOST_HOST_POOL_H_
#define ZELM_HOST_HOST_POOL_H_

#include <uefi/UefiSystemTable.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace host {

struct PoolStats {
  size_t liveCount = 0;
  size_t liveBytes = 0;
  size_t peakBytes = 0;
  size_t totalAllocations = 0;  // successful ones
  size_t failedAllocations = 0; // refused (size 0, injected, over the limit)
  size_t invalidFrees = 0;      // Free of a pointer the pool did not hand out
};

enum class PoolKind { kChecking, kFirmware };

struct PoolBlock {
  VOID *address = nullptr;
  size_t size = 0;
  EFI_MEMORY_TYPE type = EfiBootServicesData;
  size_t serial = 0; // 1 for the first allocation of the pool
};

class Pool {
public:
  explicit Pool(std::string name, PoolKind kind = PoolKind::kChecking);
  ~Pool();
  Pool(const Pool &) = delete;
  Pool &operator=(const Pool &) = delete;

  // AllocatePool semantics (UEFI 2.10 section 7.2).
  EFI_STATUS Allocate(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer);
  // FreePool semantics; an unknown pointer is counted in invalidFrees.
  EFI_STATUS Free(VOID *buffer);

  // The n-th allocation from now fails (1 = the next one).
  void FailNth(size_t n);
  // n more allocations succeed, then every one fails until ClearFaults.
  void FailAllAfter(size_t n);
  // Removes every injected failure.
  void ClearFaults();
  // Allocations that would take live bytes above the limit fail.
  void SetLimit(size_t bytes) { limit_ = bytes; }

  // Counters since the pool was made.
  const PoolStats &Stats() const { return stats_; }
  // Starts peakBytes again from the live bytes, to measure one operation.
  void ResetPeak() { stats_.peakBytes = stats_.liveBytes; }
  // Serial of the latest allocation; pass it to LiveSince.
  size_t Mark() const { return serial_; }
  // Blocks still live that were allocated after Mark() returned mark.
  std::vector<PoolBlock> LiveSince(size_t mark) const;
  // All live blocks, oldest first.
  std::vector<PoolBlock> LiveBlocks() const { return LiveSince(0); }
  // TRUE when Address is the start of a live block.
  bool Owns(const VOID *address) const;
  // Frees every live block; returns what was freed.
  std::vector<PoolBlock> ReleaseAll();
  const std::string &Name() const { return name_; }

private:
  struct Header; // before each block of the firmware pool

  bool InjectedFailure();
  VOID *TakeChecked(EFI_MEMORY_TYPE type, UINTN size);
  VOID *TakeFirmware(EFI_MEMORY_TYPE type, UINTN size);
  EFI_STATUS FreeChecked(VOID *buffer);
  EFI_STATUS FreeFirmware(VOID *buffer);

  std::string name_;
  PoolKind kind_;
  Header *firmwareBlocks_ = nullptr; // newest first
  std::unordered_map<const VOID *, PoolBlock> blocks_;
  PoolStats stats_;
  size_t serial_ = 0;
  size_t failCountdown_ = 0; // 0: off
  size_t failAllCountdown_ = 0;
  bool failAllArmed_ = false;
  size_t limit_ = size_t(1) << 30;
};

} // namespace host

#endif
