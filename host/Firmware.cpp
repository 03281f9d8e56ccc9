#include "host/HostFirmware.h"

#include <uefi/Pi/PiHob.h>
#include <uefi/UefiGuids.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/FirmwareState.h"
#include "support/FirmwareTables.h"

namespace host {

namespace {

Firmware *gCurrent = nullptr;

CHAR16 kVendor[] = u"Zelm host firmware";

// UEFI 2.10 section 7.1 (CreateEventEx): the end-of-DXE group of PI 1.8.
const EFI_GUID kEndOfDxeGroup = {
    0x02ce967a, 0xdd7e, 0x4ffc, {0x9e, 0xe7, 0x81, 0x0c, 0xf0, 0x47, 0x08, 0x80}};

} // namespace

FirmwareState *ActiveState() {
  return gCurrent != nullptr ? &gCurrent->State() : nullptr;
}

FirmwareState *EnterBootService() {
  FirmwareState *state = ActiveState();
  if (state != nullptr && !state->bootServicesActive) {
    state->callsAfterExit++;
  }
  return state;
}

void FirmwareState::InstallOnNewHandle(const EFI_GUID &guid, VOID *interface) {
  EFI_HANDLE handle = nullptr;
  EFI_TPL old = events.Raise(std::max<EFI_TPL>(events.Current(), TPL_NOTIFY));
  EFI_STATUS status = protocols.Install(&handle, &guid, EFI_NATIVE_INTERFACE, interface);
  events.Restore(old);
  if (EFI_ERROR(status)) {
    throw std::logic_error("protocol could not be installed");
  }
}

void FirmwareState::UpdateTableCrcs() {
  bootServices.Hdr.CRC32 = 0;
  bootServices.Hdr.CRC32 = Crc32(&bootServices, sizeof(bootServices));
  runtimeServices.Hdr.CRC32 = 0;
  runtimeServices.Hdr.CRC32 = Crc32(&runtimeServices, sizeof(runtimeServices));
  systemTable.Hdr.CRC32 = 0;
  systemTable.Hdr.CRC32 = Crc32(&systemTable, sizeof(systemTable));
}

void FirmwareState::PublishConfigurationTable() {
  systemTable.NumberOfTableEntries = configurationTable.size();
  systemTable.ConfigurationTable = configurationTable.empty() ? nullptr : configurationTable.data();
  UpdateTableCrcs();
}

void FirmwareState::SyncHobList() {
  if (hobGeneration == platform.HobGeneration()) {
    return;
  }
  hobGeneration = platform.HobGeneration();
  auto entry = std::find_if(
      configurationTable.begin(), configurationTable.end(),
      [](const EFI_CONFIGURATION_TABLE &t) { return GuidEqual(t.VendorGuid, gEfiHobListGuid); });
  if (entry != configurationTable.end()) {
    configurationTable.erase(entry);
  }
  if (hobList) {
    oldHobLists.push_back(std::move(hobList));
  }
  hobListSize = 0;
  if (platform.HasHobList()) {
    std::vector<UINT8> list = platform.BuildHobList();
    hobListSize = list.size();
    hobList.reset(new UINT8[list.size()]);
    std::memcpy(hobList.get(), list.data(), list.size());
    // The handoff HOB states where the list ends, as PEI leaves it: the
    // address of the end-of-list HOB (the end of its bytes when it has
    // none).
    constexpr size_t kEndOfHobListOffset = 48;
    UINT64 end = reinterpret_cast<UINTN>(hobList.get()) + list.size() -
                 (platform.terminateHobList ? sizeof(EFI_HOB_GENERIC_HEADER) : 0);
    std::memcpy(hobList.get() + kEndOfHobListOffset, &end, sizeof(end));
    configurationTable.insert(configurationTable.begin(),
                              EFI_CONFIGURATION_TABLE{gEfiHobListGuid, hobList.get()});
  }
  PublishConfigurationTable();
}

Firmware::Firmware(Platform &platform) {
  if (gCurrent != nullptr) {
    throw std::logic_error("only one host::Firmware may live at a time");
  }
  state_ = std::make_unique<FirmwareState>(platform);
  FirmwareState &s = *state_;
  platform.BeginBoot();

  s.bootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  s.bootServices.Hdr.Revision = (2u << 16) | 100u;
  s.bootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  FillBootServices(s.bootServices);
  FillEventServices(s.bootServices);
  FillProtocolServices(s.bootServices);

  s.runtimeServices.Hdr.Signature = EFI_RUNTIME_SERVICES_SIGNATURE;
  s.runtimeServices.Hdr.Revision = (2u << 16) | 100u;
  s.runtimeServices.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  FillRuntimeServices(s.runtimeServices);
  FillVariableServices(s.runtimeServices);

  s.systemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  s.systemTable.Hdr.Revision = (2u << 16) | 100u;
  s.systemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  s.systemTable.FirmwareVendor = kVendor;
  s.systemTable.FirmwareRevision = 0x00010000;
  s.systemTable.BootServices = &s.bootServices;
  s.systemTable.RuntimeServices = &s.runtimeServices;
  FillSmst(s.smst);

  s.SyncHobList();

  s.protocols.signalEvent = [&s](EFI_EVENT event) { s.events.Signal(event); };
  s.events.onClose = [&s](EFI_EVENT event) { s.protocols.DropEventRegistrations(event); };
  gCurrent = this;
}

Firmware::~Firmware() {
  FirmwareState &s = *state_;
  BootReport report;
  report.boot = s.platform.BootCount();
  report.openEvents = s.events.OpenCount();
  report.invalidFrees = s.bootPool.Stats().invalidFrees + s.smmPool.Stats().invalidFrees;
  report.tplViolations = s.events.Violations();
  report.bootServiceCallsAfterExit = s.callsAfterExit;
  report.leakedBlocks = s.bootPool.ReleaseAll();
  for (const PoolBlock &block : report.leakedBlocks) {
    report.leakedBytes += block.size;
  }
  report.smmLeakedBlocks = s.smmPool.ReleaseAll().size();
  for (const auto &pages : s.pageCounts) {
    std::free(reinterpret_cast<VOID *>(pages.first));
  }
  s.pageCounts.clear();
  s.platform.EndBoot(std::move(report));
  // The driver's saved pointers would dangle; a later use then faults plainly.
  if (gST == &s.systemTable) {
    gST = nullptr;
  }
  if (gBS == &s.bootServices) {
    gBS = nullptr;
  }
  if (gRT == &s.runtimeServices) {
    gRT = nullptr;
  }
  gImageHandle = nullptr;
  gCurrent = nullptr;
}

Firmware *Firmware::Current() {
  return gCurrent;
}

Platform &Firmware::GetPlatform() {
  return state_->platform;
}
EFI_SYSTEM_TABLE *Firmware::SystemTable() {
  return &state_->systemTable;
}
EFI_BOOT_SERVICES *Firmware::BootServices() {
  return &state_->bootServices;
}
EFI_RUNTIME_SERVICES *Firmware::RuntimeServices() {
  return &state_->runtimeServices;
}

EFI_HANDLE Firmware::LoadImage(EFI_MEMORY_TYPE codeType) {
  auto image = std::make_unique<EFI_LOADED_IMAGE_PROTOCOL>();
  *image = EFI_LOADED_IMAGE_PROTOCOL{};
  image->Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  image->SystemTable = &state_->systemTable;
  image->ImageCodeType = codeType;
  image->ImageDataType =
      codeType == EfiRuntimeServicesCode ? EfiRuntimeServicesData : EfiBootServicesData;
  EFI_HANDLE handle = nullptr;
  if (EFI_ERROR(InstallProtocol(gEfiLoadedImageProtocolGuid, image.get(), &handle))) {
    throw std::logic_error("image handle could not be made");
  }
  state_->images[handle] = std::move(image);
  return handle;
}

EFI_LOADED_IMAGE_PROTOCOL *Firmware::LoadedImage(EFI_HANDLE image) {
  auto it = state_->images.find(image);
  return it == state_->images.end() ? nullptr : it->second.get();
}

EFI_STATUS Firmware::StartImage(EFI_HANDLE image, EFI_IMAGE_ENTRY_POINT entry) {
  // HOBs a test adds after making the boot still exist before its image runs.
  state_->SyncHobList();
  return entry(image, &state_->systemTable);
}

EFI_STATUS Firmware::RunImage(EFI_IMAGE_ENTRY_POINT entry, EFI_MEMORY_TYPE codeType,
                              EFI_HANDLE *image) {
  EFI_HANDLE handle = LoadImage(codeType);
  if (image != nullptr) {
    *image = handle;
  }
  return StartImage(handle, entry);
}

void Firmware::SignalEventGroup(const EFI_GUID &group) {
  state_->events.SignalGroup(group);
}

void Firmware::EndOfDxe() {
  if (!state_->endOfDxe) {
    state_->endOfDxe = true;
    SignalEventGroup(kEndOfDxeGroup);
  }
}

void Firmware::ReadyToBoot() {
  EndOfDxe();
  SignalEventGroup(gEfiEventReadyToBootGuid);
}

void Firmware::ExitBootServices() {
  if (!state_->bootServicesActive) {
    return;
  }
  SignalEventGroup(gEfiEventExitBootServicesGuid);
  state_->bootServicesActive = false;
}

bool Firmware::BootServicesActive() const {
  return state_->bootServicesActive;
}
size_t Firmware::BootServiceCallsAfterExit() const {
  return state_->callsAfterExit;
}

EFI_STATUS Firmware::InstallProtocol(const EFI_GUID &guid, VOID *interface, EFI_HANDLE *handle) {
  EFI_HANDLE local = nullptr;
  EFI_HANDLE *target = handle != nullptr ? handle : &local;
  EFI_GUID copy = guid;
  return state_->bootServices.InstallProtocolInterface(target, &copy, EFI_NATIVE_INTERFACE,
                                                       interface);
}

EFI_STATUS Firmware::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, VOID *interface) {
  EFI_GUID copy = guid;
  return state_->bootServices.UninstallProtocolInterface(handle, &copy, interface);
}

