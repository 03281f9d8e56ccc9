// Fuzz target for loading "_SMID": any bytes as the stored version floor,
// then a signed settings packet whose versions come from the input.
//
// Input: byte 0 picks the attributes (0: the store's own, 3; otherwise the
// byte itself), bytes 1-4 and 5-8 the packet's Version and
// LowestSupportedVersion; the rest is the variable.
//
// Checked on every input: the load agrees with a model of the layout (45
// bytes: "SMID", layout 1, Version, LowestSupportedVersion, two times)
// on its status and values; the packet is refused with State 240 exactly
// when it is below the floor that was loaded (0 when nothing usable was
// stored) and with 253 when its own versions disagree; a refused packet
// leaves "_SMID" as it was; an applied one leaves a floor that never went
// down; nothing stays allocated.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzBoot.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "settings/SettingsManagerData.h"

namespace {

using fuzz::Check;

fuzz::FuzzBoot &TheBoot() {
  static fuzz::FuzzBoot *boot = [] {
    fuzz::FuzzBoot *b = fuzz::StartBoot(ZELM_IDENTITY_OWNER, gZelmSettingsApplyProtocolGuid);
    b->firmware->SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
    return b;
  }();
  return *boot;
}

uint32_t U32(const std::vector<UINT8> &bytes, size_t at) {
  uint32_t value = 0;
  memcpy(&value, bytes.data() + at, sizeof(value));
  return value;
}

struct Model {
  EFI_STATUS status;
  uint32_t version = 0, lowest = 0;
};

Model Expected(const std::vector<UINT8> &bytes, uint32_t attributes) {
  if (bytes.size() < 5 || attributes != 3) {
    return {EFI_NOT_FOUND};
  }
  if (memcmp(bytes.data(), "SMID", 4) != 0) {
    return {EFI_COMPROMISED_DATA};
  }
  if (bytes[4] != 1) {
    return {EFI_UNSUPPORTED};
  }
  if (bytes.size() != 45 || U32(bytes, 5) < U32(bytes, 9)) {
    return {EFI_COMPROMISED_DATA};
  }
  return {EFI_SUCCESS, U32(bytes, 5), U32(bytes, 9)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::FuzzBoot &boot = TheBoot();
  fuzz::Input in(data, size);
  const uint8_t pick = in.Byte();
  const uint32_t attributes = pick == 0 ? 3u : pick;
  const uint32_t packetVersion = static_cast<uint32_t>(in.Take(4));
  const uint32_t packetLowest = static_cast<uint32_t>(in.Take(4));
  const std::vector<UINT8> stored(in.Rest(), in.Rest() + in.Left());
  host::Pool &pool = boot.firmware->BootPool();
  const size_t live = pool.Stats().liveCount;

  // A variable the firmware would not keep (no boot-service access, or
  // empty) cannot be stored at all.
  const bool present = !stored.empty() && (attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) != 0;
  if (present) {
    boot.platform.PutVariable(u"_SMID", gZelmSettingsManagerVariableGuid, attributes, stored);
  } else {
    boot.platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
  }
  const Model model = present ? Expected(stored, attributes) : Model{EFI_NOT_FOUND};
  ZELM_SETTINGS_MANAGER_DATA loaded = {};
  EFI_STATUS status = LoadSettingsManagerData(&loaded);
  Check(status == model.status);
  if (status == EFI_SUCCESS) {
    Check(loaded.Version == model.version && loaded.LowestSupportedVersion == model.lowest &&
          !loaded.Dirty);
  }
  Check(SettingsManagerDataAbsent(status) || status == EFI_SUCCESS);
  Check(pool.Stats().liveCount == live);

  const uint32_t floor = model.lowest;
  std::string payload = "<?xml version=\"1.0\"?><SettingsPacket><Version>" +
                        std::to_string(packetVersion) + "</Version><LowestSupportedVersion>" +
                        std::to_string(packetLowest) +
                        "</LowestSupportedVersion><Settings /></SettingsPacket>";
  {
    host::Delivery delivery(boot.platform, host::PacketKind::Settings,
                            host::SignPacket(payload, ZELM_IDENTITY_OWNER));
    ZELM_APPLY_PACKET *record = delivery.Record();
    EFI_STATUS applied = boot.apply->ApplyPacket(boot.apply, record);
    const host::Variable *after =
        boot.platform.FindVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
    if (floor > packetVersion) {
      Check(record->State == ZELM_PACKET_STATE_VERSION_TOO_LOW &&
            record->Status == EFI_ACCESS_DENIED);
    } else if (packetLowest > packetVersion) {
      Check(record->State == ZELM_PACKET_STATE_BAD_LENGTH && record->Status == EFI_NO_MAPPING);
    } else {
      Check(applied == EFI_SUCCESS && record->State == ZELM_PACKET_STATE_APPLIED);
      Check(after != nullptr && after->attributes == 3 && after->data.size() == 45);
      Check(U32(after->data, 5) == packetVersion);
      Check(U32(after->data, 9) == (packetLowest > floor ? packetLowest : floor));
    }
    if (applied != EFI_SUCCESS) {
      // A refused packet leaves the stored floor exactly as it was.
      Check(present ? (after != nullptr && after->data == stored && after->attributes == attributes)
                    : after == nullptr);
    }
  }
  Check(pool.Stats().liveCount == live);
  boot.platform.EraseVariable(host::ResultName(host::PacketKind::Settings),
                              gZelmSettingsVariableGuid);
  boot.platform.ClearSetVariableLog();
  return 0;
}
