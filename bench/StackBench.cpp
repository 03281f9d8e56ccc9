// zelm-stack-bench: the deepest stack each entry point of the driver uses,
// on the firmware double. Each entry runs on a stack of its own, filled
// with a pattern beforehand; the bytes below the top that no longer hold
// the pattern are the depth it reached. The host build calls the
// protocols with the Microsoft x64 convention, as the image does, so the
// driver's frames are comparable; the figures also hold the double's own
// frames (its boot and runtime services), so they are an upper bound.
// Prints one line per entry point, then the largest:
//   stack <entry> <bytes>
//   stack-max <bytes>
// Firmware stacks are small (the target is 16 KiB at most, 8 KiB aimed
// for); a figure over 16 KiB makes the benchmark fail.
#include <platform/PlatformGuids.h>
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <ucontext.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/Entry.h"
#include "host/Authentication.h"
#include "host/HostFirmware.h"
#include "host/Transport.h"

namespace {

constexpr size_t kStackSize = 1 << 20;
constexpr uint64_t kPattern = 0x5AC3A55AC33CA55Aull;
constexpr size_t kLimit = 16 * 1024;

ucontext_t gCaller;
const std::function<void()> *gProbe = nullptr;

void RunProbe() {
  (*gProbe)();
}

// Bytes of its own stack that Probe touched.
size_t StackDepth(const std::function<void()> &probe) {
  std::unique_ptr<uint64_t[]> stack(new uint64_t[kStackSize / 8]);
  for (size_t i = 0; i < kStackSize / 8; i++) {
    stack[i] = kPattern;
  }
  ucontext_t context;
  getcontext(&context);
  context.uc_stack.ss_sp = stack.get();
  context.uc_stack.ss_size = kStackSize;
  context.uc_link = &gCaller;
  makecontext(&context, RunProbe, 0);
  gProbe = &probe;
  swapcontext(&gCaller, &context);
  size_t untouched = 0;
  while (untouched < kStackSize / 8 && stack[untouched] == kPattern) {
    untouched++;
  }
  return kStackSize - untouched * 8;
}

// The platform the driver's providers read: a configuration block and
// the SMBIOS system information.
void PreparePlatform(host::Platform &platform) {
  std::vector<UINT8> setup(0x100, 0);
  setup[0x64] = 10;
  setup[0x6F] = 1;
  platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7, setup);
  std::vector<UINT8> formatted = {1, 2, 0, 3};
  formatted.resize(0x1B - 4, 0);
  platform.AddSmbiosRecord(1, formatted, {"Zelm Systems", "Zelm 1", "SN-0001"});
  platform.authentication.Enrol(ZELM_IDENTITY_OWNER | ZELM_IDENTITY_ZERO_TOUCH |
                                ZELM_IDENTITY_LOCAL);
}

// Room for the payload in a packet of the largest size: the signed
// data's header and the signature block come off.
constexpr size_t kPayloadRoom =
    ZELM_MAX_PACKET_SIZE - host::kSignedHeaderSize - host::kSignatureBlockSize;

// Repeats Item after Head until Tail would no longer fit the packet.
std::string Fill(const std::string &head, const std::vector<std::string> &items,
                 const std::string &tail) {
  std::string text = head;
  for (size_t i = 0;; i++) {
    const std::string &item = items[i % items.size()];
    if (text.size() + item.size() + tail.size() > kPayloadRoom) {
      break;
    }
    text += item;
  }
  return text + tail;
}

// The deepest nesting of elements that fits, inside Head ... Tail.
std::string Nest(const std::string &head, const std::string &tail) {
  const size_t each = std::strlen("<a></a>");
  const size_t depth = (kPayloadRoom - head.size() - tail.size()) / each;
  std::string text = head;
  for (size_t i = 0; i < depth; i++) {
    text += "<a>";
  }
  for (size_t i = 0; i < depth; i++) {
    text += "</a>";
  }
  return text + tail;
}

const char kSettingsHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket>"
                             "<Version>2</Version><LowestSupportedVersion>1"
                             "</LowestSupportedVersion><Settings>";
const char kSettingsTail[] = "</Settings></SettingsPacket>";
const char kPermissionsHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket>"
                                "<Version>2</Version><LowestSupportedVersion>1"
                                "</LowestSupportedVersion><Permissions Append=\"True\">";
const char kPermissionsTail[] = "</Permissions></PermissionsPacket>";

std::string Setting(const char *id, const char *value) {
  return std::string("<Setting><Id>") + id + "</Id><Value>" + value + "</Value></Setting>";
}

