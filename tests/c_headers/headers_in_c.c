/* The public headers must stay usable from firmware written in C: this file
   is compiled as C11 and checks the layouts another C driver would see. */
#include <platform/PlatformGuids.h>
#include <platform/PlatformHookRegistry.h>
#include <platform/PlatformPointerConversion.h>
#include <uefi/UefiGuids.h>
#include <uefi/UefiSystemTable.h>
#include <zelm/Zelm.h>

#include <stdio.h>

static int failures;

static void expect(int ok, const char *what) {
  if (!ok) {
    printf("layout mismatch: %s\n", what);
    failures++;
  }
}

int main(void) {
  expect(sizeof(ZELM_SETTING_PROVIDER) == 52, "ZELM_SETTING_PROVIDER size");
  expect(offsetof(ZELM_SETTING_PROVIDER, SetDefaultValue) == 44, "SetDefaultValue offset");
  expect(sizeof(ZELM_APPLY_PACKET) == 0xb0, "ZELM_APPLY_PACKET size");
  expect(offsetof(ZELM_APPLY_PACKET, ResultSize) == 0xa8, "ResultSize offset");
  expect(sizeof(ZELM_APPLY_PACKET_PROTOCOL) == 32, "apply protocol size");
  expect(offsetof(ZELM_SETTING_ACCESS_PROTOCOL, ResetToDefaults) == 16, "ResetToDefaults slot");
  expect(offsetof(ZELM_SETTING_PERMISSION_PROTOCOL, IdentityChange) == 16, "IdentityChange slot");
  expect(offsetof(ZELM_AUTHENTICATION_PROTOCOL, GetCertInfo) == 40, "GetCertInfo slot");
  expect(sizeof(PLATFORM_HOOK_HEADER) == 224, "hook header size");
  expect(sizeof(PLATFORM_HOOK_CALLBACK) == 96, "hook callback size");
  expect(sizeof(EFI_BOOT_SERVICES) == 376, "boot services size");
  expect(sizeof(CHAR16) == 2, "CHAR16 size");
  expect(ZELM_APPLY_PACKET_PROTOCOL_SIGNATURE == ('Y' | 'P' << 8 | 'P' << 16 | 'A' << 24),
         "YPPA signature");
  expect(ZELM_PROVIDER_FLAG_RESET_ON_DEFAULTS == 0x0001000000000000ULL, "reset-on-defaults bit");
  expect(ZELM_SETTING_FLAG_UNCHANGED == 0x80000000ULL, "unchanged bit");
  printf("%s\n", failures == 0 ? "C headers: ok" : "C headers: FAILED");
  return failures != 0;
}
