// One permissions packet applied to the in-memory store: the packet's XML
// read, the delegation rules applied entry by entry, and the
// "ResultsPacket" built. Driven by the permissions-apply protocol.
#ifndef ZELM_PERMISSIONS_PERMISSIONS_PACKET_H_
#define ZELM_PERMISSIONS_PERMISSIONS_PACKET_H_

#include <zelm/ZelmApplyPacket.h>

#include "permissions/PermissionStore.h"
#include "xml/Xml.h"

// Applies the authenticated packet (State 2) to the driver's store and
// leaves the serialised results in ResultText and ResultSize. A refusal
// records State and Status; once the store has been touched it is reloaded
// from "_SPP", so no partial change survives. Returns the packet's status.
[[nodiscard]] EFI_STATUS ProcessPermissionsPacket(ZELM_APPLY_PACKET *Packet);

// The result template's tree with "AppliedOn" (Time) and an empty
// "Permissions" under its root, or NULL.
XmlNode *BuildPermissionsResultTree(const EFI_TIME *Time);

// *Append is TRUE exactly when the "Append" attribute of Permissions is
// "True". EFI_INVALID_PARAMETER (not a "Permissions" element, no address);
// EFI_NOT_FOUND (no "Append").
[[nodiscard]] EFI_STATUS ReadAppendFlag(const XmlNode *Permissions, BOOLEAN *Append);

// New defaults from the "Default" and (when "Default" is there)
// "Delegated" attributes; the values passed in stay where an attribute is
// absent. EFI_INVALID_PARAMETER (not a "Permissions" element, no address,
// an attribute without text or above 249, a "Delegated" carrying the
// removal mark); EFI_NOT_FOUND (no "Default").
[[nodiscard]] EFI_STATUS ReadPermissionsDefaults(const XmlNode *Permissions, UINT8 *PMask,
                                                 UINT8 *DMask);

// DMask value that stands for "not given".
inline constexpr UINT8 kDMaskAbsent = 2;

// One permission element: *Id its "Id" text (NULL when the element has
// none), *PMask, and *DMask (kDMaskAbsent when not given).
// EFI_INVALID_PARAMETER (no address, a parent not named "Permissions", a
// mask without text, above 249, or a DMask carrying the removal mark);
// EFI_NOT_FOUND (no "Id" or no "PMask").
[[nodiscard]] EFI_STATUS ReadPermissionElement(const XmlNode *Element, const CHAR8 **Id,
                                               UINT8 *PMask, UINT8 *DMask);

#endif
