// The one boot a fuzz target's inputs share: the firmware double with its
// authentication component, the driver started, and what each target adds
// (in-memory setting providers, a saved permission store to start every
// input from); or, for a target of one library routine, only the tables.
#ifndef ZELM_FUZZ_FUZZ_BOOT_H_
#define ZELM_FUZZ_FUZZ_BOOT_H_

#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <initializer_list>
#include <memory>
#include <vector>

#include "driver/Entry.h"
#include "fuzz/FakeProviders.h"
#include "fuzz/FuzzSupport.h"
#include "host/HostFirmware.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionStore.h"
#include "support/FirmwareTables.h"

namespace fuzz {

struct FuzzBoot {
  host::Platform platform;
  std::unique_ptr<host::Firmware> firmware;
  ZELM_APPLY_PACKET_PROTOCOL *apply = nullptr; // of the packet kind fuzzed
  std::vector<UINT8> spp;                      // the store every input starts from
};

// A fake provider's setting and its first value.
struct FakeSetting {
  const char *id;
  UINT32 type;
  std::vector<UINT8> value;
};

// A permission entry of the starting store.
struct StartingEntry {
  const char *id;
  UINT8 pMask;
  UINT8 dMask;
};

// An image entry that only takes the tables, for the targets that call one
// library routine of the driver without starting it.
inline EFI_STATUS EFIAPI TakeTables(EFI_HANDLE image, EFI_SYSTEM_TABLE *system) {
  gImageHandle = image;
  gST = system;
  gBS = system->BootServices;
  gRT = system->RuntimeServices;
  return EFI_SUCCESS;
}

// Starts the driver with Enrolled identities and finds the apply protocol
// of ApplyGuid.
inline FuzzBoot *StartBoot(UINT8 enrolled, const EFI_GUID &applyGuid) {
  auto *b = new FuzzBoot;
  b->platform.authentication.Enrol(enrolled);
  b->firmware = std::make_unique<host::Firmware>(b->platform);
  b->firmware->InstallAuthentication();
  Check(b->firmware->RunImage(ZelmDriverEntry) == EFI_SUCCESS);
  b->apply = static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(b->firmware->FindProtocol(applyGuid));
  Check(b->apply != nullptr);
  return b;
}

// Starts setting access and registers one in-memory provider per setting.
inline void RegisterFakeSettings(FuzzBoot &b, std::initializer_list<FakeSetting> settings) {
  b.firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  auto *support = static_cast<ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *>(
      b.firmware->FindProtocol(gZelmSettingProviderSupportProtocolGuid));
  Check(support != nullptr);
  for (const FakeSetting &setting : settings) {
    Values()[setting.id] = setting.value;
    // The support protocol keeps the id's pointer: ids are literals.
    ZELM_SETTING_PROVIDER provider = {setting.id, setting.type,  0, FakeSet, FakeGet,
                                      FakeGet,    FakeSetDefault};
    Check(support->RegisterProvider(support, &provider) == EFI_SUCCESS);
  }
}

// Adds Entries to the store, saves it and keeps its "_SPP" bytes in spp.
// Version and Lowest: the store's versions, 0 to keep them.
inline void SaveStartingStore(FuzzBoot &b, std::initializer_list<StartingEntry> entries,
                              UINT32 version = 0, UINT32 lowest = 0) {
  PermissionStore *store = CurrentPermissionStore();
  Check(store != nullptr);
  for (const StartingEntry &entry : entries) {
    Check(AddPermissionEntry(store, entry.id, entry.pMask, entry.dMask) == EFI_SUCCESS);
  }
  if (version != 0) {
    store->Version = version;
    store->LowestSupportedVersion = lowest;
  }
  store->Dirty = TRUE;
  Check(SavePermissionStore(store) == EFI_SUCCESS);
  b.spp = b.platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->data;
}

} // namespace fuzz

#endif
