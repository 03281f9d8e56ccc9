#include "settings/ValueConversion.h"

#include <zelm/ZelmGuids.h>

#include "permissions/Identities.h"
#include "settings/SettingAccess.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/Pool.h"
#include "support/Text.h"

namespace {

struct Name {
  const CHAR8 *text;
  UINT8 value;
};

constexpr Name kEnableNames[] = {{"Enabled", 1}, {"Disabled", 0}};
constexpr Name kKeySetNames[] = {{"KvOnly", 0}, {"KvPlus3rdParty", 1}, {"None", 2}};
constexpr Name kUsbPortNames[] = {
    {"UsbPortEnabled", 0}, {"UsbPortHwDisabled", 0xF0}, {"UsbPortDataDisabled", 0xF1}};

template <UINTN N> const Name *FindName(const Name (&names)[N], const CHAR8 *text) {
  for (const Name &name : names) {
    if (CompareAscii(name.text, text) == 0) {
      return &name;
    }
  }
  return nullptr;
}

template <UINTN N> const CHAR8 *FindText(const Name (&names)[N], UINT8 value) {
  for (const Name &name : names) {
    if (name.value == value) {
      return name.text;
    }
  }
  return nullptr;
}

EFI_STATUS SetValue(const ZELM_SETTING_PROVIDER *provider, ZELM_AUTH_TOKEN *authToken, UINTN size,
                    const VOID *value, UINT64 *flags) {
  return mSettingAccess.Set(&mSettingAccess, provider->Id, authToken, provider->Type, size, value,
                            flags);
}

BOOLEAN IsLowerOrUpper(CHAR8 c, CHAR8 lower) {
  return c == lower || c == lower - 'a' + 'A';
}

// Hexadecimal digits followed by "eb" (in any case), two digits per byte.
EFI_STATUS SetPassword(const ZELM_SETTING_PROVIDER *provider, const CHAR8 *text,
                       ZELM_AUTH_TOKEN *authToken, UINT64 *flags) {
  UINTN length = BoundedLength(text, kMaxValueTextLength + 1);
  if (length > kMaxValueTextLength || length < 4 || length % 2 != 0 ||
      !IsLowerOrUpper(text[length - 2], 'e') || !IsLowerOrUpper(text[length - 1], 'b')) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN size = (length - 2) / 2;
  PoolPtr<UINT8> bytes(static_cast<UINT8 *>(AllocPool(size)));
  if (!bytes) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (EFI_ERROR(HexTextToBytes(text, length - 2, bytes.get(), size))) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS status = SetValue(provider, authToken, size, bytes.get(), flags);
  SetMem(bytes.get(), size, 0);
  return status;
}

EFI_STATUS SetBase64(const ZELM_SETTING_PROVIDER *provider, const CHAR8 *text,
                     ZELM_AUTH_TOKEN *authToken, UINT64 *flags) {
  UINTN length = BoundedLength(text, kMaxValueTextLength);
  if (length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN size = 0;
  EFI_STATUS status = Base64Decode(text, length, nullptr, &size);
  if (status == EFI_SUCCESS) {
    return EFI_INVALID_PARAMETER; // nothing but white space
  }
  if (status != EFI_BUFFER_TOO_SMALL) {
    return status;
  }
  PoolPtr<UINT8> bytes(static_cast<UINT8 *>(AllocPool(size)));
  if (!bytes) {
    return EFI_OUT_OF_RESOURCES;
  }
  status = Base64Decode(text, length, bytes.get(), &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  return SetValue(provider, authToken, size, bytes.get(), flags);
}

// Reads a 1-byte value with the provider's own operation.
EFI_STATUS ReadByte(const ZELM_SETTING_PROVIDER *provider, BOOLEAN useDefault, UINT8 *value) {
  UINTN size = 1;
  return useDefault ? provider->GetDefaultValue(provider, &size, value)
                    : provider->GetSettingValue(provider, &size, value);
}

// Reads a variable-size value into a new buffer of 1 to kMaxValueTextLength
// bytes. With AllowEmpty a value of size 0 succeeds with no buffer. A probe
// that fails for want of pool says so; any other unusable probe is
// EFI_UNSUPPORTED.
EFI_STATUS ReadBytes(const ZELM_SETTING_PROVIDER *provider, BOOLEAN useDefault, BOOLEAN allowEmpty,
                     PoolPtr<UINT8> *bytes, UINTN *size) {
  *size = 0;
  auto read = useDefault ? provider->GetDefaultValue : provider->GetSettingValue;
  EFI_STATUS status = read(provider, size, nullptr);
  if (allowEmpty && *size == 0 && (status == EFI_SUCCESS || status == EFI_BUFFER_TOO_SMALL)) {
    return EFI_SUCCESS;
  }
  if (status == EFI_OUT_OF_RESOURCES) {
    return status;
  }
  if (status != EFI_BUFFER_TOO_SMALL || *size == 0 || *size > kMaxValueTextLength) {
    return EFI_UNSUPPORTED;
  }
  UINTN wanted = *size;
  bytes->reset(static_cast<UINT8 *>(AllocPool(wanted)));
  if (!*bytes) {
    return EFI_OUT_OF_RESOURCES;
  }
  status = read(provider, size, bytes->get());
  if (EFI_ERROR(status) || *size > wanted || (*size == 0 && !allowEmpty)) {
    bytes->reset();
    return EFI_ERROR(status) ? status : EFI_BAD_BUFFER_SIZE;
  }
  return EFI_SUCCESS;
}

// *Out = a pool copy of the Length characters of Text and a terminating NUL.
EFI_STATUS CopyText(const CHAR8 *text, UINTN length, CHAR8 **out) {
  *out = static_cast<CHAR8 *>(AllocPool(length + 1));
  if (*out == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(*out, text, length);
  (*out)[length] = '\0';
  return EFI_SUCCESS;
}

EFI_STATUS CopyText(const CHAR8 *text, CHAR8 **out) {
  return CopyText(text, BoundedLength(text, MAX_TEXT_LENGTH + 1), out);
}

EFI_STATUS StringText(const ZELM_SETTING_PROVIDER *provider, BOOLEAN useDefault, CHAR8 **out) {
  UINTN size = 0;
  PoolPtr<UINT8> bytes;
  EFI_STATUS status = ReadBytes(provider, useDefault, FALSE, &bytes, &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  const auto *text = reinterpret_cast<const CHAR8 *>(bytes.get());
  for (UINTN i = 0; i < size; i++) {
    if (text[i] == '\0') {
      return CopyText(text, i, out);
    }
  }
  return EFI_UNSUPPORTED; // not terminated within its size
}

EFI_STATUS Base64Text(const ZELM_SETTING_PROVIDER *provider, BOOLEAN useDefault, CHAR8 **out) {
  UINTN size = 0;
  PoolPtr<UINT8> bytes;
  EFI_STATUS status = ReadBytes(provider, useDefault, FALSE, &bytes, &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN textSize = 0;
  if (Base64Encode(bytes.get(), size, nullptr, &textSize) != EFI_BUFFER_TOO_SMALL) {
    return EFI_UNSUPPORTED;
  }
  PoolPtr<CHAR8> text(static_cast<CHAR8 *>(AllocPool(textSize)));
  if (!text) {
    return EFI_OUT_OF_RESOURCES;
  }
  status = Base64Encode(bytes.get(), size, text.get(), &textSize);
  if (EFI_ERROR(status)) {
    return status;
  }
  *out = text.release();
  return EFI_SUCCESS;
}

EFI_STATUS CertText(const ZELM_SETTING_PROVIDER *provider, BOOLEAN useDefault, CHAR8 **out) {
  UINTN size = 0;
  PoolPtr<UINT8> cert;
  EFI_STATUS status = ReadBytes(provider, useDefault, TRUE, &cert, &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (size == 0) {
    return CopyText("", out);
  }
  ZELM_AUTHENTICATION_PROTOCOL *auth = FindAuthenticationProtocol();
  if (auth == nullptr) {
    return EFI_NOT_READY;
  }
  CHAR8 *info = nullptr;
  UINTN infoSize = 0;
  status = auth->GetCertInfo(auth, nullptr, cert.get(), size, 2, 3, &info, &infoSize);
  if (status == EFI_OUT_OF_RESOURCES) {
    return status; // describable, only not just now
  }
  if (EFI_ERROR(status) || info == nullptr) {
    return CopyText("No Cert information available", out);
  }
  // The component's text need not be terminated within its stated size.
  status = CopyText(info, BoundedLength(info, infoSize), out);
  FreePool(info);
  return status;
}

// The name of a one-byte value.
const CHAR8 *ByteText(UINT8 type, UINT8 value) {
  switch (type) {
  case ZELM_SETTING_TYPE_ENABLE:
    return value != 0 ? "Enabled" : "Disabled";
  case ZELM_SETTING_TYPE_SECUREBOOTKEYS:
    return value == 0 ? "KvOnly" : value == 1 ? "KvPlus3rdParty" : value == 3 ? "Custom" : "None";
  case ZELM_SETTING_TYPE_PASSWORD:
    return value != 0 ? "System Password Set" : "No System Password";
  default: {
    const CHAR8 *text = FindText(kUsbPortNames, value);
    return text != nullptr ? text : "UnsupportedValue";
  }
  }
}

} // namespace

EFI_STATUS SetSettingFromText(const ZELM_SETTING_PROVIDER *Provider, const CHAR8 *Text,
                              ZELM_AUTH_TOKEN *AuthToken, UINT64 *Flags) {
  if (Provider == nullptr || Text == nullptr || AuthToken == nullptr || Flags == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const Name *name = nullptr;
  switch (Provider->Type) {
  case ZELM_SETTING_TYPE_ENABLE:
    name = FindName(kEnableNames, Text);
    break;
  case ZELM_SETTING_TYPE_SECUREBOOTKEYS:
    name = FindName(kKeySetNames, Text);
    break;
  case ZELM_SETTING_TYPE_USBPORT:
    name = FindName(kUsbPortNames, Text);
    break;
  case ZELM_SETTING_TYPE_PASSWORD:
    return SetPassword(Provider, Text, AuthToken, Flags);
  case ZELM_SETTING_TYPE_STRING: {
    UINTN length = BoundedLength(Text, kMaxValueTextLength + 1);
    if (length > kMaxValueTextLength) {
      return EFI_INVALID_PARAMETER;
    }
    return SetValue(Provider, AuthToken, length + 1, Text, Flags);
  }
  case ZELM_SETTING_TYPE_BINARY:
  case ZELM_SETTING_TYPE_CERT:
    return SetBase64(Provider, Text, AuthToken, Flags);
  default:
    return EFI_INVALID_PARAMETER;
  }
  if (name == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return SetValue(Provider, AuthToken, 1, &name->value, Flags);
}

EFI_STATUS SettingValueToText(const ZELM_SETTING_PROVIDER *Provider, BOOLEAN Default,
                              CHAR8 **Text) {
  if (Text == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Text = nullptr;
  if (Provider == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  switch (Provider->Type) {
  case ZELM_SETTING_TYPE_ENABLE:
  case ZELM_SETTING_TYPE_SECUREBOOTKEYS:
  case ZELM_SETTING_TYPE_PASSWORD:
  case ZELM_SETTING_TYPE_USBPORT: {
    UINT8 value = 0;
    EFI_STATUS status = ReadByte(Provider, Default, &value);
    if (EFI_ERROR(status)) {
      return status;
    }
    return CopyText(ByteText(Provider->Type, value), Text);
  }
  case ZELM_SETTING_TYPE_STRING:
    return StringText(Provider, Default, Text);
  case ZELM_SETTING_TYPE_BINARY:
    return Base64Text(Provider, Default, Text);
  case ZELM_SETTING_TYPE_CERT:
    return CertText(Provider, Default, Text);
  default:
    return EFI_UNSUPPORTED;
  }
}
