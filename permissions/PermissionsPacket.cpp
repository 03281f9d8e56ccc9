#include "permissions/PermissionsPacket.h"

#include "permissions/Identities.h"
#include "permissions/PermissionImage.h"
#include "permissions/PermissionStore.h"
#include "support/PacketRecord.h"
#include "support/PacketXml.h"
#include "support/Text.h"
#include "support/XmlTreeGuard.h"

namespace {

constexpr CHAR8 kPermissionsName[] = "Permissions";
constexpr UINT8 kMaxMask = 249;
// The delegating identities, lowest first; the highest one set in an
// entry's DMask owns the entry in replace mode.
constexpr UINT8 kDelegatingBits[] = {0x10, 0x20, 0x40, 0x80};

BOOLEAN ReadMask(const CHAR8 *text, UINT8 *mask) {
  UINT64 value = 0;
  if (!ReadDecimalText(text, kMaxMask, &value)) {
    return FALSE;
  }
  *mask = static_cast<UINT8>(value);
  return TRUE;
}

UINT8 OwnerBit(UINT8 dMask) {
  UINT8 owner = 0;
  for (UINT8 bit : kDelegatingBits) {
    if ((dMask & bit) != 0) {
      owner = bit;
    }
  }
  return owner;
}

// One packet being applied: the two trees, and whether the store has been
// touched (a refusal after that point reloads "_SPP").
class PacketRun {
public:
  explicit PacketRun(ZELM_APPLY_PACKET *packet) : packet_(packet) {}

  EFI_STATUS Run();

private:
  EFI_STATUS Refuse(UINT32 state, EFI_STATUS status) {
    packet_->State = state;
    packet_->Status = status;
    if (touched_) {
      (VOID) ReloadPermissionStore();
    }
    return status;
  }
  EFI_STATUS Malformed() { return Refuse(ZELM_PACKET_STATE_MALFORMED, EFI_NO_MAPPING); }

  EFI_STATUS ApplyEntries(XmlNode *permissions, XmlNode *results);
  EFI_STATUS ApplyEntry(const CHAR8 *id, UINT8 pMask, UINT8 dMask, EFI_STATUS *result);
  EFI_STATUS Finish();

  ZELM_APPLY_PACKET *packet_;
  PermissionStore *store_ = nullptr;
  UINT8 caller_ = 0; // low byte of the signer's identity mask
  BOOLEAN touched_ = FALSE;
  XmlTreeGuard packetTree_;
  XmlTreeGuard resultTree_;
};

EFI_STATUS PacketRun::Run() {
  if (packet_->State != ZELM_PACKET_STATE_AUTHENTICATED) {
    return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_ABORTED);
  }
  UINT32 identity = 0;
  if (EFI_ERROR(GetIdentityMask(&packet_->AuthToken, &identity))) {
    return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_ABORTED);
  }
  caller_ = static_cast<UINT8>(identity);
  store_ = CurrentPermissionStore();
  if (store_ == nullptr) {
    return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_NOT_READY);
  }
  UINT32 state = 0;
  EFI_STATUS opened = OpenPacketDocuments(packet_, "PermissionsPacket", kPermissionsName,
                                          &packetTree_, &resultTree_, &state);
  if (EFI_ERROR(opened)) {
    return Refuse(state, opened);
  }
  XmlNode *root = packetTree_.get();
  UINT32 version = 0;
  UINT32 lowest = 0;
  opened = ReadPacketVersions(root, store_->LowestSupportedVersion, &version, &lowest, &state);
  if (EFI_ERROR(opened)) {
    return Refuse(state, opened);
  }
  XmlNode *permissions = XmlFindChild(root, kPermissionsName);
  if (permissions == nullptr) {
    return Malformed();
  }
  XmlNode *results = XmlFindChild(resultTree_.get(), kPermissionsName);
  if (results == nullptr) {
    return Refuse(ZELM_PACKET_STATE_MALFORMED, EFI_ABORTED);
  }
  BOOLEAN append = FALSE;
  if (EFI_ERROR(ReadAppendFlag(permissions, &append)) || (append && packet_->NoAppend != 0)) {
    return Malformed();
  }

  touched_ = TRUE;
  if (!append) {
    for (PermissionEntry *e = FirstPermissionEntry(store_); e != nullptr;
         e = NextPermissionEntry(store_, e)) {
      if ((caller_ & OwnerBit(e->DMask)) != 0) {
        e->DMask |= kRemovalMark;
      }
    }
  }
  store_->Version = version;
  if (lowest > store_->LowestSupportedVersion) {
    store_->LowestSupportedVersion = lowest;
  }
  UINT8 pMask = store_->DefaultPMask;
  UINT8 dMask = store_->DefaultDMask;
  EFI_STATUS status = ReadPermissionsDefaults(permissions, &pMask, &dMask);
  if (status != EFI_NOT_FOUND) {
    if (EFI_ERROR(status)) {
      return Malformed();
    }
    if ((caller_ & store_->DefaultDMask) != 0) {
      store_->DefaultPMask = pMask;
      store_->DefaultDMask = dMask;
    }
  }
  status = ApplyEntries(permissions, results);
  if (EFI_ERROR(status)) {
    return status;
  }
  return Finish();
}

