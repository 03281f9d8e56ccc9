// Inside of one boot of the firmware double, shared by the service sources.
#ifndef ZELM_HOST_FIRMWARE_STATE_H_
#define ZELM_HOST_FIRMWARE_STATE_H_

#include <platform/PlatformPointerConversion.h>
#include <uefi/Protocol/DevicePathUtilities.h>
#include <uefi/Protocol/Pcd.h>
#include <uefi/Protocol/Smbios.h>
#include <uefi/Protocol/SmmVariable.h>
#include <uefi/Protocol/VariableLock.h>
#include <uefi/SmbiosTable.h>

#include <deque>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "host/Authentication.h"
#include "host/Events.h"
#include "host/HostFirmware.h"

namespace host {

struct FirmwareState {
  explicit FirmwareState(Platform &p)
      : platform(p), bootPool("boot services", p.poolKind), smmPool("SMRAM", p.poolKind) {}

  Platform &platform;
  Pool bootPool;
  Pool smmPool;
  EventService events;
  ProtocolDatabase protocols;
  ProtocolDatabase smmProtocols;

  EFI_SYSTEM_TABLE systemTable{};
  EFI_BOOT_SERVICES bootServices{};
  EFI_RUNTIME_SERVICES runtimeServices{};
  EFI_SMM_SYSTEM_TABLE2 smst{};
  std::vector<EFI_CONFIGURATION_TABLE> configurationTable;
  std::unique_ptr<UINT8[]> hobList; // exactly sized, so overreads are caught
  size_t hobListSize = 0;
  unsigned hobGeneration = ~0u;
  std::vector<std::unique_ptr<UINT8[]>> oldHobLists; // kept for holders of old pointers

  bool bootServicesActive = true;
  bool endOfDxe = false;
  size_t callsAfterExit = 0;
  UINT64 monotonicCount = 0;
  std::set<VariableId> lockedVariables;
  std::map<EFI_HANDLE, std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL>> images;
  std::map<UINT64, UINTN> pageCounts; // AllocatePages blocks
  // Ranges a test added to the memory map, as given (not checked).
  std::vector<EFI_MEMORY_DESCRIPTOR> memoryMapRanges;
  std::deque<EFI_GUID> guidStore; // stable GUID copies for ProtocolsPerHandle

  // Platform protocols of this boot.
  std::unique_ptr<LIST_ENTRY> hookRegistry;
  PointerConversionLog pointerConversions;
  bool smmInSmm = false;
  std::map<std::vector<UINT8>, SmmHandler> smmHandlers; // keyed by GUID bytes
  size_t smmCommunicateCount = 0;
  size_t pcdMisses = 0;
  // The SMBIOS structure table, exactly sized so overreads are caught, each
  // record's place in it, and the entry point that publishes it.
  std::unique_ptr<UINT8[]> smbiosTable;
  std::vector<size_t> smbiosOffsets;
  std::vector<size_t> smbiosSizes;
  SMBIOS_TABLE_3_0_ENTRY_POINT smbiosEntryPoint{};
  std::unique_ptr<Authentication> authentication;

  // Installs Interface on a new handle of the boot-services database.
  void InstallOnNewHandle(const EFI_GUID &guid, VOID *interface);
  // Recomputes the table header CRCs after a change.
  void UpdateTableCrcs();
  // Points the system table at the configuration table vector.
  void PublishConfigurationTable();
  // Rebuilds the HOB list entry when the platform's HOBs changed.
  void SyncHobList();
};

// The state of the live Firmware, or NULL.
FirmwareState *ActiveState();

// Counts a boot-service call made after ExitBootServices; returns the state.
FirmwareState *EnterBootService();

// Runs Body, turning escaping C++ exceptions into statuses: none may cross
// an EFIAPI boundary.
template <typename Body> EFI_STATUS Guarded(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return EFI_OUT_OF_RESOURCES;
  } catch (...) {
    return EFI_DEVICE_ERROR;
  }
}

// Service table builders, one per source.
void FillBootServices(EFI_BOOT_SERVICES &table);
void FillProtocolServices(EFI_BOOT_SERVICES &table);
void FillEventServices(EFI_BOOT_SERVICES &table);
void FillRuntimeServices(EFI_RUNTIME_SERVICES &table);
void FillVariableServices(EFI_RUNTIME_SERVICES &table);
void FillSmst(EFI_SMM_SYSTEM_TABLE2 &table);
UINT32 Crc32(const VOID *data, size_t size);

// Variable services shared by the runtime table and the SMM variable protocol.
EFI_STATUS EFIAPI HostGetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 *Attributes,
                                  UINTN *DataSize, VOID *Data);
EFI_STATUS EFIAPI HostGetNextVariableName(UINTN *VariableNameSize, CHAR16 *VariableName,
                                          EFI_GUID *VendorGuid);
EFI_STATUS EFIAPI HostSetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 Attributes,
                                  UINTN DataSize, VOID *Data);
EFI_STATUS EFIAPI HostQueryVariableInfo(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                        UINT64 *RemainingVariableStorageSize,
                                        UINT64 *MaximumVariableSize);

} // namespace host

#endif
