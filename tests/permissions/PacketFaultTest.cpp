// Fault sweeps over a permissions packet's three calls: every allocation
// and every variable access fails in turn. Afterwards "_SPP" holds exactly
// the permissions before or exactly those after, State and Status say
// which, memory decides as "_SPP" does (or, where a reload failed, there is
// no store at all), the published document is never stale, and nothing
// leaks.
#include <cstring>

#include "permissions/CurrentPermissions.h"
#include "permissions/PermissionImage.h"
#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::PacketTest;
using packettest::PacketXml;
using packettest::Snapshot;
using packettest::StoreState;

constexpr UINT8 kOwner = 0x80;

// A packet that touches every part of the store: replace mode drops
// Device.Gone, changes an entry, adds two and sets new defaults.
const std::string kPacket = PacketXml(8, 3, " Append=\"False\" Default=\"3\" Delegated=\"192\"",
                                      {{"Zelm.OwnerKey.Enum", 0x89},
                                       {"Zelm.ZtdKey.Enum", 0},
                                       {"Device.New", 0x11},
                                       {"Vendor.Other", 0x41, 0x40}});

enum class Fault { Pool, SetVariable, GetVariable };

class PacketFaultTest : public PacketTest {
protected:
  // A fresh boot whose "_SPP" holds the defaults and Device.Gone.
  void Fresh() {
    platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
    platform.EraseVariable(kPermissionCurrentVariableName, gZelmPermissionVariableGuid);
    platform.EraseVariable(host::ResultName(host::PacketKind::Permissions),
                           gZelmPermissionVariableGuid);
    BootWith();
    PermissionStore *store = CurrentPermissionStore();
    ASSERT_EQ(AddPermissionEntry(store, "Device.Gone", 1, 0x80), EFI_SUCCESS);
    store->Dirty = TRUE;
    ASSERT_EQ(SavePermissionStore(store), EFI_SUCCESS);
    ASSERT_EQ(PublishCurrentPermissions(TRUE), EFI_SUCCESS);
  }
  // Pool blocks not held by the driver's store (its record and entries).
  size_t BlocksBesideStore() {
    size_t live = firmware->BootPool().Stats().liveCount;
    PermissionStore *store = CurrentPermissionStore();
    return store == nullptr ? live : live - 1 - StoreState(store).entries.size();
  }
  std::vector<UINT8> Published() const { return PublishedPermissions(); }

  struct Result {
    Snapshot state;
    std::vector<UINT8> published;
  };
  // The packet run without faults: the state it leaves.
  Result CleanRun() {
    Fresh();
    auto packet = Deliver(kPacket, kOwner);
    host::PermissionsOutcome outcome = Run(*packet);
    EXPECT_EQ(outcome.complete, EFI_SUCCESS);
    return {Now(), Published()};
  }