EFI_STATUS PacketRun::ApplyEntries(XmlNode *permissions, XmlNode *results) {
  for (XmlNode *element = XmlFirstChild(permissions); element != nullptr;
       element = XmlNextSibling(element)) {
    const CHAR8 *id = nullptr;
    UINT8 pMask = 0;
    UINT8 dMask = 0;
    if (EFI_ERROR(ReadPermissionElement(element, &id, &pMask, &dMask))) {
      return Malformed();
    }
    EFI_STATUS result = EFI_SUCCESS;
    EFI_STATUS status = ApplyEntry(id, pMask, dMask, &result);
    if (EFI_ERROR(status)) {
      return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, status);
    }
    StatusText text;
    FormatStatusText(result, &text);
    XmlNode *node = nullptr;
    if (id == nullptr || EFI_ERROR(XmlAddNode(results, "PermissionResult", nullptr, &node)) ||
        EFI_ERROR(XmlAddNode(node, "Id", id, nullptr)) ||
        EFI_ERROR(XmlAddNode(node, "Result", text.text, nullptr))) {
      return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_DEVICE_ERROR);
    }
  }
  return EFI_SUCCESS;
}

// Applies one element under the delegation rules; *Result is the
// element's status in the results. A failure refuses the packet.
EFI_STATUS PacketRun::ApplyEntry(const CHAR8 *id, UINT8 pMask, UINT8 dMask, EFI_STATUS *result) {
  // No id, or one over 96 characters, has no entry.
  PermissionEntry *entry = FindPermissionEntry(store_, id);
  if (entry != nullptr) {
    if ((caller_ & entry->DMask) == 0) {
      *result = EFI_ACCESS_DENIED;
      return EFI_SUCCESS;
    }
    entry->PMask = pMask;
    entry->DMask =
        static_cast<UINT8>((dMask == kDMaskAbsent ? entry->DMask : dMask) & ~kRemovalMark);
    *result = EFI_SUCCESS;
    return EFI_SUCCESS;
  }
  if ((caller_ & store_->DefaultDMask) == 0) {
    *result = EFI_ACCESS_DENIED;
    return EFI_SUCCESS;
  }
  // The caller's own byte delegates a new entry; never with the mark.
  UINT8 newDMask = dMask == kDMaskAbsent ? static_cast<UINT8>(caller_ & ~kRemovalMark) : dMask;
  if (id == nullptr || EFI_ERROR(AddPermissionEntry(store_, id, pMask, newDMask))) {
    return EFI_ABORTED;
  }
  *result = EFI_SUCCESS;
  return EFI_SUCCESS;
}

