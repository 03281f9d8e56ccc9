// "ZelmPermissionCurrent": the permissions in force, as a
// CurrentPermissionsPacket XML document for the operating system.
#ifndef ZELM_PERMISSIONS_CURRENT_PERMISSIONS_H_
#define ZELM_PERMISSIONS_CURRENT_PERMISSIONS_H_

#include "xml/Xml.h"

extern CHAR16 kPermissionCurrentVariableName[]; // "ZelmPermissionCurrent"

// Writes the document of the driver's store into "ZelmPermissionCurrent"
// (attributes 7). With Force clear it is written only when the stored copy
// differs apart from its date, so start-up repairs a document that a power
// cut left stale and writes nothing on a steady boot. A variable with other
// attributes is deleted before the write (the firmware would refuse it);
// when a forced publication fails the variable is deleted, so a later
// start-up publishes afresh instead of leaving a stale document.
// EFI_SUCCESS; the statuses of BuildCurrentPermissionsXml and SetVariable.
[[nodiscard]] EFI_STATUS PublishCurrentPermissions(BOOLEAN Force);

// The document of the driver's store, serialised into a new pool buffer
// (*Text, freed by the caller) of *Size bytes with its NUL. Both are
// cleared on failure. EFI_INVALID_PARAMETER (NULL address); GetTime's
// status; EFI_ABORTED (the tree could not be started); EFI_NO_MAPPING (the
// template lost its root or "Permissions"); EFI_NOT_FOUND (no store);
// EFI_DEVICE_ERROR (an element or attribute could not be added);
// XmlTreeToString's status.
[[nodiscard]] EFI_STATUS BuildCurrentPermissionsXml(CHAR8 **Text, UINTN *Size);

// The template's tree with "Date" (Time) and an empty "Permissions" under
// its root, or NULL.
XmlNode *BuildCurrentPermissionsTree(const EFI_TIME *Time);

// Appends one "PermissionCurrent" (Id, PMask, and DMask unless it is 0)
// under Permissions. EFI_INVALID_PARAMETER (NULL argument, an element not
// named "Permissions"); EFI_DEVICE_ERROR (an element could not be added;
// those added stay).
[[nodiscard]] EFI_STATUS AddPermissionCurrent(XmlNode *Permissions, const CHAR8 *Id, UINT8 PMask,
                                              UINT8 DMask);

#endif
