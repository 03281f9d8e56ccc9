// zelm-settings-bench: ApplyPacket of a settings packet on the firmware
// double against XmlParse of the same payload, with every setting
// unchanged and with every setting changed. Two payloads:
//   many   as many Enable settings as keep the results under 8192 bytes;
//   large  near the 24 KiB packet limit, few settings with long string and
//          certificate values.
// Prints, per payload (the "large" lines carry "large"):
//   ratio apply/parse [large] unchanged|changed <x>
//   ratio apply/parse own [large] unchanged|changed <x>   (without the
//       time spent in the variable services and the providers)
//   apply-us [large] unchanged|changed <us>
//   setvariable-calls|getvariable-calls [large] unchanged|changed <n>
//   peak-pool-bytes apply [large] changed <bytes>
//   pool-allocations apply [large] changed <n>, and parse [large] <n> (the
//       pool blocks of the packet, and of parsing its payload)
// The providers keep their values in variables and write only a changed
// value, as platform providers do. Signatures are checked by a stub that
// accepts them all: the verifier's cost belongs to the platform's
// authentication component, not to the driver measured here.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchAuthentication.h"
#include "bench/CallCost.h"
#include "bench/PlatformTime.h"
#include "driver/Entry.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "xml/Xml.h"

namespace {

constexpr EFI_GUID kValueGuid = {
    0x5b1c3a52, 0x7d2e, 0x4c41, {0x9a, 0x60, 0x21, 0x3e, 0x8d, 0x44, 0x17, 0x05}};

std::u16string WideName(const char *id) {
  std::u16string name;
  for (const char *p = id; *p != '\0'; p++) {
    name.push_back(static_cast<char16_t>(*p));
  }
  return name;
}

// A provider over one variable named after its id.
EFI_STATUS EFIAPI ValueGet(const ZELM_SETTING_PROVIDER *This, UINTN *Size, VOID *Value) {
  PlatformTime::Scope platformCode;
  std::u16string name = WideName(This->Id);
  return host::Firmware::Current()->RuntimeServices()->GetVariable(
      const_cast<CHAR16 *>(reinterpret_cast<const CHAR16 *>(name.c_str())),
      const_cast<EFI_GUID *>(&kValueGuid), nullptr, Size, Value);
}

EFI_STATUS EFIAPI ValueSet(const ZELM_SETTING_PROVIDER *This, UINTN Size, const VOID *Value,
                           UINT64 *Flags) {
  PlatformTime::Scope platformCode;
  std::vector<UINT8> current(Size + 1);
  UINTN currentSize = current.size();
  if (ValueGet(This, &currentSize, current.data()) == EFI_SUCCESS && currentSize == Size &&
      std::memcmp(current.data(), Value, Size) == 0) {
    *Flags |= ZELM_SETTING_FLAG_UNCHANGED;
    return EFI_SUCCESS;
  }
  std::u16string name = WideName(This->Id);
  return host::Firmware::Current()->RuntimeServices()->SetVariable(
      const_cast<CHAR16 *>(reinterpret_cast<const CHAR16 *>(name.c_str())),
      const_cast<EFI_GUID *>(&kValueGuid), 3, Size, const_cast<VOID *>(Value));
}

EFI_STATUS EFIAPI ValueDefault(const ZELM_SETTING_PROVIDER *) {
  return EFI_SUCCESS;
}

struct Payload {
  const char *label; // "" or " large"
  std::vector<std::string> ids;
  std::vector<UINT32> types;
  std::vector<std::string> valuesA; // two value sets; B differs from A everywhere
  std::vector<std::string> valuesB;
};

std::string Xml(const Payload &p, const std::vector<std::string> &values) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>1</Version>"
                    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>";
  for (size_t i = 0; i < p.ids.size(); i++) {
    xml += "<Setting><Id>" + p.ids[i] + "</Id><Value>" + values[i] + "</Value></Setting>";
  }
  return xml + "</Settings></SettingsPacket>";
}

Payload Many() {
  Payload p{"", {}, {}, {}, {}};
  // Each result is about 100 bytes; 70 of them stay under 8192.
  for (int i = 0; i < 70; i++) {
    p.ids.push_back("Device.Setting" + std::to_string(i) + ".Enable");
    p.types.push_back(ZELM_SETTING_TYPE_ENABLE);
    p.valuesA.push_back("Enabled");
    p.valuesB.push_back("Disabled");
  }
  return p;
}