  // Runs the packet with the n-th fault of Kind; FALSE when the run made
  // fewer than n attempts of that kind (the sweep is over).
  bool RunWithFault(Fault kind, size_t n, EFI_STATUS status, const Result &before,
                    const Result &after) {
    Fresh();
    auto packet = Deliver(kPacket, kOwner);
    const size_t blocks = BlocksBesideStore();
    host::Pool &pool = firmware->BootPool();
    const size_t failedBefore = pool.Stats().failedAllocations;
    size_t setCalls = platform.SetVariableLog().size();
    switch (kind) {
    case Fault::Pool:
      pool.FailNth(n);
      break;
    case Fault::SetVariable:
      platform.FailSetVariable(n, status);
      break;
    case Fault::GetVariable:
      platform.FailGetVariable(n, status);
      break;
    }
    host::PermissionsOutcome outcome = Run(*packet);
    bool injected = pool.Stats().failedAllocations != failedBefore;
    pool.ClearFaults();
    if (kind == Fault::SetVariable) {
      injected = platform.SetVariableLog().size() - setCalls >= n;
      platform.FailSetVariable(0, EFI_SUCCESS);
    }
    if (kind == Fault::GetVariable) {
      // Reads are not logged: sweep well past the reads one run makes.
      injected = n <= 24;
      platform.FailGetVariable(0, EFI_SUCCESS);
    }
    const ZELM_APPLY_PACKET &record = *packet->Record();
    const Snapshot now = Now();
    const bool kept = now.spp == after.state.spp;
    EXPECT_TRUE(kept || now.spp == before.state.spp) << "\"_SPP\" is a mix";
    if (kept) {
      EXPECT_EQ(outcome.apply, EFI_SUCCESS);
      EXPECT_EQ(record.State, 4u);
      EXPECT_EQ(record.Status, EFI_SUCCESS);
      EXPECT_EQ(outcome.complete, EFI_SUCCESS);
    } else {
      EXPECT_TRUE(EFI_ERROR(outcome.apply) || EFI_ERROR(outcome.complete));
      EXPECT_TRUE(record.State != 4 || EFI_ERROR(record.Status));
    }
    // Memory decides as "_SPP" does, or there is no store.
    if (now.hasStore) {
      Snapshot memory = now;
      EXPECT_EQ(memory, kept ? after.state : before.state);
    }
    // The published document is the new one, the old one only while "_SPP"
    // is old, or absent; never a document of other permissions.
    const std::vector<UINT8> published = Published();
    if (!published.empty()) {
      EXPECT_EQ(published, kept ? after.published : before.published);
    }
    EXPECT_EQ(auth->LiveTokens(), 0u);
    // The result variable never reports success for changes that are not
    // in "_SPP", nor carries their per-element results.
    const std::vector<UINT8> result = packet->ResultVariable();
    if (result.size() >= 20) {
      EFI_STATUS reported = 0;
      std::memcpy(&reported, result.data() + 8, sizeof(reported));
      EXPECT_EQ(EFI_ERROR(reported), !kept);
      if (!kept) {
        EXPECT_EQ(result.size(), 22u) << "no per-element results";
      }
    }
    // A keep whose save failed leaves the mailbox, so the transport delivers
    // the packet again at the next boot; every other end deletes it.
    const bool keepFailed = !EFI_ERROR(outcome.apply) && !kept;
    if (kind != Fault::SetVariable || keepFailed) {
      EXPECT_EQ(packet->MailboxPresent(), keepFailed)
          << "apply " << outcome.apply << " complete " << outcome.complete << " state "
          << record.State << " kept " << kept;
    }
    packet.reset();
    EXPECT_EQ(BlocksBesideStore(), blocks) << "leak";
    EXPECT_EQ(pool.Stats().invalidFrees, 0u);
    return injected;
  }
};

TEST_F(PacketFaultTest, EveryFailureLeavesOldOrNewPermissionsAndSaysWhich) {
  Fresh();
  const Result before = {Now(), Published()};
  const Result after = CleanRun();
  ASSERT_NE(before.state.spp, after.state.spp);
  struct Sweep {
    const char *name;
    Fault kind;
    EFI_STATUS status;
  };
  const Sweep sweeps[] = {
      {"pool", Fault::Pool, EFI_OUT_OF_RESOURCES},
      {"SetVariable device error", Fault::SetVariable, EFI_DEVICE_ERROR},
      {"SetVariable out of resources", Fault::SetVariable, EFI_OUT_OF_RESOURCES},
      {"GetVariable device error", Fault::GetVariable, EFI_DEVICE_ERROR},
  };
  for (const Sweep &sweep : sweeps) {
    size_t runs = 0;
    for (size_t n = 1; n < 500; n++) {
      SCOPED_TRACE(std::string(sweep.name) + " fault " + std::to_string(n));
      if (!RunWithFault(sweep.kind, n, sweep.status, before, after)) {
        break;
      }
      runs++;
    }
    EXPECT_GE(runs, 3u) << sweep.name;
  }
}

} // namespace
