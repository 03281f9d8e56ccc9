// Conversion of setting values between their stored bytes and the text of
// XML packets, by setting type.
#ifndef ZELM_SETTINGS_VALUE_CONVERSION_H_
#define ZELM_SETTINGS_VALUE_CONVERSION_H_

#include <zelm/ZelmAuthentication.h>
#include <zelm/ZelmSettingProvider.h>

// Longest value text of a packet (and longest stored value shown as text).
constexpr UINTN kMaxValueTextLength = 0x6000;

// Converts Text by Provider's type and writes it with the settings access
// protocol's Set under Provider's Id; returns Set's status.
// EFI_INVALID_PARAMETER: NULL argument, a text the type does not accept (nothing
// is set). EFI_OUT_OF_RESOURCES: pool exhausted. Base64 errors other than the
// size query are returned as the decoder gives them.
[[nodiscard]] EFI_STATUS SetSettingFromText(const ZELM_SETTING_PROVIDER *Provider,
                                            const CHAR8 *Text, ZELM_AUTH_TOKEN *AuthToken,
                                            UINT64 *Flags);

// The current (or, with Default, the default) value of Provider as newly
// allocated ASCII text in *Text, which the caller frees. On any error *Text is
// NULL. EFI_OUT_OF_RESOURCES: the pool ran out here, in the provider or in the
// certificate component, so the value could not be shown just now; any other
// error: the value cannot be read or shown (the provider's own error, or
// EFI_UNSUPPORTED for a value no text stands for, EFI_NOT_READY for a
// certificate with no component to describe it).
[[nodiscard]] EFI_STATUS SettingValueToText(const ZELM_SETTING_PROVIDER *Provider, BOOLEAN Default,
                                            CHAR8 **Text);

#endif
