#include "efi/harness/QemuExit.h"

namespace {

constexpr UINT16 debugExitPort = 0xF4;

} // namespace

VOID ExitQemu(EFI_SYSTEM_TABLE *SystemTable, BOOLEAN Passed) {
  UINT32 value = Passed ? HARNESS_EXIT_PASSED : HARNESS_EXIT_FAILED;
  asm volatile("outl %0, %w1" : : "a"(value), "Nd"(debugExitPort) : "memory");
  SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, Passed ? EFI_SUCCESS : EFI_ABORTED, 0,
                                            nullptr);
  for (;;) {
    asm volatile("cli\n\thlt");
  }
}
