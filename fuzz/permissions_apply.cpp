// Fuzz target for the permissions ApplyPacket: any payload, signed by an
// enrolled signer that the first byte picks, applied to a store with
// entries of every kind of ownership, then reported and kept (or
// discarded after a refusal) as the transport does.
//
// Checked on every input: the calls return; the packet never stays
// pending; the mailbox is gone and the token released; a success is State
// 4 with a result text of at most 8192 bytes; the store left behind holds
// only ids of 1 to 96 characters that do not begin with a digit and no
// DMask with the removal bit, fits "_SPP", and is exactly what "_SPP"
// loads back to; a refused packet leaves the store as it was; and nothing
// the packet allocated stays allocated.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzBoot.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "permissions/PermissionImage.h"
#include "support/VariableAttributes.h"

namespace {

using fuzz::Check;

fuzz::FuzzBoot &TheBoot() {
  static fuzz::FuzzBoot *boot = [] {
    fuzz::FuzzBoot *b = fuzz::StartBoot(0xFF, gZelmPermissionsApplyProtocolGuid);
    // Entries owned by each delegating bit, shared, and owned by nobody.
    fuzz::SaveStartingStore(*b,
                            {{"Device.A", 0x01, 0x80},
                             {"Device.B", 0x81, 0x90},
                             {"Device.C", 0x11, 0x10},
                             {"Device.D", 0x41, 0x60},
                             {"Device.E", 0x09, 0x00},
                             {"Device.F", 0xF9, 0x01}},
                            5, 2);
    return b;
  }();
  return *boot;
}

struct Stored {
  UINT32 version, lowest;
  UINT8 defaultPMask, defaultDMask;
  std::string entries; // id, PMask and DMask of each entry, in order
  bool operator==(const Stored &) const = default;
};

// The store's content, its invariants checked on the way.
Stored Read(PermissionStore *store) {
  Check(store != nullptr);
  Stored s = {store->Version, store->LowestSupportedVersion, store->DefaultPMask,
              store->DefaultDMask, ""};
  Check(s.version >= s.lowest);
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    Check(e->IdSize >= 2 && e->IdSize <= 97);
    Check(strnlen(e->Id, e->IdSize) + 1 == e->IdSize);
    Check(!(e->Id[0] >= '0' && e->Id[0] <= '9'));
    Check((e->DMask & 0x04) == 0);
    s.entries += std::string(e->Id) + '\0' + char(e->PMask) + char(e->DMask);
  }
  Check(PermissionImageSize(store) <= kPermissionStoreMaxSize);
  return s;
}

size_t EntryCount(PermissionStore *store) {
  size_t count = 0;
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    count++;
  }
  return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FuzzBoot &boot = TheBoot();
  if (size < 1 || size > ZELM_MAX_PACKET_SIZE - 64) {
    return 0;
  }
  // Every input starts from the same store, so a finding replays alone.
  boot.platform.PutVariable(u"_SPP", gZelmSettingsManagerVariableGuid, kStoredVariableAttributes,
                            boot.spp);
  Check(ReloadPermissionStore() == EFI_SUCCESS);
  const Stored start = Read(CurrentPermissionStore());
  host::Pool &pool = boot.firmware->BootPool();
  const size_t blocksBesideEntries = pool.Stats().liveCount - EntryCount(CurrentPermissionStore());
  // The first byte is the signer (every bit is enrolled); the rest is the
  // payload.
  const UINT8 signer = data[0];
  std::string payload(reinterpret_cast<const char *>(data + 1), size - 1);
  bool kept = false;
  {
    host::Delivery delivery(boot.platform, host::PacketKind::Permissions,
                            host::SignPacket(payload, signer));
    ZELM_APPLY_PACKET *record = delivery.Record();
    host::PermissionsOutcome outcome = host::RunPermissionsPacket(boot.apply, delivery);
    Check(record->State != ZELM_PACKET_STATE_PENDING);
    Check(record->AuthToken == 0);
    Check(!delivery.MailboxPresent());
    Check(record->PermissionsChanged == 0);
    Check(outcome.report == EFI_SUCCESS);
    if (outcome.apply == EFI_SUCCESS) {
      Check(record->State == ZELM_PACKET_STATE_APPLIED && record->Status == EFI_SUCCESS);
      Check(record->ResultText != nullptr && record->ResultSize >= 2 &&
            record->ResultSize <= 8192 && record->ResultText[record->ResultSize - 1] == '\0');
      Check(outcome.complete == EFI_SUCCESS);
      kept = true;
    } else {
      Check(record->ResultText == nullptr && record->ResultSize == 0);
    }
  }
  // What CompletePacket left is what "_SPP" loads.
  const Stored left = Read(CurrentPermissionStore());
  // A refused packet leaves no trace, not even part of a change.
  Check(kept || left == start);
  Check(ReloadPermissionStore() == EFI_SUCCESS);
  Check(Read(CurrentPermissionStore()) == left);
  Check(pool.Stats().liveCount - EntryCount(CurrentPermissionStore()) == blocksBesideEntries);
  boot.platform.EraseVariable(host::ResultName(host::PacketKind::Permissions),
                              gZelmPermissionVariableGuid);
  // The double logs every write; a long run must not grow without bound.
  boot.platform.ClearSetVariableLog();
  return 0;
}
