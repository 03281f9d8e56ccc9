// Fuzz target for loading "_SPP": any bytes as the stored permission store.
//
// Checked on every input: a load either fails with no store and nothing
// left allocated, or gives a store whose entries are well-formed (ids of 1
// to 96 characters, none beginning with a digit) and whose own image loads
// back to the same entries; releasing it frees everything the load took.
#include <zelm/ZelmGuids.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/Entry.h"
#include "host/HostFirmware.h"
#include "permissions/PermissionImage.h"
#include "support/VariableAttributes.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    abort();
  }
}

struct Boot {
  host::Platform platform;
  std::unique_ptr<host::Firmware> firmware;
};

Boot &TheBoot() {
  static Boot *boot = [] {
    auto *b = new Boot;
    b->firmware = std::make_unique<host::Firmware>(b->platform);
    Check(b->firmware->RunImage(ZelmDriverEntry) == EFI_SUCCESS);
    return b;
  }();
  return *boot;
}

std::vector<std::string> Ids(PermissionStore *store) {
  std::vector<std::string> ids;
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    size_t length = strnlen(e->Id, e->IdSize);
    Check(length + 1 == e->IdSize && length <= 96);
    Check((e->DMask & kRemovalMark) == 0);
    Check(!(e->Id[0] >= '0' && e->Id[0] <= '9'));
    ids.push_back(std::string(e->Id) + char(e->PMask) + char(e->DMask));
  }
  return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Boot &boot = TheBoot();
  if (size == 0) {
    return 0;
  }
  host::Pool &pool = boot.firmware->BootPool();
  size_t live = pool.Stats().liveCount;
  boot.platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, kStoredVariableAttributes,
                            std::vector<UINT8>(data, data + size));
  EFI_STATUS status = LoadPermissionStore(nullptr);
  PermissionStore *store = CurrentPermissionStore();
  // The double logs every write; a long run must not grow without bound.
  boot.platform.ClearSetVariableLog();
  if (EFI_ERROR(status)) {
    Check(store == nullptr && pool.Stats().liveCount == live);
    return 0;
  }
  Check(store != nullptr);
  std::vector<std::string> ids = Ids(store);
  // Format 3 gives a store without delegation 0xF0; one whose only bit was
  // the removal mark (never kept) is left to no identity.
  Check(store->DefaultDMask != 0 || data[4] == 4 || data[46] == kRemovalMark);
  Check((store->DefaultDMask & kRemovalMark) == 0);

  // The store's own image reads back to the same entries.
  std::vector<UINT8> image(PermissionImageSize(store));
  WritePermissionImage(store, image.data());
  FreePermissionStore(store);
  SetCurrentPermissionStore(nullptr);
  Check(pool.Stats().liveCount == live);
  if (image.size() <= kPermissionStoreMaxSize) {
    boot.platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, kStoredVariableAttributes,
                              image);
    Check(LoadPermissionStore(nullptr) == EFI_SUCCESS);
    Check(Ids(CurrentPermissionStore()) == ids);
    FreePermissionStore(CurrentPermissionStore());
    SetCurrentPermissionStore(nullptr);
  }
  Check(pool.Stats().liveCount == live);
  boot.platform.ClearSetVariableLog();
  return 0;
}
