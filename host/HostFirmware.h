// The firmware double: one boot of UEFI boot and runtime services with their
// real semantics, on top of a host::Platform that keeps what survives a
// reboot. Only one Firmware lives at a time; its service tables are handed to
// the driver's image entry by StartImage / RunImage.
#ifndef ZELM_HOST_HOST_FIRMWARE_H_
#define ZELM_HOST_HOST_FIRMWARE_H_

#include <uefi/Protocol/LoadedImage.h>
#include <uefi/Protocol/SmmBase2.h>
#include <uefi/Protocol/SmmCommunication.h>
#include <uefi/UefiGuids.h>
#include <uefi/UefiSystemTable.h>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "host/HostPlatform.h"
#include "host/HostPool.h"
#include "host/ProtocolDatabase.h"

namespace host {

class Authentication;
struct FirmwareState;

// Calls seen by the pointer-conversion service.
struct PointerConversionLog {
  std::vector<VOID **> registered;   // every RegisterPointer, in order
  std::vector<VOID **> unregistered; // every UnregisterPointer, in order
  // Addresses registered and not unregistered since.
  std::vector<VOID **> Active() const;
};

// Handler of one SMM communication header GUID: gets the whole buffer and
// the size the caller gave (0 when CommSize was NULL); its status is what
// Communicate returns.
using SmmHandler = std::function<EFI_STATUS(EFI_SMM_COMMUNICATE_HEADER *buffer, UINTN size)>;

class Firmware {
public:
  // Starts a boot on Platform: volatile variables are gone, the HOB list is
  // built, the service tables are ready. Throws when another Firmware lives.
  explicit Firmware(Platform &platform);
  // Ends the boot: frees outstanding pool (recorded in the platform's
  // LastBoot report) and clears the driver's saved table pointers.
  ~Firmware();
  Firmware(const Firmware &) = delete;
  Firmware &operator=(const Firmware &) = delete;

  // The live Firmware or NULL.
  static Firmware *Current();

  // The platform this boot runs on.
  Platform &GetPlatform();
  // The tables handed to images; valid while this boot lives.
  EFI_SYSTEM_TABLE *SystemTable();
  EFI_BOOT_SERVICES *BootServices();
  EFI_RUNTIME_SERVICES *RuntimeServices();

  // --- Images. ---
  // A new image handle carrying EFI_LOADED_IMAGE_PROTOCOL with CodeType.
  EFI_HANDLE LoadImage(EFI_MEMORY_TYPE codeType = EfiBootServicesCode);
  // The loaded-image protocol of an image handle (NULL for other handles).
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage(EFI_HANDLE image);
  // Calls Entry(Image, SystemTable) and returns its status. HOBs added to the
  // platform since the boot began are published first.
  EFI_STATUS StartImage(EFI_HANDLE image, EFI_IMAGE_ENTRY_POINT entry);
  // LoadImage + StartImage; *Image receives the handle when not NULL.
  EFI_STATUS RunImage(EFI_IMAGE_ENTRY_POINT entry, EFI_MEMORY_TYPE codeType = EfiBootServicesCode,
                      EFI_HANDLE *image = nullptr);

  // --- Boot phases. ---
  // Signals every event of Group, as EfiEventGroupSignal does.
  void SignalEventGroup(const EFI_GUID &group);
  // The end-of-DXE point: signals its group; variable lock requests are
  // refused from now on.
  void EndOfDxe();
  // Ready to boot: EndOfDxe first (when not yet passed), then the group.
  void ReadyToBoot();
  // Signals the exit-boot-services group, then boot services are gone:
  // later boot-service calls are counted, and variables without runtime
  // access vanish.
  void ExitBootServices();
  bool BootServicesActive() const;
  // Boot-service calls made after ExitBootServices.
  size_t BootServiceCallsAfterExit() const;

  // --- Boot-services protocol database. ---
  // InstallProtocolInterface through the services (notifications fire);
  // *Handle NULL or Handle NULL makes a new handle.
  EFI_STATUS InstallProtocol(const EFI_GUID &guid, VOID *interface, EFI_HANDLE *handle = nullptr);
  EFI_STATUS UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, VOID *interface);
  // The first installed interface of Guid, or NULL.
  VOID *FindProtocol(const EFI_GUID &guid) const;
  bool HasProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const;
  // Every installed interface, by handle creation and installation order.
  std::vector<ProtocolRecord> Protocols() const;
  // Live handles.
  size_t HandleCount() const;
  // Live RegisterProtocolNotify registrations.
  size_t NotifyRegistrationCount() const;

