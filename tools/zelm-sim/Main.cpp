// zelm-sim: runs the driver on the firmware double and shows what it offers.
//
//   zelm-sim demo [--store FILE]   boot with an authentication component,
//                                  list the providers, their values and who
//                                  may change them, show the published
//                                  permissions, reboot over the same store
//
// With --store the variable store is loaded from FILE (when it exists) and
// saved back to it at the end.
#include <zelm/Zelm.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/Entry.h"
#include "host/Authentication.h"
#include "host/HostFirmware.h"
#include "settings/Registry.h"
#include "support/Text.h"

namespace {

std::string StatusText(EFI_STATUS status) {
  char text[64];
  FormatAscii(text, sizeof(text), "%r", status);
  return text;
}

const char *TypeName(UINT32 type) {
  switch (type) {
  case ZELM_SETTING_TYPE_ENABLE:
    return "Enable";
  case ZELM_SETTING_TYPE_SECUREBOOTKEYS:
    return "SecureBootKeys";
  case ZELM_SETTING_TYPE_PASSWORD:
    return "Password";
  case ZELM_SETTING_TYPE_USBPORT:
    return "UsbPort";
  case ZELM_SETTING_TYPE_STRING:
    return "String";
  case ZELM_SETTING_TYPE_BINARY:
    return "Binary";
  case ZELM_SETTING_TYPE_CERT:
    return "Cert";
  default:
    return "Unknown";
  }
}

// The current value as the access protocol returns it, in hexadecimal.
std::string ValueText(ZELM_SETTING_ACCESS_PROTOCOL *access, const ZELM_SETTING_PROVIDER &provider) {
  UINTN size = 0;
  EFI_STATUS status =
      access->Get(access, provider.Id, nullptr, provider.Type, &size, nullptr, nullptr);
  if (status != EFI_BUFFER_TOO_SMALL && EFI_ERROR(status)) {
    // Some providers want a buffer even for the size query.
    size = 1;
  }
  std::string bytes(size == 0 ? 1 : size, '\0');
  status = access->Get(access, provider.Id, nullptr, provider.Type, &size, bytes.data(), nullptr);
  if (EFI_ERROR(status)) {
    return "(" + StatusText(status) + ")";
  }
  std::string hex;
  for (UINTN i = 0; i < size; i++) {
    char pair[4];
    snprintf(pair, sizeof(pair), "%02X", static_cast<unsigned char>(bytes[i]));
    hex += pair;
  }
  return hex;
}

// Whether the identity behind Token may change the setting, as Get reports.
const char *Writable(ZELM_SETTING_ACCESS_PROTOCOL *access, const ZELM_SETTING_PROVIDER &provider,
                     ZELM_AUTH_TOKEN token) {
  UINT64 flags = 0;
  UINT8 value[64];
  UINTN size = sizeof(value);
  (void)access->Get(access, provider.Id, &token, provider.Type, &size, value, &flags);
  return (flags & ZELM_SETTING_FLAG_WRITABLE) != 0 ? "yes" : "no";
}

void ShowVariable(const host::Platform &platform, const char *title, std::u16string_view name,
                  const EFI_GUID &guid) {
  const host::Variable *variable = platform.FindVariable(name, guid);
  if (variable == nullptr) {
    printf("  %s: absent\n", title);
    return;
  }
  std::string text(variable->data.begin(), variable->data.end());
  while (!text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  printf("  %s (attributes %u, %zu bytes):\n    %s\n", title, variable->attributes,
         variable->data.size(), text.c_str());
}

int Boot(host::Platform &platform, unsigned boot) {
  host::Firmware firmware(platform);
  // The authentication component is up before the driver, as on a platform
  // that enrols its keys early.
  host::Authentication &authentication = firmware.InstallAuthentication();
  EFI_HANDLE image = nullptr;
  EFI_STATUS status = firmware.RunImage(ZelmDriverEntry, EfiBootServicesCode, &image);
  printf("boot %u: driver entry returned %s\n", boot, StatusText(status).c_str());
  if (EFI_ERROR(status)) {
    return 1;
  }
  firmware.SignalEventGroup(gZelmSettingAccessStartEventGroupGuid);
  auto *access = static_cast<ZELM_SETTING_ACCESS_PROTOCOL *>(
      firmware.FindProtocol(gZelmSettingAccessProtocolGuid));
  if (access == nullptr) {
    printf("  settings access protocol missing after the access-start group\n");
    return 1;
  }
  auto *permission = static_cast<ZELM_SETTING_PERMISSION_PROTOCOL *>(
      firmware.FindProtocol(gZelmSettingPermissionProtocolGuid));
  ZELM_AUTH_TOKEN local = authentication.IssueToken(ZELM_IDENTITY_LOCAL);
  ZELM_AUTH_TOKEN owner = authentication.IssueToken(ZELM_IDENTITY_OWNER);
  printf("  registered providers (writable by the local identity / by the owner alone):\n");
  for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
    UINT8 pMask = 0;
    EFI_STATUS maskStatus = permission->GetPermission(permission, e->Provider.Id, &pMask);
    char maskText[8];
    snprintf(maskText, sizeof(maskText), "0x%02X", pMask);
    printf("    %-40s %-14s flags 0x%llX  value %s  pmask %s  writable %s / %s\n", e->Provider.Id,
           TypeName(e->Provider.Type), static_cast<unsigned long long>(e->Provider.Flags),
           ValueText(access, e->Provider).c_str(),
           EFI_ERROR(maskStatus) ? StatusText(maskStatus).c_str() : maskText,
           Writable(access, e->Provider, local), Writable(access, e->Provider, owner));
  }
  ShowVariable(platform, "ZelmPermissionCurrent", u"ZelmPermissionCurrent",
               gZelmPermissionVariableGuid);
  firmware.ReadyToBoot();
  printf("  ready-to-boot signalled; %zu variables in the store\n", platform.Variables().size());
  return 0;
}

int Demo(const char *storePath) {
  host::Platform platform;
  if (storePath != nullptr && !platform.LoadVariables(storePath)) {
    printf("no usable store in %s; starting empty\n", storePath);
  }
  platform.cpu.SetPortReadHook(0x1808, [](UINT16) { return 0xFFFFFFFFu; });
  int result = Boot(platform, 1);
  if (result == 0) {
    result = Boot(platform, 2);
  }
  if (storePath != nullptr && !platform.SaveVariables(storePath)) {
    fprintf(stderr, "zelm-sim: cannot write %s\n", storePath);
    return 2;
  }
  return result;
}

int Usage() {
  fprintf(stderr, "usage: zelm-sim demo [--store FILE]\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || strcmp(argv[1], "demo") != 0) {
    return Usage();
  }
  const char *store = nullptr;
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "--store") == 0 && i + 1 < argc) {
      store = argv[++i];
    } else {
      return Usage();
    }
  }
  return Demo(store);
}
