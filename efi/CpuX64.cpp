// Processor access for the firmware image: the instructions themselves.
#include "support/Cpu.h"

extern "C" {

UINT64 CpuReadTsc(VOID) {
  UINT32 low;
  UINT32 high;
  asm volatile("rdtsc" : "=a"(low), "=d"(high));
  return (static_cast<UINT64>(high) << 32) | low;
}

UINT32 CpuIoRead32(UINT16 Port) {
  UINT32 value;
  asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(Port) : "memory");
  return value;
}

BOOLEAN CpuSaveAndDisableInterrupts(VOID) {
  UINT64 flags;
  asm volatile("pushfq\n\tpopq %0\n\tcli" : "=r"(flags) : : "memory");
  // RFLAGS.IF is bit 9.
  return (flags & (1u << 9)) != 0 ? TRUE : FALSE;
}

VOID CpuRestoreInterrupts(BOOLEAN Enabled) {
  if (Enabled) {
    asm volatile("sti" : : : "memory");
  }
}

VOID CpuPause(VOID) {
  asm volatile("pause" : : : "memory");
}

} // extern "C"