  // --- Events and TPL. ---
  // Events created and not closed.
  size_t OpenEventCount() const;
  // The task priority level now.
  EFI_TPL CurrentTpl() const;
  // Raises below the current level and restores above it.
  size_t TplViolations() const;

  // --- Pool. ---
  // The boot-services pool (AllocatePool / FreePool).
  Pool &BootPool();
  // SMRAM pool (SmmAllocatePool / SmmFreePool).
  Pool &SmmPool();

  // --- Memory map. ---
  // GetMemoryMap describes every block of every live host::PlatformMemory
  // (its page-aligned cover, as EfiMemoryMappedIO) and the ranges added
  // here. A range is taken as given, so a test may add one whose end does
  // not fit 64 bits.
  void AddMemoryMapRange(UINT64 start, UINT64 pages, EFI_MEMORY_TYPE type);

  // --- Configuration table. ---
  // The table registered under Guid, or NULL (the HOB list is brought up to
  // date with the platform first).
  VOID *FindConfigurationTable(const EFI_GUID &guid) const;
  // The HOB list of this boot (NULL when the platform has none) and its size.
  const UINT8 *HobList() const;
  size_t HobListSize() const;

  // --- Platform protocols a test may install. ---
  // An empty hook-registry list head on a new handle; returns the head.
  LIST_ENTRY *InstallHookRegistry();
  // Runs the actions registered at hook point Guid in priority order
  // (16, 9, 8, 7, 6); the registry is found in the boot-services database,
  // else in the SMM one. Returns the number of actions run.
  size_t RunHookPoint(const EFI_GUID &hookGuid);
  // The pointer-conversion service; its calls are logged.
  void InstallPointerConversion();
  const PointerConversionLog &PointerConversions() const;
  // EFI_PCD_PROTOCOL over the platform's PCD values.
  void InstallPcd();
  // Get calls for tokens the platform does not have.
  size_t PcdMisses() const;
  // EFI_SMBIOS_PROTOCOL over the platform's records (Add is unsupported),
  // and their structure table (Platform::BuildSmbiosTable) published in
  // the configuration table under an SMBIOS 3.0 entry point. GetNext hands
  // out pointers into that table. Once per boot.
  void InstallSmbios();
  // EDKII_VARIABLE_LOCK_PROTOCOL.
  void InstallVariableLock();
  // Locks a variable host-side, as RequestToLock would.
  void LockVariable(std::u16string_view name, const EFI_GUID &guid);
  bool IsVariableLocked(std::u16string_view name, const EFI_GUID &guid) const;
  // The authentication component of this boot (host/Authentication.h),
  // installed on a new handle through the services, so notifications fire;
  // a test may install it before or after the driver starts. Once per boot.
  Authentication &InstallAuthentication();
  // The installed component, or NULL.
  Authentication *Auth();

  // --- SMM. ---
  // EFI_SMM_BASE2_PROTOCOL answering InSmm with InSmm.
  void InstallSmmBase2(bool inSmm);
  // The SMM system table (GetSmstLocation hands it out only when in SMM).
  EFI_SMM_SYSTEM_TABLE2 *Smst();
  // EFI_SMM_VARIABLE_PROTOCOL over the same store, in the SMM database or
  // (SmmDatabase FALSE) in the boot-services one.
  void InstallSmmVariable(bool smmDatabase = true);
  // EFI_SMM_COMMUNICATION_PROTOCOL in the boot-services database.
  void InstallSmmCommunication();
  // Sets (or, with an empty handler, removes) the handler of HeaderGuid.
  void SetSmmHandler(const EFI_GUID &headerGuid, SmmHandler handler);
  // Communicate calls so far.
  size_t SmmCommunicateCount() const;
  // SmmInstallProtocolInterface; *Handle NULL or Handle NULL makes a new handle.
  EFI_STATUS InstallSmmProtocol(const EFI_GUID &guid, VOID *interface,
                                EFI_HANDLE *handle = nullptr);
  // The first SMM interface of Guid, or NULL.
  VOID *FindSmmProtocol(const EFI_GUID &guid) const;
  // Live SmmRegisterProtocolNotify registrations.
  size_t SmmNotifyRegistrationCount() const;

  // The inside of the boot, for the service sources.
  FirmwareState &State() { return *state_; }

private:
  std::unique_ptr<FirmwareState> state_;
};

} // namespace host

#endif
