// The harness's verdicts: one console line per check and a failure count.
#ifndef ZELM_EFI_HARNESS_CHECK_LOG_H_
#define ZELM_EFI_HARNESS_CHECK_LOG_H_

#include <uefi/UefiBaseType.h>

class CheckLog {
public:
  // Prints "ok" or "FAILED" with What and the status the check saw;
  // returns Passed.
  BOOLEAN expect(BOOLEAN Passed, const CHAR8 *What, EFI_STATUS Status);
  UINTN failures() const { return failures_; }

private:
  UINTN failures_ = 0;
};

#endif
