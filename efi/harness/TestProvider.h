// The harness's own setting provider, registered the way another driver
// would: an Enable setting that always reads 1.
#ifndef ZELM_EFI_HARNESS_TEST_PROVIDER_H_
#define ZELM_EFI_HARNESS_TEST_PROVIDER_H_

#include <zelm/ZelmSettingProvider.h>

#define HARNESS_TEST_SETTING_ID "Harness.Test.Enable"
#define HARNESS_TEST_SETTING_VALUE 1u

// The provider record for HARNESS_TEST_SETTING_ID.
const ZELM_SETTING_PROVIDER *HarnessTestProvider(VOID);

// The same operations under another identifier (for registrations that are
// meant to be refused).
ZELM_SETTING_PROVIDER HarnessProviderWithId(const CHAR8 *Id);

#endif
