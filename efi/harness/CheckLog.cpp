#include "efi/harness/CheckLog.h"

#include "efi/harness/Console.h"

BOOLEAN CheckLog::expect(BOOLEAN Passed, const CHAR8 *What, EFI_STATUS Status) {
  if (!Passed) {
    ++failures_;
  }
  Print("zelm-harness: %a: %a (%r)\n", Passed ? "ok" : "FAILED", What, Status);
  return Passed;
}
