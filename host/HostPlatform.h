// The machine under the firmware double: everything that survives a reboot.
// The variable store, the clock, HOB contents, SMBIOS records, PCD values,
// port-I/O hooks, limits and fault-injection settings. A host::Firmware is
// one boot on top of a Platform.
#ifndef ZELM_HOST_HOST_PLATFORM_H_
#define ZELM_HOST_HOST_PLATFORM_H_

#include <uefi/UefiSystemTable.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/HostPool.h"

namespace host {

// Name and vendor GUID of a variable; ordered by GUID bytes, then name.
struct VariableId {
  std::u16string name;
  EFI_GUID guid{};
};
bool operator<(const VariableId &a, const VariableId &b);
bool operator==(const VariableId &a, const VariableId &b);

struct Variable {
  UINT32 attributes = 0;
  std::vector<UINT8> data;
};

// One SetVariable call as the firmware saw it, whatever its outcome.
struct SetVariableCall {
  std::u16string name;
  EFI_GUID guid{};
  UINT32 attributes = 0;
  std::vector<UINT8> data;
  EFI_STATUS status = EFI_SUCCESS;
  unsigned boot = 0;
};

struct VariableLimits {
  // Name size (with terminator) plus data size of one variable.
  size_t maxVariableSize = 0x10000;
  // Non-volatile and volatile storage, each variable costing its name, its
  // data and kVariableHeaderSize.
  size_t storeSize = 0x100000;
  size_t volatileStoreSize = 0x100000;
};
// Per-variable bookkeeping cost in the store (an authenticated header).
constexpr size_t kVariableHeaderSize = 60;

// What one boot left behind when its Firmware was destroyed.
struct BootReport {
  unsigned boot = 0;
  std::vector<PoolBlock> leakedBlocks; // boot-services pool still live
  size_t leakedBytes = 0;
  size_t smmLeakedBlocks = 0;
  size_t openEvents = 0;
  size_t invalidFrees = 0;
  size_t tplViolations = 0;
  size_t bootServiceCallsAfterExit = 0;
};

// Processor state seen through support/Cpu.h.
class CpuModel {
public:
  using PortReadHook = std::function<UINT32(UINT16 port)>;

  // Installs the read hook of one port (replacing an earlier one).
  void SetPortReadHook(UINT16 port, PortReadHook hook);
  // Removes every hook and zeroes the counters and the TSC.
  void Reset();
  // Number of 32-bit reads of Port so far.
  size_t PortReads(UINT16 port) const;
  // Reads of every port.
  size_t TotalPortReads() const;

  // The calls of support/Cpu.h land here.
  UINT32 IoRead32(UINT16 port);
  UINT64 ReadTsc();
  void Pause();
  BOOLEAN SaveAndDisableInterrupts();
  void RestoreInterrupts(BOOLEAN enabled);

  UINT64 tsc = 0;
  UINT64 tscPerRead = 16;    // a TSC read advances the counter this much
  UINT64 tscPerPause = 4096; // so does a pause, so TSC-budgeted waits end
  bool interruptsEnabled = true;
  size_t pauseCount = 0;
  size_t disableCount = 0;
  size_t restoreCount = 0;

private:
  std::map<UINT16, PortReadHook> hooks_;
  std::map<UINT16, size_t> reads_;
};

// Which identities (ZELM_IDENTITY_* bits) the authentication component has
// enrolled; kept by the platform, so enrolment survives a reboot.
class AuthenticationKeys {
public:
  void Enrol(UINT8 identity) { enrolled_ |= identity; }
  void Unenrol(UINT8 identity) { enrolled_ &= static_cast<UINT8>(~identity); }
  UINT8 Enrolled() const { return enrolled_; }

private:
  UINT8 enrolled_ = 0;
};

class Platform {
public:
  using Store = std::map<VariableId, Variable>;

