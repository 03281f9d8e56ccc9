// Fuzz target for the settings ApplyPacket: any payload under a valid
// signature, applied to a driver with a few providers and a group.
//
// Checked on every input: the call returns; the packet never stays pending;
// the mailbox is gone, the token released, the record's result fields
// cleared; a success is State 4 with a result variable that says so; and
// nothing the call allocated stays allocated.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzBoot.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"

namespace {

using fuzz::Check;

using fuzz::Values;

fuzz::FuzzBoot &TheBoot() {
  static fuzz::FuzzBoot *boot = [] {
    fuzz::FuzzBoot *b =
        fuzz::StartBoot(ZELM_IDENTITY_LOCAL | ZELM_IDENTITY_OWNER, gZelmSettingsApplyProtocolGuid);
    fuzz::RegisterFakeSettings(*b, {{"Device.A.Enable", ZELM_SETTING_TYPE_ENABLE, {0}},
                                    {"Device.Name", ZELM_SETTING_TYPE_STRING, {'n', 0}},
                                    {"Device.Blob", ZELM_SETTING_TYPE_BINARY, {1, 2}},
                                    {"Device.Cert", ZELM_SETTING_TYPE_CERT, {3}},
                                    {"Device.Keys", ZELM_SETTING_TYPE_SECUREBOOTKEYS, {0}},
                                    {"Device.Port", ZELM_SETTING_TYPE_USBPORT, {0}}});
    return b;
  }();
  return *boot;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FuzzBoot &boot = TheBoot();
  if (size < 1 || size > ZELM_MAX_PACKET_SIZE - 64) {
    return 0;
  }
  // The first byte picks the signer; the rest is the payload.
  const UINT8 signer = (data[0] & 1) != 0 ? ZELM_IDENTITY_OWNER : ZELM_IDENTITY_LOCAL;
  std::string payload(reinterpret_cast<const char *>(data + 1), size - 1);
  host::Pool &pool = boot.firmware->BootPool();
  {
    host::Delivery delivery(boot.platform, host::PacketKind::Settings,
                            host::SignPacket(payload, signer));
    // The floor stays low so that most inputs reach the settings.
    boot.platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
    const size_t live = pool.Stats().liveCount;
    ZELM_APPLY_PACKET *record = delivery.Record();
    EFI_STATUS status = boot.apply->ApplyPacket(boot.apply, record);
    Check(record->State != ZELM_PACKET_STATE_PENDING);
    Check(!delivery.MailboxPresent());
    Check(record->AuthToken == 0 && record->ResultText == nullptr && record->ResultSize == 0);
    std::vector<UINT8> result = delivery.ResultVariable();
    if (status == EFI_SUCCESS) {
      Check(record->State == ZELM_PACKET_STATE_APPLIED && record->Status == EFI_SUCCESS);
      Check(result.size() > 22 && result.back() == 0);
      EFI_STATUS stored = 0;
      memcpy(&stored, result.data() + 8, sizeof(stored));
      Check(stored == EFI_SUCCESS);
      Check(static_cast<size_t>(result[20] | result[21] << 8) == result.size() - 22);
    }
    Check(pool.Stats().liveCount == live);
  }
  boot.platform.EraseVariable(host::ResultName(host::PacketKind::Settings),
                              gZelmSettingsVariableGuid);
  // The double logs every write; a long run must not grow without bound.
  boot.platform.ClearSetVariableLog();
  return 0;
}
