// "ZelmDeviceIdentifier": the device's manufacturer, product name and
// serial number from SMBIOS, as a UEFIDeviceIdentifierPacket XML document
// for the operating system.
#ifndef ZELM_IDENTITY_DEVICE_IDENTIFIER_H_
#define ZELM_IDENTITY_DEVICE_IDENTIFIER_H_

#include "xml/Xml.h"

extern CHAR16 kDeviceIdentifierVariableName[]; // "ZelmDeviceIdentifier"

// Reads the three strings, builds the document and writes its text with
// its NUL into "ZelmDeviceIdentifier" (attributes 7) unless it already
// holds exactly that. A variable of other attributes is deleted first (the
// firmware would refuse to change them).
// Any failure before the write (no SMBIOS protocol or System Information
// structure, no pool, a tree step) leaves the variable as it was; nothing
// is reported.
VOID PublishDeviceIdentifier(VOID);

// The packet template's tree with an empty "Identifiers" under its root,
// or NULL.
XmlNode *BuildDeviceIdentifierTemplate(VOID);

// Appends one "Identifier" holding "Id" (Name) and "Value" (Value; NULL or
// empty writes an empty element) under Identifiers.
// EFI_INVALID_PARAMETER (Identifiers or Name NULL, an element not named
// exactly "Identifiers"); EFI_DEVICE_ERROR (an element could not be added;
// those added stay).
[[nodiscard]] EFI_STATUS AddIdentifier(XmlNode *Identifiers, const CHAR8 *Name, const CHAR8 *Value);

#endif