  // Ties the module of support/Cpu.h to the platform's processor model.
  Platform();
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  // --- Variable store, host side: no attribute rules, no log. ---
  // Creates or replaces a variable.
  void PutVariable(std::u16string_view name, const EFI_GUID &guid, UINT32 attributes,
                   std::vector<UINT8> data);
  // Same with the data given as bytes of a string.
  void PutVariable(std::u16string_view name, const EFI_GUID &guid, UINT32 attributes,
                   std::string_view bytes);
  // The variable or NULL.
  const Variable *FindVariable(std::u16string_view name, const EFI_GUID &guid) const;
  // Removes a variable; FALSE when there was none.
  bool EraseVariable(std::u16string_view name, const EFI_GUID &guid);
  // The whole store, in GetNextVariableName order.
  const Store &Variables() const { return store_; }
  // The store for direct edits.
  Store &MutableVariables() { return store_; }
  // Bytes the store charges for the variables with (or without) NON_VOLATILE.
  size_t StoreUsage(bool nonVolatile) const;

  // --- Pool. ---
  // The pool kind of the boots that begin from now: benchmarks take the
  // firmware pool, tests keep the checking one (host/HostPool.h).
  PoolKind poolKind = PoolKind::kChecking;

  // --- Variable fault injection and log. ---
  // The n-th SetVariable from now (1 = next) returns Status and changes nothing.
  void FailSetVariable(size_t n, EFI_STATUS status);
  // The n-th GetVariable from now returns Status.
  void FailGetVariable(size_t n, EFI_STATUS status);
  // Called for every SetVariable that passed the parameter checks; a status
  // other than EFI_SUCCESS is returned instead of writing.
  std::function<EFI_STATUS(const SetVariableCall &)> setVariableHook;
  // Every SetVariable call through the firmware's services that got past
  // the NULL-pointer checks, oldest first.
  const std::vector<SetVariableCall> &SetVariableLog() const { return setLog_; }
  // Forgets the logged calls.
  void ClearSetVariableLog() { setLog_.clear(); }

  // GetVariable calls through the firmware's services (both variable
  // services count), since the platform was made or the count cleared.
  size_t GetVariableCalls() const { return getCalls_; }
  void ClearGetVariableCalls() { getCalls_ = 0; }
  // UEFI leaves the attributes of a GetVariable answered
  // EFI_BUFFER_TOO_SMALL to the implementation; when this is clear they are
  // not filled then.
  bool attributesOnBufferTooSmall = true;

  // --- Power cut. ---
  // From the k-th SetVariable from now on (1 = next) nothing reaches the
  // store: the k-th lands whole when Lands is set, or not at all (UEFI
  // variable writes are atomic per variable). The running boot is not told:
  // its calls keep their answers; the next boot begins on the store as the
  // cut left it.
  void CutPowerAt(size_t k, bool lands);
  // TRUE once the cut happened (until the next boot begins).
  bool PowerWasCut() const { return powerCut_; }

  VariableLimits limits;
  // UEFI 2.10 section 8.2: a delete (size 0) whose non-zero attributes differ
  // from the stored ones is refused with EFI_INVALID_PARAMETER.
  bool strictDeleteAttributes = true;

  // --- Persistence of the non-volatile variables. ---
  // The non-volatile variables in the double's own file format.
  std::vector<UINT8> SerializeVariables() const;
  // Replaces the non-volatile variables; FALSE (store unchanged) when Bytes
  // are not a well-formed store image.
  bool DeserializeVariables(const std::vector<UINT8> &bytes);
  // File forms of the two above; FALSE on I/O failure or a malformed file.
  bool SaveVariables(const std::string &path) const;
  bool LoadVariables(const std::string &path);

  // --- Clock. ---
  // Sets the time GetTime reports (time zone unspecified, no daylight).
  void SetClock(UINT16 year, UINT8 month, UINT8 day, UINT8 hour, UINT8 minute, UINT8 second);
  EFI_TIME clock{};
  // Non-success: GetTime returns it.
  EFI_STATUS getTimeStatus = EFI_SUCCESS;

