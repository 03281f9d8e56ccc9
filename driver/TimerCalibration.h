// The start-up timer-calibration wait.
#ifndef ZELM_DRIVER_TIMER_CALIBRATION_H_
#define ZELM_DRIVER_TIMER_CALIBRATION_H_

#include <uefi/UefiBaseType.h>

// ACPI power-management timer port and the wait length in its ticks.
constexpr UINT16 kPmTimerPort = 0x1808;
constexpr UINT32 kCalibrationTicks = 363;
// Upper bound of the wait in time-stamp-counter ticks (a few milliseconds at
// any realistic clock), for platforms whose timer port does not move.
constexpr UINT64 kCalibrationTscBudget = 20000000;

// Waits about 100 us on the PM timer with interrupts off, unless the
// platform's timer-calibration HOB says it has been done.
VOID CalibrateTimer(VOID);

#endif