VOID *Firmware::FindProtocol(const EFI_GUID &guid) const {
  for (const ProtocolRecord &record : state_->protocols.Records()) {
    if (GuidEqual(record.guid, guid)) {
      return record.interface;
    }
  }
  return nullptr;
}

bool Firmware::HasProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const {
  for (const EFI_GUID &on : state_->protocols.GuidsOn(handle)) {
    if (GuidEqual(on, guid)) {
      return true;
    }
  }
  return false;
}

std::vector<ProtocolRecord> Firmware::Protocols() const {
  return state_->protocols.Records();
}
size_t Firmware::HandleCount() const {
  return state_->protocols.Handles().size();
}
size_t Firmware::NotifyRegistrationCount() const {
  return state_->protocols.RegistrationCount();
}

size_t Firmware::OpenEventCount() const {
  return state_->events.OpenCount();
}
EFI_TPL Firmware::CurrentTpl() const {
  return state_->events.Current();
}
size_t Firmware::TplViolations() const {
  return state_->events.Violations();
}

void Firmware::AddMemoryMapRange(UINT64 start, UINT64 pages, EFI_MEMORY_TYPE type) {
  EFI_MEMORY_DESCRIPTOR descriptor{};
  descriptor.Type = type;
  descriptor.PhysicalStart = start;
  descriptor.NumberOfPages = pages;
  state_->memoryMapRanges.push_back(descriptor);
}

Pool &Firmware::BootPool() {
  return state_->bootPool;
}
Pool &Firmware::SmmPool() {
  return state_->smmPool;
}

VOID *Firmware::FindConfigurationTable(const EFI_GUID &guid) const {
  state_->SyncHobList();
  for (const EFI_CONFIGURATION_TABLE &entry : state_->configurationTable) {
    if (GuidEqual(entry.VendorGuid, guid)) {
      return entry.VendorTable;
    }
  }
  return nullptr;
}

const UINT8 *Firmware::HobList() const {
  return state_->hobList.get();
}
size_t Firmware::HobListSize() const {
  return state_->hobListSize;
}

} // namespace host
