// "ZelmSettingsCurrent" and "UEFISettingsCurrent": the settings in force,
// as a CurrentSettingsPacket XML document for the operating system.
#ifndef ZELM_SETTINGS_CURRENT_SETTINGS_H_
#define ZELM_SETTINGS_CURRENT_SETTINGS_H_

#include "xml/Xml.h"

// Builds the document and writes each variable whose stored content,
// apart from the date, differs from it (an absent variable or one of other
// attributes differs): a setting changed outside the driver, a raised
// version floor, or an earlier failed write is caught at the next
// ready-to-boot, and flash is not rewritten needlessly.
// "UEFISettingsCurrent" follows only once "ZelmSettingsCurrent" holds the
// document. Failures only stop the publication.
VOID PublishCurrentSettings(VOID);

// The document serialised into a new pool buffer (*Text, freed by the
// caller with XmlPoolFree) of *Size bytes with its NUL; both cleared on
// failure. EFI_INVALID_PARAMETER (NULL address); GetTime's status;
// EFI_ABORTED (the tree could not be started); EFI_NO_MAPPING (the
// template lost its root or "Settings"); XmlAddNode's and
// XmlTreeToString's statuses.
[[nodiscard]] EFI_STATUS BuildCurrentSettings(CHAR8 **Text, UINTN *Size);

// Appends one "SettingCurrent" (Id, and Value with ValueText, no text when
// empty) under Settings. EFI_INVALID_PARAMETER (NULL argument, an element
// not named "Settings"); EFI_DEVICE_ERROR (an element could not be added).
[[nodiscard]] EFI_STATUS AddSettingCurrent(XmlNode *Settings, const CHAR8 *Id,
                                           const CHAR8 *ValueText);

#endif