// Every platform setting, with values that change it.
std::vector<std::string> PlatformSettings() {
  return {Setting("Device.BootOrderLock.Enable", "Enabled"),
          Setting("Device.USBBoot.Enable", "Disabled"),
          Setting("Zelm.BootOnboardNetwork.Enable", "Disabled"),
          Setting("Device.CpuAndIoVirtualization.Enable", "Enabled"),
          Setting("Zelm3.OnboardXpbt.Enable", "Enabled"),
          Setting("Zelm3.AssetTag.String", "TAG-0001"),
          Setting("Zelm.RecoveryUrl.String", "https://recovery.example/zelm"),
          Setting("Zelm.RecoveryBootstrapUrl.String", "https://bootstrap.example/zelm"),
          Setting("Zelm.HttpsCert.Binary", "MIIBszCCAVmgAwIBAgIUJ"),
          Setting("Zelm.RegistrationId.String", "registration-0001"),
          Setting("Zelm.TenantId.String", "tenant-0001"),
          Setting("MDM.FriendlyName.String", "Zelm MDM"),
          Setting("MDM.TenantName.String", "Zelm Tenant"),
          Setting("Device.Password.Password", "pa55word")};
}

std::vector<std::string> Permissions() {
  std::vector<std::string> items;
  for (int i = 0; i < 64; i++) {
    items.push_back("<Permission><Id>Device.Entry" + std::to_string(i) +
                    ".Enable</Id><PMask>145</PMask><DMask>144</DMask></Permission>");
  }
  items.push_back("<Permission><Id>Device.USBBoot.Enable</Id><PMask>129</PMask>"
                  "<DMask>128</DMask></Permission>");
  return items;
}

