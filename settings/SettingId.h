// Setting identifiers: NUL-terminated ASCII, compared case-sensitively over
// at most ZELM_SETTING_ID_MAX_LENGTH characters.
#ifndef ZELM_SETTINGS_SETTING_ID_H_
#define ZELM_SETTINGS_SETTING_ID_H_

#include <zelm/ZelmSettingProvider.h>

#include "support/Text.h"

// TRUE when Id is not NULL and ends within the comparison length, so that
// no two distinct identifiers can compare equal.
inline BOOLEAN SettingIdFits(const CHAR8 *Id) {
  if (Id == nullptr) {
    return FALSE;
  }
  for (UINTN i = 0; i <= ZELM_SETTING_ID_MAX_LENGTH; i++) {
    if (Id[i] == '\0') {
      return TRUE;
    }
  }
  return FALSE;
}

// Identifiers that begin with a digit are never providers.
inline BOOLEAN SettingIdStartsWithDigit(const CHAR8 *Id) {
  return Id[0] >= '0' && Id[0] <= '9';
}

inline BOOLEAN SettingIdEquals(const CHAR8 *A, const CHAR8 *B) {
  return CompareAsciiCount(A, B, ZELM_SETTING_ID_MAX_LENGTH) == 0;
}

#endif
