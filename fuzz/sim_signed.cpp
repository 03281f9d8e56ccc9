// Fuzz target for the simulator's --signed packet reader: any bytes as the
// file of an already signed packet, delivered and applied as
// `zelm-sim apply settings|permissions --signed FILE` does, with real
// (OpenSSL) signature checks against the owner's and the local key.
//
// Input: byte 0 holds options (bit 0: a permissions packet, else
// settings; bit 1: sign the rest as a payload with the owner's key, so
// that the fuzzer also reaches the driver past the signature); the rest is
// the file.
//
// Checked on every input: the packet never stays pending; a file the
// fuzzer made alone (no key signed it) is never applied; nothing leaks.
#include <zelm/ZelmApplyPacket.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/HostPlatform.h"
#include "tools/zelm-sim/SimApply.h"
#include "tools/zelm-sim/SimAuthentication.h"
#include "tools/zelm-sim/SimBoot.h"

namespace {

using fuzz::Check;

sim::KeyStore &Keys() {
  static sim::KeyStore *keys = [] {
    // In the working directory, made on first use and kept for later runs.
    auto *k = new sim::KeyStore("zelm-fuzz-keys");
    std::string error;
    Check(k->Ensure(sim::Identity::Owner, &error) && k->Ensure(sim::Identity::Local, &error));
    return k;
  }();
  return *keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0;
  }
  sim::KeyStore &keys = Keys();
  const uint8_t options = data[0];
  std::vector<UINT8> packet(data + 1, data + size);
  const bool signedByKey = (options & 2) != 0;
  if (signedByKey) {
    std::string error;
    std::string payload(packet.begin(), packet.end());
    packet = keys.SignPacket(payload, sim::Identity::Owner, &error);
    if (packet.empty()) {
      return 0; // a payload too large to sign
    }
  }
  host::Platform platform;
  platform.authentication.Enrol(ZELM_IDENTITY_OWNER | ZELM_IDENTITY_LOCAL);
  sim::PreparePlatform(platform);
  sim::SimBoot boot(platform, keys);
  Check(boot.Start());
  sim::ApplyOptions applyOptions;
  applyOptions.kind =
      (options & 1) != 0 ? host::PacketKind::Permissions : host::PacketKind::Settings;
  sim::ApplyOutcome outcome = sim::ApplyPacket(boot, packet, applyOptions);
  Check(outcome.state != ZELM_PACKET_STATE_PENDING);
  if (!signedByKey) {
    Check(!outcome.Applied() && outcome.state != ZELM_PACKET_STATE_AUTHENTICATED);
  }
  return 0;
}
