// What driver calls cost on the firmware double: their time, the part of it
// that is the driver's own (bench/PlatformTime.h), their variable calls and
// the pool they took at the highest.
#ifndef ZELM_BENCH_CALL_COST_H_
#define ZELM_BENCH_CALL_COST_H_

#include <chrono>

#include "bench/PlatformTime.h"
#include "host/HostFirmware.h"

struct CallCost {
  double ns = -1;      // negative when the calls failed
  double ownNs = 0;    // without the platform's code
  size_t writes = 0;   // SetVariable calls
  size_t reads = 0;    // GetVariable calls
  size_t peakPool = 0; // pool bytes above those live at the start
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
    return cost;
  }

private:
  host::Platform &platform_;
  host::Pool &pool_;
  size_t liveBefore_ = 0;
  double ns_ = 0;
  double platformNs_ = 0;
};

#endif