Payload Large() {
  Payload p{" large", {}, {}, {}, {}};
  // Base64 of 3 KiB per certificate and 3 KiB strings: about 23 KiB in all.
  const std::string certA(4096, 'A');
  const std::string certB(4096, 'B');
  for (int i = 0; i < 3; i++) {
    p.ids.push_back("Device.Cert" + std::to_string(i));
    p.types.push_back(ZELM_SETTING_TYPE_BINARY);
    p.valuesA.push_back(certA);
    p.valuesB.push_back(certB);
  }
  for (int i = 0; i < 3; i++) {
    p.ids.push_back("Device.Text" + std::to_string(i));
    p.types.push_back(ZELM_SETTING_TYPE_STRING);
    p.valuesA.push_back(std::string(3000, 'a'));
    p.valuesB.push_back(std::string(3000, 'b'));
  }
  return p;
}

double ParseNs(const std::string &xml) {
  double best = 1e18;
  for (int r = 0; r < 200; r++) {
    auto start = std::chrono::steady_clock::now();
    XmlNode *root = nullptr;
    if (XmlParse(xml.c_str(), xml.size(), &root) != EFI_SUCCESS) {
      return -1;
    }
    (void)XmlFreeTree(&root);
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

int Run(const Payload &p) {
  host::Platform platform;
  platform.poolKind = host::PoolKind::kFirmware; // no fills, no block table
  host::Firmware firmware(platform);
  PlatformTime::Wrap(firmware.RuntimeServices());
  if (firmware.RunImage(ZelmDriverEntry) != EFI_SUCCESS ||
      firmware.InstallProtocol(gZelmAuthenticationProtocolGuid,
                               BenchAuthentication<ZELM_IDENTITY_LOCAL, 0>::Protocol()) !=
          EFI_SUCCESS) {
    std::fprintf(stderr, "zelm-settings-bench: the driver did not start\n");
    return 1;
  }
  firmware.SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  auto *support = static_cast<ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL *>(
      firmware.FindProtocol(gZelmSettingProviderSupportProtocolGuid));
  auto *apply = static_cast<ZELM_APPLY_PACKET_PROTOCOL *>(
      firmware.FindProtocol(gZelmSettingsApplyProtocolGuid));
  for (size_t i = 0; i < p.ids.size(); i++) {
    ZELM_SETTING_PROVIDER provider = {p.ids[i].c_str(), p.types[i], 0,           ValueSet,
                                      ValueGet,         ValueGet,   ValueDefault};
    if (support->RegisterProvider(support, &provider) != EFI_SUCCESS) {
      return 1;
    }
  }
  const std::string xmlA = Xml(p, p.valuesA);
  const std::string xmlB = Xml(p, p.valuesB);
  const double parseNs = ParseNs(xmlA);
  auto applyOnce = [&](const std::string &xml) {
    host::Delivery delivery(platform, host::PacketKind::Settings,
                            host::SignPacket(xml, ZELM_IDENTITY_LOCAL));
    CallMeter meter(platform, firmware);
    EFI_STATUS status = meter.Time([&] { return apply->ApplyPacket(apply, delivery.Record()); });
    return meter.Cost(status == EFI_SUCCESS);
  };
  // The fastest of the runs; its counts are those of every run.
  auto fastest = [](const CallCost &a, const CallCost &b) { return b.ns < a.ns ? b : a; };
  if (applyOnce(xmlA).ns < 0) { // first packet: values and "_SMID" written
    std::fprintf(stderr, "zelm-settings-bench: the packet was refused\n");
    return 1;
  }
  CallCost unchanged{1e18};
  CallCost changed{1e18};
  for (int r = 0; r < 30; r++) {
    unchanged = fastest(unchanged, applyOnce(xmlA));
    changed = fastest(changed, applyOnce(xmlB));
    (void)applyOnce(xmlA); // back to A for the next unchanged run
  }
  std::printf("payload%s: %zu settings, %zu bytes, parse %.1f us\n", p.label, p.ids.size(),
              xmlA.size(), parseNs / 1000.0);
  for (const auto &[kind, cost] : {std::pair{"unchanged", unchanged}, {"changed", changed}}) {
    std::printf("ratio apply/parse%s %s %.2f\n", p.label, kind, cost.ns / parseNs);
    std::printf("ratio apply/parse own%s %s %.2f\n", p.label, kind, cost.ownNs / parseNs);
    std::printf("apply-us%s %s %.1f\n", p.label, kind, cost.ns / 1000.0);
    std::printf("setvariable-calls%s %s %zu\n", p.label, kind, cost.writes);
    std::printf("getvariable-calls%s %s %zu\n", p.label, kind, cost.reads);
  }
  std::printf("peak-pool-bytes apply%s changed %zu\n", p.label, changed.peakPool);
  std::printf("pool-allocations apply%s changed %zu\n", p.label, changed.allocations);
  std::printf("pool-allocations parse%s %zu\n", p.label, ParseAllocations(firmware, xmlA));
  return 0;
}

} // namespace

int main() {
  return Run(Many()) != 0 || Run(Large()) != 0 ? 1 : 0;
}
