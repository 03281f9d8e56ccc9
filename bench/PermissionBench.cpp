// zelm-permission-bench: permission decisions and loading "_SPP" on the
// firmware double, with the fullest store that fits the variable (2048
// bytes of two-character ids). Prints
//   haspermission-ns first <n>   (the id at the head of the entry list)
//   haspermission-ns last <n>    (the id at its tail)
//   load-spp-us <n>              (format 4, so no migration)
// each the minimum over repetitions, and the pool allocations of one load.
// Then, on a boot of its own, the largest permissions packet whose results
// still fit 8192 bytes (owner-signed, append mode, one element per
// two-character id) applied and kept:
//   ratio perm-apply/parse <x>   (ApplyPacket + CompletePacket 2 against
//                                 XmlParse of the same payload, best runs)
//   ratio perm-apply/parse own <x> (the same without the time spent in the
//                                 variable services)
//   perm-apply-us <us>
//   setvariable-calls perm-keep <n> (writes of the three calls for a kept
//                                 packet that leaves the defaults alone)
//   getvariable-calls perm-keep <n>
//   peak-pool-bytes perm-keep <bytes>
//   pool-allocations perm-keep <n>, and perm-parse <n> (the pool blocks of
//                                 the kept packet, and of parsing its payload)
// Signatures are checked by a stub that accepts them all: the verifier's
// cost belongs to the authentication component, not to the driver.
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchAuthentication.h"
#include "bench/CallCost.h"
#include "bench/PlatformTime.h"
#include "driver/Entry.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "permissions/Identities.h"
#include "permissions/PermissionCheck.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionsPacket.h"
#include "xml/Xml.h"

namespace {

// The ids of the fullest store: 49 + 6 * n bytes <= 2048.
std::vector<std::string> FullestIds() {
  const char first[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  const char second[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::vector<std::string> ids;
  for (size_t i = 0; (49 + 6 * (ids.size() + 1)) <= kPermissionStoreMaxSize; i++) {
    ids.push_back(std::string{first[i / 36], second[i % 36]});
  }
  return ids;
}

template <typename F> double MinimumNs(int repetitions, int iterations, F &&body) {
  double best = 1e18;
  for (int r = 0; r < repetitions; r++) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; i++) {
      body();
    }
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count() / iterations);
  }
  return best;
}

// Bytes of the results of Count elements with two-character ids, NUL
// included: the template with "AppliedOn" and "Permissions", then one
// "PermissionResult" of 68 bytes each.
size_t ResultBytes(size_t count) {
  const std::string empty = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResultsPacket>"
                            "<AppliedOn>2026-12-09T10:20:30</AppliedOn><Permissions>"
                            "</Permissions></ResultsPacket>";
  const std::string one = "<PermissionResult><Id>AA</Id><Result>0x0</Result></PermissionResult>";
  return empty.size() + count * one.size() + 1;
}

std::string PacketXml(const std::vector<std::string> &ids, int pMask) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket>"
                    "<Version>1</Version><LowestSupportedVersion>1</LowestSupportedVersion>"
                    "<Permissions Append=\"True\">";
  for (const std::string &id : ids) {
    xml +=
        "<Permission><Id>" + id + "</Id><PMask>" + std::to_string(pMask) + "</PMask></Permission>";
  }
  return xml + "</Permissions></PermissionsPacket>";
}

// The largest packet applied and kept, against parsing its payload, and
// the variable writes of one kept packet.
int PacketApply() {
  host::Platform platform;
  platform.poolKind = host::PoolKind::kFirmware; // no fills, no block table
  platform.SetClock(2026, 12, 9, 10, 20, 30);
  host::Firmware firmware(platform);
  PlatformTime::Wrap(firmware.RuntimeServices());
  if (firmware.RunImage(ZelmDriverEntry) != EFI_SUCCESS ||
      firmware.InstallProtocol(
          gZelmAuthenticationProtocolGuid,
          BenchAuthentication<ZELM_IDENTITY_OWNER, ZELM_IDENTITY_OWNER>::Protocol()) !=
          EFI_SUCCESS ||
      CurrentPermissionStore() == nullptr) {
    std::fprintf(stderr, "zelm-permission-bench: the driver did not start its store\n");
    return 1;
  }
  auto *apply = static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(
      firmware.FindProtocol(gZelmPermissionsApplyProtocolGuid));
  std::vector<std::string> ids = FullestIds();
  size_t count = 0;
  while (count < ids.size() && ResultBytes(count + 1) <= ZELM_MAX_RESULT_SIZE) {
    count++;
  }
  ids.resize(count);
  // Two payloads that differ in every PMask, so each kept packet changes
  // the store and "_SPP" is written every time.
  const std::string xmlA = PacketXml(ids, 1);
  const std::string xmlB = PacketXml(ids, 3);

  double parseNs = 1e18;
  for (int r = 0; r < 200; r++) {
    auto start = std::chrono::steady_clock::now();
    XmlNode *root = nullptr;
    if (XmlParse(xmlA.c_str(), xmlA.size(), &root) != EFI_SUCCESS) {
      return 1;
    }
    (void)XmlFreeTree(&root);
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    parseNs = std::min(parseNs, elapsed.count());
  }

  // One packet through the three calls: the cost of ApplyPacket and
  // CompletePacket, failed unless the packet was applied and kept with
  // results of the expected size.
  auto keepOnce = [&](const std::string &xml) {
    host::Delivery delivery(platform, host::PacketKind::Permissions,
                            host::SignPacket(xml, ZELM_IDENTITY_OWNER));
    ZELM_APPLY_PACKET *record = delivery.Record();
    CallMeter meter(platform, firmware);
    EFI_STATUS status = meter.Time([&] { return apply->ApplyPacket(apply, record); });
    EFI_STATUS report = apply->ReportResult(apply, record);
    EFI_STATUS complete = meter.Time([&] { return apply->CompletePacket(apply, record, 2); });
    return meter.Cost(status == EFI_SUCCESS && report == EFI_SUCCESS && complete == EFI_SUCCESS &&
                      record->ResultSize == ResultBytes(count));
  };
  if (keepOnce(xmlA).ns < 0) { // the first one adds the entries
    std::fprintf(stderr, "zelm-permission-bench: the packet was not applied\n");
    return 1;
  }
  CallCost best{1e18};
  for (int r = 0; r < 30; r++) {
    for (const std::string *xml : {&xmlB, &xmlA}) {
      const CallCost cost = keepOnce(*xml);
      if (cost.ns < 0) {
        std::fprintf(stderr, "zelm-permission-bench: the packet was not applied\n");
        return 1;
      }
      best = cost.ns < best.ns ? cost : best;
    }
  }
  const PermissionStore *store = CurrentPermissionStore();
  std::printf("packet: %zu elements, %zu bytes, results %zu bytes, parse %.1f us\n", count,
              xmlA.size(), ResultBytes(count), parseNs / 1000.0);
  std::printf("ratio perm-apply/parse %.2f\n", best.ns / parseNs);
  std::printf("ratio perm-apply/parse own %.2f\n", best.ownNs / parseNs);
  std::printf("perm-apply-us %.1f\n", best.ns / 1000.0);
  std::printf("setvariable-calls perm-keep %zu\n", best.writes);
  std::printf("getvariable-calls perm-keep %zu\n", best.reads);
  std::printf("peak-pool-bytes perm-keep %zu\n", best.peakPool);
  std::printf("pool-allocations perm-keep %zu\n", best.allocations);
  std::printf("pool-allocations perm-parse %zu\n", ParseAllocations(firmware, xmlA));
  return store->DefaultPMask == kDefaultPMask && store->DefaultDMask == kDefaultDMask ? 0 : 1;
}