  // --- HOB list (PI 1.8 volume 3). ---
  // Appends a GUID-extension HOB carrying Data. Its length is 24 + the data
  // size, or that rounded up to 8 (zero padding, as PEI builds them) when
  // alignGuidHobs is set.
  void AddGuidHob(const EFI_GUID &guid, std::vector<UINT8> data);
  bool alignGuidHobs = false;
  // Appends bytes as they are (hostile lists: zero-length, truncated HOBs).
  void AddRawHob(std::vector<UINT8> bytes);
  // Publishes a HOB list even when it has no HOBs of its own.
  void EnableHobList() {
    hobListEnabled_ = true;
    hobGeneration_++;
  }
  // No HOB list in the configuration table.
  void ClearHobs();
  // TRUE when boots publish a HOB list.
  bool HasHobList() const { return hobListEnabled_; }
  // The list: a handoff HOB, the added HOBs, then END_OF_HOB_LIST unless
  // terminateHobList is FALSE.
  std::vector<UINT8> BuildHobList() const;
  bool terminateHobList = true;
  // Changes with every change of the HOBs, so a boot can pick them up.
  unsigned HobGeneration() const { return hobGeneration_ + (terminateHobList ? 0u : 0x80000000u); }

  // --- SMBIOS records (formatted area and string set). ---
  // Adds a structure of Type whose formatted area after the 4-byte header is
  // Formatted; returns its handle.
  UINT16 AddSmbiosRecord(UINT8 type, std::vector<UINT8> formatted,
                         const std::vector<std::string> &strings);
  // Adds a complete structure as given (its handle is read from bytes 2-3).
  void AddRawSmbiosRecord(std::vector<UINT8> bytes);
  // The records in the order GetNext returns them.
  const std::vector<std::vector<UINT8>> &SmbiosRecords() const { return smbios_; }
  // The structure table a boot publishes: the records back to back, then
  // the end-of-table structure (type 127, no strings) unless
  // terminateSmbiosTable is FALSE.
  std::vector<UINT8> BuildSmbiosTable() const;
  bool terminateSmbiosTable = true;

  // --- PCD values, per (token space, token). ---
  // Stores Value in Size bytes (little-endian).
  void SetPcd(const EFI_GUID &tokenSpace, UINTN token, UINT64 value, size_t size = 8);
  // The stored bytes or NULL.
  const std::vector<UINT8> *FindPcd(const EFI_GUID &tokenSpace, UINTN token) const;

  // --- Processor. ---
  CpuModel cpu;

  // --- Authentication component (see host/Authentication.h). ---
  AuthenticationKeys authentication;

  // --- Boots. ---
  // Number of Firmware objects made on this platform.
  unsigned BootCount() const { return bootCount_; }
  // The report of the latest finished boot.
  const BootReport &LastBoot() const { return lastBoot_; }

  // Used by the firmware double itself.
  void BeginBoot();
  void EndBoot(BootReport report) { lastBoot_ = std::move(report); }
  bool TakeSetVariableFailure(EFI_STATUS *status);
  bool TakeGetVariableFailure(EFI_STATUS *status);
  void LogSetVariable(SetVariableCall call) { setLog_.push_back(std::move(call)); }
  void CountGetVariable() { getCalls_++; }
  // Around every SetVariable that reaches the rules: the power cut's
  // snapshot of the store is taken before or after the k-th.
  void BeforeSetVariable();
  void AfterSetVariable();

private:
  struct PcdKey {
    EFI_GUID space;
    UINTN token;
    bool operator<(const PcdKey &o) const;
  };

  Store store_;
  std::vector<SetVariableCall> setLog_;
  size_t getCalls_ = 0;
  size_t cutCountdown_ = 0;
  bool cutLands_ = false;
  bool powerCut_ = false;
  bool snapshotAfter_ = false;
  Store cutStore_;
  size_t setFailCountdown_ = 0;
  EFI_STATUS setFailStatus_ = EFI_SUCCESS;
  size_t getFailCountdown_ = 0;
  EFI_STATUS getFailStatus_ = EFI_SUCCESS;
  std::vector<std::vector<UINT8>> hobs_;
  bool hobListEnabled_ = false;
  unsigned hobGeneration_ = 0;
  std::vector<std::vector<UINT8>> smbios_;
  UINT16 nextSmbiosHandle_ = 1;
  std::map<PcdKey, std::vector<UINT8>> pcd_;
  unsigned bootCount_ = 0;
  BootReport lastBoot_;
};

// Compares two GUIDs byte-wise.
bool GuidEqual(const EFI_GUID &a, const EFI_GUID &b);

} // namespace host

#endif
