// XML pieces shared by the settings and permissions packets: the
// "ResultsPacket" document both answer with, and their decimal fields.
#ifndef ZELM_SUPPORT_PACKET_XML_H_
#define ZELM_SUPPORT_PACKET_XML_H_

#include <zelm/ZelmApplyPacket.h>

#include "support/XmlTreeGuard.h"
#include "xml/Xml.h"

// The "ResultsPacket" template's tree with "AppliedOn" (Time) and an empty
// ListName element under its root, or NULL (nothing left allocated).
XmlNode *BuildResultsTree(const EFI_TIME *Time, const CHAR8 *ListName);

// TRUE when Node is not NULL and named exactly Name.
BOOLEAN XmlNamed(const XmlNode *Node, const CHAR8 *Name);

// Reads decimal Text (blanks and zeros skipped, up to the first non-digit)
// into *Value; FALSE for no text or a number above Limit.
BOOLEAN ReadDecimalText(const CHAR8 *Text, UINT64 Limit, UINT64 *Value);

// The opening steps of both packet kinds: the payload text parsed into
// *PacketTree (text up to its first NUL; none, or a parse without a root,
// is malformed), the clock read, *ResultTree started with ListName, and the
// root checked for a declaration and the name RootName. EFI_SUCCESS, or
// the refusal's status with *State: 248 and EFI_NO_MAPPING (malformed),
// 255 and EFI_ABORTED (no clock), 248 and EFI_ABORTED (no results tree).
[[nodiscard]] EFI_STATUS OpenPacketDocuments(const ZELM_APPLY_PACKET *Packet, const CHAR8 *RootName,
                                             const CHAR8 *ListName, XmlTreeGuard *PacketTree,
                                             XmlTreeGuard *ResultTree, UINT32 *State);

// The root's "Version" and "LowestSupportedVersion" against the stored
// Floor, in the order both packet kinds check them. EFI_SUCCESS, or the
// refusal's status with *State: 248 and EFI_NO_MAPPING (a version missing,
// without text or over 32 bits), 240 and EFI_ACCESS_DENIED ("Version"
// below Floor), 253 and EFI_NO_MAPPING ("LowestSupportedVersion" above
// "Version").
[[nodiscard]] EFI_STATUS ReadPacketVersions(const XmlNode *Root, UINT32 Floor, UINT32 *Version,
                                            UINT32 *Lowest, UINT32 *State);

#endif