// Drops the marked entries, checks the store still fits "_SPP", and
// serialises the results.
EFI_STATUS PacketRun::Finish() {
  PermissionEntry *e = FirstPermissionEntry(store_);
  while (e != nullptr) {
    PermissionEntry *next = NextPermissionEntry(store_, e);
    if ((e->DMask & kRemovalMark) != 0) {
      RemovePermissionEntry(store_, e);
    }
    e = next;
  }
  // Refused now rather than reported applied and lost when it is saved.
  if (PermissionImageSize(store_) > kPermissionStoreMaxSize) {
    return Refuse(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_INVALID_PARAMETER);
  }
  packet_->State = ZELM_PACKET_STATE_APPLIED;
  UINTN size = 0;
  CHAR8 *text = nullptr;
  if (EFI_ERROR(XmlTreeToString(resultTree_.get(), 0, &size, &text)) ||
      size > ZELM_MAX_RESULT_SIZE) {
    XmlPoolFree(text);
    return Refuse(ZELM_PACKET_STATE_APPLIED, EFI_ABORTED);
  }
  packet_->ResultText = text;
  packet_->ResultSize = size;
  packet_->Status = EFI_SUCCESS;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS ProcessPermissionsPacket(ZELM_APPLY_PACKET *Packet) {
  if (Packet == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return PacketRun(Packet).Run();
}

XmlNode *BuildPermissionsResultTree(const EFI_TIME *Time) {
  return BuildResultsTree(Time, kPermissionsName);
}

EFI_STATUS ReadAppendFlag(const XmlNode *Permissions, BOOLEAN *Append) {
  if (!XmlNamed(Permissions, kPermissionsName) || Append == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const CHAR8 *value = XmlFindAttribute(Permissions, "Append");
  if (value == nullptr) {
    return EFI_NOT_FOUND;
  }
  *Append = CompareAscii(value, "True") == 0;
  return EFI_SUCCESS;
}

EFI_STATUS ReadPermissionsDefaults(const XmlNode *Permissions, UINT8 *PMask, UINT8 *DMask) {
  if (!XmlNamed(Permissions, kPermissionsName) || PMask == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const CHAR8 *defaultText = XmlFindAttribute(Permissions, "Default");
  if (defaultText == nullptr) {
    return EFI_NOT_FOUND;
  }
  if (!ReadMask(defaultText, PMask)) {
    return EFI_INVALID_PARAMETER;
  }
  const CHAR8 *delegatedText = XmlFindAttribute(Permissions, "Delegated");
  if (delegatedText == nullptr) {
    return EFI_SUCCESS;
  }
  UINT8 delegated = 0;
  if (DMask == nullptr || !ReadMask(delegatedText, &delegated) || (delegated & kRemovalMark) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  *DMask = delegated;
  return EFI_SUCCESS;
}

EFI_STATUS ReadPermissionElement(const XmlNode *Element, const CHAR8 **Id, UINT8 *PMask,
                                 UINT8 *DMask) {
  if (Element == nullptr || Id == nullptr || PMask == nullptr || DMask == nullptr ||
      !XmlNamed(Element->ParentNode, kPermissionsName)) {
    return EFI_INVALID_PARAMETER;
  }
  const XmlNode *id = XmlFindChild(Element, "Id");
  if (id == nullptr) {
    return EFI_NOT_FOUND;
  }
  *Id = id->Value;
  const XmlNode *pMask = XmlFindChild(Element, "PMask");
  if (pMask == nullptr) {
    return EFI_NOT_FOUND;
  }
  if (!ReadMask(pMask->Value, PMask)) {
    return EFI_INVALID_PARAMETER;
  }
  *DMask = kDMaskAbsent;
  const XmlNode *dMask = XmlFindChild(Element, "DMask");
  if (dMask == nullptr) {
    return EFI_SUCCESS;
  }
  UINT8 value = 0;
  if (!ReadMask(dMask->Value, &value) || (value & kRemovalMark) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  *DMask = value;
  return EFI_SUCCESS;
}
