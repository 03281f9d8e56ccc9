// What driver calls cost on the firmware double: their time, the part of it
// that is the driver's own (bench/PlatformTime.h), their variable calls and
// the pool they took at the highest.
#ifndef ZELM_BENCH_CALL_COST_H_
#define ZELM_BENCH_CALL_COST_H_

#include <chrono>
#include <string>

#include "bench/PlatformTime.h"
#include "host/HostFirmware.h"
#include "xml/Xml.h"

struct CallCost {
  double ns = -1;         // negative when the calls failed
  double ownNs = 0;       // without the platform's code
  size_t writes = 0;      // SetVariable calls
  size_t reads = 0;       // GetVariable calls
  size_t peakPool = 0;    // pool bytes above those live at the start
  size_t allocations = 0; // pool blocks taken
};

// Counts from its making; Time adds a call's time, so calls between the
// timed ones (a report nobody waits for) count for variables and pool only.
class CallMeter {
public:
  CallMeter(host::Platform &platform, host::Firmware &firmware)
      : platform_(platform), pool_(firmware.BootPool()) {
    // The double's log is a test facility no firmware has: cleared, it
    // keeps its room and costs no copying while measured.
    platform.ClearSetVariableLog();
    platform.ClearGetVariableCalls();
    pool_.ResetPeak();
    liveBefore_ = pool_.Stats().liveBytes;
    allocationsBefore_ = pool_.Stats().totalAllocations;
  }

  template <typename Call> auto Time(Call &&call) {
    (void)PlatformTime::TakeNs();
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    ns_ +=
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    platformNs_ += PlatformTime::TakeNs();
    return result;
  }

  CallCost Cost(bool succeeded) const {
    CallCost cost;
    cost.ns = succeeded ? ns_ : -1.0;
    cost.ownNs = ns_ - platformNs_;
    cost.writes = platform_.SetVariableLog().size();
    cost.reads = platform_.GetVariableCalls();
    cost.peakPool = pool_.Stats().peakBytes - liveBefore_;
    cost.allocations = pool_.Stats().totalAllocations - allocationsBefore_;
    return cost;
  }

private:
  host::Platform &platform_;
  host::Pool &pool_;
  size_t liveBefore_ = 0;
  size_t allocationsBefore_ = 0;
  double ns_ = 0;
  double platformNs_ = 0;
};

// Pool blocks that parsing Xml takes on Firmware's pool, against which a
// packet's blocks are weighed: its own parse is one of them.
inline size_t ParseAllocations(host::Firmware &firmware, const std::string &xml) {
  const size_t before = firmware.BootPool().Stats().totalAllocations;
  XmlNode *root = nullptr;
  if (XmlParse(xml.c_str(), xml.size(), &root) == EFI_SUCCESS && root != nullptr) {
    (void)XmlFreeTree(&root);
  }
  return firmware.BootPool().Stats().totalAllocations - before;
}

#endif
