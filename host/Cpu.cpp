// The host side of support/Cpu.h: port reads go to per-port hooks, the
// time-stamp counter is a counter, and the interrupt flag is a variable.
#include "support/Cpu.h"

#include "host/CpuHooks.h"

namespace host {

namespace {

CpuModel *gBoundCpu = nullptr;

CpuModel &ActiveCpu() {
  static CpuModel fallback;
  return gBoundCpu != nullptr ? *gBoundCpu : fallback;
}

} // namespace

void BindCpu(CpuModel *cpu) {
  gBoundCpu = cpu;
}

void UnbindCpu(CpuModel *cpu) {
  if (gBoundCpu == cpu) {
    gBoundCpu = nullptr;
  }
}

void CpuModel::SetPortReadHook(UINT16 port, PortReadHook hook) {
  hooks_[port] = std::move(hook);
}

void CpuModel::Reset() {
  hooks_.clear();
  reads_.clear();
  tsc = 0;
  interruptsEnabled = true;
  pauseCount = disableCount = restoreCount = 0;
}

size_t CpuModel::PortReads(UINT16 port) const {
  auto it = reads_.find(port);
  return it == reads_.end() ? 0 : it->second;
}

size_t CpuModel::TotalPortReads() const {
  size_t total = 0;
  for (const auto &entry : reads_) {
    total += entry.second;
  }
  return total;
}

UINT32 CpuModel::IoRead32(UINT16 port) {
  reads_[port]++;
  auto it = hooks_.find(port);
  // An absent device reads as all ones, like q35's port 0x1808 without ACPI.
  return it == hooks_.end() ? 0xFFFFFFFFu : it->second(port);
}

UINT64 CpuModel::ReadTsc() {
  tsc += tscPerRead;
  return tsc;
}

void CpuModel::Pause() {
  pauseCount++;
  tsc += tscPerPause;
}

BOOLEAN CpuModel::SaveAndDisableInterrupts() {
  BOOLEAN was = interruptsEnabled ? TRUE : FALSE;
  interruptsEnabled = false;
  disableCount++;
  return was;
}

void CpuModel::RestoreInterrupts(BOOLEAN enabled) {
  restoreCount++;
  if (enabled) {
    interruptsEnabled = true;
  }
}

} // namespace host

extern "C" {

UINT64 CpuReadTsc(VOID) {
  return host::ActiveCpu().ReadTsc();
}

UINT32 CpuIoRead32(UINT16 Port) {
  return host::ActiveCpu().IoRead32(Port);
}

BOOLEAN CpuSaveAndDisableInterrupts(VOID) {
  return host::ActiveCpu().SaveAndDisableInterrupts();
}

VOID CpuRestoreInterrupts(BOOLEAN Enabled) {
  host::ActiveCpu().RestoreInterrupts(Enabled);
}

VOID CpuPause(VOID) {
  host::ActiveCpu().Pause();
}
}
