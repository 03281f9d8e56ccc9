// Which processor model the functions of support/Cpu.h drive.
#ifndef ZELM_HOST_CPU_HOOKS_H_
#define ZELM_HOST_CPU_HOOKS_H_

#include "host/HostPlatform.h"

namespace host {

// Makes Cpu the model behind support/Cpu.h (the latest bound one wins).
void BindCpu(CpuModel *cpu);
// Forgets Cpu; support/Cpu.h falls back to a private default model.
void UnbindCpu(CpuModel *cpu);

} // namespace host

#endif
