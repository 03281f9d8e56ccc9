// zelm-permission-bench: permission decisions and loading "_SPP" on the
// firmware double, with the fullest store that fits the variable (2048
// bytes of two-character ids). Prints
//   haspermission-ns first <n>   (the id at the head of the entry list)
//   haspermission-ns last <n>    (the id at its tail)
//   load-spp-us <n>              (format 4, so no migration)
// each the minimum over repetitions, and the pool allocations of one load.
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver/Entry.h"
#include "host/HostFirmware.h"
#include "permissions/Identities.h"
#include "permissions/PermissionCheck.h"
#include "permissions/PermissionImage.h"

namespace {

// An authentication component that answers every token with the local
// identity, as fast as a firmware one could.
EFI_STATUS EFIAPI Enrolled(ZELM_AUTHENTICATION_PROTOCOL *, UINT8 *mask) {
  *mask = 0;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI Identity(ZELM_AUTHENTICATION_PROTOCOL *, ZELM_AUTH_TOKEN *,
                           ZELM_IDENTITY_PROPERTIES *properties) {
  properties->IdentityMask = ZELM_IDENTITY_LOCAL;
  return EFI_SUCCESS;
}
ZELM_AUTHENTICATION_PROTOCOL gAuthentication = {Enrolled, nullptr,  nullptr,
                                                nullptr,  Identity, nullptr};

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

} // namespace

int main() {
  host::Platform platform;
  host::Firmware firmware(platform);
  if (firmware.RunImage(ZelmDriverEntry) != EFI_SUCCESS ||
      firmware.InstallProtocol(gZelmAuthenticationProtocolGuid, &gAuthentication) != EFI_SUCCESS ||
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
