#include "driver/TimerCalibration.h"

#include <platform/PlatformGuids.h>

#include "driver/Hob.h"
#include "support/Cpu.h"

VOID CalibrateTimer(VOID) {
  if (FindGuidHobData(&gPlatformTimerCalibrationHobGuid, 0) != nullptr) {
    return;
  }
  BOOLEAN interruptsWereEnabled = CpuSaveAndDisableInterrupts();
  UINT32 target = CpuIoRead32(kPmTimerPort) + kCalibrationTicks;
  UINT64 start = CpuReadTsc();
  // Bit 23 of the difference turns on once the 24-bit timer passes the
  // target, wrapping included. On q35 the port reads all-ones for ever, so
  // the time-stamp counter bounds the wait.
  while (((target - CpuIoRead32(kPmTimerPort)) & (1u << 23)) == 0 &&
         CpuReadTsc() - start < kCalibrationTscBudget) {
    CpuPause();
  }
  CpuReadTsc();
  CpuRestoreInterrupts(interruptsWereEnabled);
}
