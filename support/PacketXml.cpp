#include "support/PacketXml.h"

#include "support/FirmwareTables.h"
#include "support/PacketRecord.h"
#include "support/Text.h"

namespace {

constexpr CHAR8 kResultTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                    "<ResultsPacket xmlns=\"urn:UefiSettings-Schema\">"
                                    "</ResultsPacket>";
static_assert(sizeof(kResultTemplate) - 1 == 101, "result template");

// The first child Name of Node read as a 32-bit number; FALSE when the
// child is missing, has no text, or holds more than 32 bits.
BOOLEAN ReadVersionChild(const XmlNode *node, const CHAR8 *name, UINT32 *version) {
  const XmlNode *child = XmlFindChild(node, name);
  UINT64 value = 0;
  if (child == nullptr || !ReadDecimalText(child->Value, 0xFFFFFFFF, &value)) {
    return FALSE;
  }
  *version = static_cast<UINT32>(value);
  return TRUE;
}

} // namespace

XmlNode *BuildResultsTree(const EFI_TIME *Time, const CHAR8 *ListName) {
  XmlTreeGuard tree;
  if (EFI_ERROR(XmlParse(kResultTemplate, sizeof(kResultTemplate) - 1, tree.out())) ||
      tree.get() == nullptr) {
    return nullptr;
  }
  TimeText applied;
  FormatTimeText(Time, &applied);
  if (EFI_ERROR(XmlAddNode(tree.get(), "AppliedOn", applied.text, nullptr)) ||
      EFI_ERROR(XmlAddNode(tree.get(), ListName, nullptr, nullptr))) {
    return nullptr;
  }
  return tree.release();
}

BOOLEAN XmlNamed(const XmlNode *Node, const CHAR8 *Name) {
  return Node != nullptr && CompareAscii(Node->Name, Name) == 0;
}

BOOLEAN ReadDecimalText(const CHAR8 *Text, UINT64 Limit, UINT64 *Value) {
  if (Text == nullptr || Text[0] == '\0') {
    return FALSE;
  }
  return !EFI_ERROR(ParseDecimal(Text, nullptr, Value)) && *Value <= Limit;
}

EFI_STATUS OpenPacketDocuments(const ZELM_APPLY_PACKET *Packet, const CHAR8 *RootName,
                               const CHAR8 *ListName, XmlTreeGuard *PacketTree,
                               XmlTreeGuard *ResultTree, UINT32 *State) {
  *State = ZELM_PACKET_STATE_MALFORMED;
  UINTN length = Packet->Payload == nullptr ? 0 : PayloadTextLength(Packet);
  // A parse that stops before the first start tag succeeds without a root.
  if (length == 0 || EFI_ERROR(XmlParse(Packet->Payload, length, PacketTree->out())) ||
      PacketTree->get() == nullptr) {
    return EFI_NO_MAPPING;
  }
  EFI_TIME now = {};
  if (EFI_ERROR(gRT->GetTime(&now, nullptr))) {
    *State = ZELM_PACKET_STATE_INTERNAL_FAILURE;
    return EFI_ABORTED;
  }
  *ResultTree->out() = BuildResultsTree(&now, ListName);
  if (ResultTree->get() == nullptr) {
    return EFI_ABORTED;
  }
  const XmlNode *root = PacketTree->get();
  if (root->XmlDeclaration == nullptr || !XmlNamed(root, RootName)) {
    return EFI_NO_MAPPING;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ReadPacketVersions(const XmlNode *Root, UINT32 Floor, UINT32 *Version, UINT32 *Lowest,
                              UINT32 *State) {
  *State = ZELM_PACKET_STATE_MALFORMED;
  if (!ReadVersionChild(Root, "Version", Version)) {
    return EFI_NO_MAPPING;
  }
  if (*Version < Floor) {
    *State = ZELM_PACKET_STATE_VERSION_TOO_LOW;
    return EFI_ACCESS_DENIED;
  }
  if (!ReadVersionChild(Root, "LowestSupportedVersion", Lowest)) {
    return EFI_NO_MAPPING;
  }
  if (*Lowest > *Version) {
    *State = ZELM_PACKET_STATE_BAD_LENGTH;
    return EFI_NO_MAPPING;
  }
  return EFI_SUCCESS;
}
