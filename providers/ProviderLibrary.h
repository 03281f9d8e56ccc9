// Registration of a provider library's setting providers once the provider
// support protocol exists.
#ifndef ZELM_PROVIDERS_PROVIDER_LIBRARY_H_
#define ZELM_PROVIDERS_PROVIDER_LIBRARY_H_

#include <zelm/ZelmSettingProvider.h>

#include <uefi/UefiSystemTable.h>

// The body of a provider library's notify handler: when the provider support
// protocol can be located, registers Count providers (results ignored) and
// closes Event; otherwise leaves Event open for the next installation.
VOID RegisterLibraryProviders(EFI_EVENT Event, const ZELM_SETTING_PROVIDER *Providers, UINTN Count);

#endif
