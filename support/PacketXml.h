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

// The first child Name of Node read as a 32-bit number; FALSE when the
// child is missing, has no text, or holds more than 32 bits.
BOOLEAN ReadVersionChild(const XmlNode *Node, const CHAR8 *Name, UINT32 *Version);

// The opening steps of both packet kinds: the payload text parsed into
// *PacketTree (text up to its first NUL; none, or a parse without a root,
// is malformed), the clock read, *ResultTree started with ListName, and the
// root checked for a declaration and the name RootName. EFI_SUCCESS, or
// the refusal's status with *State: 248 and EFI_NO_MAPPING (malformed),
// 255 and EFI_ABORTED (no clock), 248 and EFI_ABORTED (no results tree).
[[nodiscard]] EFI_STATUS OpenPacketDocuments(const ZELM_APPLY_PACKET *Packet, const CHAR8 *RootName,
                                             const CHAR8 *ListName, XmlTreeGuard *PacketTree,
                                             XmlTreeGuard *ResultTree, UINT32 *State);

#endif