// Permission decisions and loading "_SPP" on the fullest store.
int DecisionsAndLoad() {
  host::Platform platform;
  platform.poolKind = host::PoolKind::kFirmware; // no fills, no block table
  host::Firmware firmware(platform);
  if (firmware.RunImage(ZelmDriverEntry) != EFI_SUCCESS ||
      firmware.InstallProtocol(gZelmAuthenticationProtocolGuid,
                               BenchAuthentication<ZELM_IDENTITY_LOCAL, 0>::Protocol()) !=
          EFI_SUCCESS ||
      CurrentPermissionStore() == nullptr) {
    std::fprintf(stderr, "zelm-permission-bench: the driver did not start its store\n");
    return 1;
  }
  PermissionStore *store = CurrentPermissionStore();
  std::vector<std::string> ids = FullestIds();
  for (const std::string &id : ids) {
    if (SetPermissionEntry(store, id.c_str(), 0x01, 0x80) != EFI_SUCCESS) {
      return 1;
    }
  }
  // The default entries go, so the store is exactly the generated ids.
  for (const char *id : {"Zelm.OwnerKey.Enum", "Zelm.ZtdKey.Enum", "Zelm.ZtdUnenroll.Enable",
                         "Zelm.Ztd.Recovery.Enable"}) {
    RemovePermissionEntry(store, FindPermissionEntry(store, id));
  }
  store->Dirty = TRUE;
  if (SavePermissionStore(store) != EFI_SUCCESS) {
    std::fprintf(stderr, "zelm-permission-bench: the store was not saved\n");
    return 1;
  }
  size_t image = platform.FindVariable(u"_SPP", gZelmSettingsManagerVariableGuid)->data.size();
  std::printf("store: %zu entries, \"_SPP\" %zu bytes\n", ids.size(), image);

  ZELM_AUTH_TOKEN token = 1;
  BOOLEAN allowed = FALSE;
  volatile BOOLEAN sink = FALSE;
  for (const char *which : {"first", "last"}) {
    const std::string &id = which[0] == 'f' ? ids.front() : ids.back();
    double ns = MinimumNs(20, 20000, [&] {
      (void)HasPermission(id.c_str(), &token, &allowed);
      sink = allowed;
    });
    std::printf("haspermission-ns %s %.1f\n", which, ns);
  }
  (void)sink;

  FreePermissionStore(store);
  SetCurrentPermissionStore(nullptr);
  host::Pool &pool = firmware.BootPool();
  size_t before = pool.Stats().totalAllocations;
  if (LoadPermissionStore(nullptr) != EFI_SUCCESS) {
    return 1;
  }
  size_t allocations = pool.Stats().totalAllocations - before;
  double us = MinimumNs(20, 200,
                        [&] {
                          FreePermissionStore(CurrentPermissionStore());
                          SetCurrentPermissionStore(nullptr);
                          (void)LoadPermissionStore(nullptr);
                        }) /
              1000.0;
  std::printf("load-spp-us %.2f\n", us);
  std::printf("load-spp allocations %zu (variable copy + store + %zu entries = %zu)\n", allocations,
              ids.size(), ids.size() + 2);
  FreePermissionStore(CurrentPermissionStore());
  SetCurrentPermissionStore(nullptr);
  return 0;
}

} // namespace

int main() {
  return DecisionsAndLoad() != 0 || PacketApply() != 0 ? 1 : 0;
}