// A provider registered from outside, as another driver would.
EFI_STATUS EFIAPI ExtraSet(const ZELM_SETTING_PROVIDER *, UINTN, const VOID *, UINT64 *) {
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ExtraGet(const ZELM_SETTING_PROVIDER *, UINTN *Size, VOID *Value) {
  if (*Size < 1) {
    *Size = 1;
    return EFI_BUFFER_TOO_SMALL;
  }
  *Size = 1;
  *static_cast<UINT8 *>(Value) = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ExtraDefault(const ZELM_SETTING_PROVIDER *) {
  return EFI_SUCCESS;
}

struct Result {
  std::string name;
  size_t bytes;
};

class Bench {
public:
  Bench() {
    PreparePlatform(platform_);
    firmware_ = std::make_unique<host::Firmware>(platform_);
    firmware_->InstallSmbios();
    firmware_->InstallVariableLock();
    baseline_ = StackDepth([] {});
  }

  void Measure(const std::string &name, const std::function<void()> &probe) {
    size_t depth = StackDepth(probe);
    results_.push_back({name, depth > baseline_ ? depth - baseline_ : 0});
  }

  template <typename T> T *Protocol(const EFI_GUID &guid) {
    return static_cast<T *>(firmware_->FindProtocol(guid));
  }

  host::Platform &platform() { return platform_; }
  host::Firmware &firmware() { return *firmware_; }
  const std::vector<Result> &results() const { return results_; }

private:
  host::Platform platform_;
  std::unique_ptr<host::Firmware> firmware_;
  size_t baseline_ = 0;
  std::vector<Result> results_;
};

// One packet through its protocol, each call on its own stack.
void MeasurePacket(Bench &bench, const std::string &name, host::PacketKind kind,
                   ZELM_APPLY_PACKET_PROTOCOL *apply, const std::string &payload) {
  host::Delivery delivery(bench.platform(), kind, host::SignPacket(payload, ZELM_IDENTITY_OWNER));
  ZELM_APPLY_PACKET *record = delivery.Record();
  EFI_STATUS applied = EFI_NOT_STARTED;
  bench.Measure(name + ".ApplyPacket", [&] { applied = apply->ApplyPacket(apply, record); });
  bench.Measure(name + ".ReportResult", [&] { (void)apply->ReportResult(apply, record); });
  bench.Measure(name + ".CompletePacket",
                [&] { (void)apply->CompletePacket(apply, record, EFI_ERROR(applied) ? 1 : 2); });
  if (record->State != ZELM_PACKET_STATE_APPLIED) {
    std::fprintf(stderr, "note: %s ended in State %u, Status 0x%llX\n", name.c_str(), record->State,
                 static_cast<unsigned long long>(record->Status));
  }
}

} // namespace

int main() {
  Bench bench;
  host::Firmware &firmware = bench.firmware();
  bench.Measure("entry", [&] { (void)firmware.RunImage(ZelmDriverEntry); });
  // The authentication protocol arrives after the driver: its notification
  // loads or creates the permission store and publishes it.
  bench.Measure("authentication-notify", [&] { firmware.InstallAuthentication(); });
  bench.Measure("access-start",
                [&] { firmware.SignalEventGroup(gZelmSettingAccessStartEventGroupGuid); });

  auto *support = bench.Protocol<ZELM_SETTING_PROVIDER_SUPPORT_PROTOCOL>(
      gZelmSettingProviderSupportProtocolGuid);
  auto *access = bench.Protocol<ZELM_SETTING_ACCESS_PROTOCOL>(gZelmSettingAccessProtocolGuid);
  auto *permission =
      bench.Protocol<ZELM_SETTING_PERMISSION_PROTOCOL>(gZelmSettingPermissionProtocolGuid);
  auto *settingsApply = bench.Protocol<ZELM_APPLY_PACKET_PROTOCOL>(gZelmSettingsApplyProtocolGuid);
  auto *permissionsApply =
      bench.Protocol<ZELM_APPLY_PACKET_PROTOCOL>(gZelmPermissionsApplyProtocolGuid);
  if (support == nullptr || access == nullptr || permission == nullptr ||
      settingsApply == nullptr || permissionsApply == nullptr) {
    std::fprintf(stderr, "the driver did not install its protocols\n");
    return 1;
  }

  static const ZELM_SETTING_PROVIDER provider = {
      "Bench.Extra.Enable", ZELM_SETTING_TYPE_ENABLE, 0, ExtraSet, ExtraGet, ExtraGet,
      ExtraDefault};
  bench.Measure("RegisterProvider", [&] { (void)support->RegisterProvider(support, &provider); });

  ZELM_AUTH_TOKEN token = firmware.Auth()->IssueToken(ZELM_IDENTITY_OWNER);
  const std::pair<const char *, UINT32> gets[] = {
      {"Device.USBBoot.Enable", ZELM_SETTING_TYPE_ENABLE},
      {"Zelm.RecoveryUrl.String", ZELM_SETTING_TYPE_STRING},
      {"Device.Password.Password", ZELM_SETTING_TYPE_PASSWORD},
      {"Zelm3.AssetTag.String", ZELM_SETTING_TYPE_STRING},
      {"Device.BootOrderLock.Enable", ZELM_SETTING_TYPE_ENABLE},
      {"Zelm.HttpsCert.Binary", ZELM_SETTING_TYPE_CERT}};
  for (const auto &[id, type] : gets) {
    bench.Measure(std::string("Get ") + id, [&, id = id, type = type] {
      UINT8 value[512];
      UINTN size = sizeof(value);
      UINT64 flags = 0;
      (void)access->Get(access, id, &token, type, &size, value, &flags);
    });
  }
  bench.Measure("Set Device.USBBoot.Enable", [&] {
    UINT8 value = 1;
    UINT64 flags = 0;
    (void)access->Set(access, "Device.USBBoot.Enable", &token, ZELM_SETTING_TYPE_ENABLE,
                      sizeof(value), &value, &flags);
  });
  bench.Measure("Set Zelm.RecoveryUrl.String", [&] {
    const char value[] = "https://recovery.example/other";
    UINT64 flags = 0;
    (void)access->Set(access, "Zelm.RecoveryUrl.String", &token, ZELM_SETTING_TYPE_STRING,
                      sizeof(value), value, &flags);
  });
  bench.Measure("Set Device.Password.Password", [&] {
    const char value[] = "an0ther-pa55word";
    UINT64 flags = 0;
    (void)access->Set(access, "Device.Password.Password", &token, ZELM_SETTING_TYPE_PASSWORD,
                      sizeof(value), value, &flags);
  });
  bench.Measure("GetPermission", [&] {
    UINT8 mask = 0;
    (void)permission->GetPermission(permission, "Device.USBBoot.Enable", &mask);
  });
  bench.Measure("IdentityChange", [&] {
    ZELM_AUTH_TOKEN change = firmware.Auth()->IssueToken(ZELM_IDENTITY_OWNER);
    (void)permission->IdentityChange(permission, &change, ZELM_IDENTITY_OWNER, 1);
  });

  MeasurePacket(bench, "settings-flat", host::PacketKind::Settings, settingsApply,
                Fill(kSettingsHead, PlatformSettings(), kSettingsTail));
  MeasurePacket(bench, "settings-deep", host::PacketKind::Settings, settingsApply,
                Nest(std::string(kSettingsHead) + "<Setting><Id>Zelm.RecoveryUrl.String</Id>"
                                                  "<Value>",
                     std::string("</Value></Setting>") + kSettingsTail));
  MeasurePacket(bench, "permissions-flat", host::PacketKind::Permissions, permissionsApply,
                Fill(kPermissionsHead, Permissions(), kPermissionsTail));
  MeasurePacket(bench, "permissions-deep", host::PacketKind::Permissions, permissionsApply,
                Nest(std::string(kPermissionsHead) + "<Permission><Id>Device.Deep.Enable</Id>"
                                                     "<PMask>17</PMask></Permission></Permissions>"
                                                     "<Nested>",
                     "</Nested></PermissionsPacket>"));

  bench.Measure("ready-to-boot", [&] { firmware.ReadyToBoot(); });
  bench.Measure("boot-order-lock",
                [&] { (void)firmware.RunHookPoint(gPlatformBootOrderLockHookGuid); });
  bench.Measure("ResetToDefaults", [&] { (void)access->ResetToDefaults(access, &token); });
  bench.Measure("ResetPermissions", [&] {
    ZELM_AUTH_TOKEN reset = firmware.Auth()->IssueToken(0xFF);
    (void)permission->ResetPermissions(permission, &reset);
  });
  bench.Measure("exit-boot-services", [&] { firmware.ExitBootServices(); });

  size_t max = 0;
  for (const Result &r : bench.results()) {
    std::printf("stack %s %zu\n", r.name.c_str(), r.bytes);
    max = std::max(max, r.bytes);
  }
  std::printf("stack-max %zu\n", max);
  if (max > kLimit) {
    std::fprintf(stderr, "stack-max %zu exceeds %zu bytes\n", max, kLimit);
    return 1;
  }
  return 0;
}
