#include "permissions/CurrentPermissions.h"

#include <zelm/ZelmGuids.h>

#include "permissions/PermissionStore.h"
#include "support/FirmwareTables.h"
#include "support/PacketRecord.h"
#include "support/PublishedDocument.h"
#include "support/Text.h"
#include "support/VariableAlloc.h"
#include "support/VariableAttributes.h"
#include "support/XmlTreeGuard.h"

CHAR16 kPermissionCurrentVariableName[] = u"ZelmPermissionCurrent";

namespace {

constexpr CHAR8 kTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                              "<CurrentPermissionsPacket xmlns=\"urn:UefiSettings-Schema\">"
                              "</CurrentPermissionsPacket>";
static_assert(sizeof(kTemplate) - 1 == 123, "document template");
constexpr CHAR8 kRootName[] = "CurrentPermissionsPacket";
constexpr CHAR8 kPermissionsName[] = "Permissions";

// Decimal text of a mask; 8 bytes hold any of them.
struct MaskText {
  CHAR8 text[8];
};

[[nodiscard]] EFI_STATUS FormatMask(UINT8 mask, MaskText *out) {
  return ValueToAscii(out->text, sizeof(out->text), 0, mask, 0);
}

[[nodiscard]] EFI_STATUS AddMaskNode(XmlNode *parent, const CHAR8 *name, UINT8 mask) {
  MaskText text;
  EFI_STATUS status = FormatMask(mask, &text);
  return EFI_ERROR(status) ? status : XmlAddNode(parent, name, text.text, nullptr);
}

[[nodiscard]] EFI_STATUS AddMaskAttribute(XmlNode *node, const CHAR8 *name, UINT8 mask) {
  MaskText text;
  EFI_STATUS status = FormatMask(mask, &text);
  return EFI_ERROR(status) ? status : XmlAddAttribute(node, name, text.text);
}

BOOLEAN NamedExactly(const XmlNode *node, const CHAR8 *name) {
  return CompareAscii(node->Name, name) == 0;
}

// Fills the tree started from the template; the caller serialises it.
[[nodiscard]] EFI_STATUS FillTree(XmlNode *root) {
  if (root->XmlDeclaration == nullptr || !NamedExactly(root, kRootName)) {
    return EFI_NO_MAPPING;
  }
  EFI_STATUS status = XmlAddNode(root, "LSV", "0", nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  XmlNode *permissions = XmlFindChild(root, kPermissionsName);
  if (permissions == nullptr) {
    return EFI_NO_MAPPING;
  }
  PermissionStore *store = CurrentPermissionStore();
  if (store == nullptr) {
    return EFI_NOT_FOUND;
  }
  if (EFI_ERROR(AddMaskAttribute(root, "Default", store->DefaultPMask)) ||
      EFI_ERROR(AddMaskAttribute(root, "Delegated", store->DefaultDMask))) {
    return EFI_DEVICE_ERROR;
  }
  // A document without one of the entries would tell the reader that its
  // setting follows the defaults: publish nothing rather than that.
  for (PermissionEntry *e = FirstPermissionEntry(store); e != nullptr;
       e = NextPermissionEntry(store, e)) {
    status = AddPermissionCurrent(permissions, e->Id, e->PMask, e->DMask);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  return EFI_SUCCESS;
}

VOID DeleteCurrentPermissions() {
  (VOID)
      gRT->SetVariable(kPermissionCurrentVariableName, &gZelmPermissionVariableGuid, 0, 0, nullptr);
}

[[nodiscard]] EFI_STATUS Publish(BOOLEAN force) {
  CHAR8 *text = nullptr;
  UINTN size = 0;
  EFI_STATUS status = BuildCurrentPermissionsXml(&text, &size);
  if (EFI_ERROR(status)) {
    return status;
  }
  if (force) {
    (VOID) DeleteVariableOfOtherAttributes(
        kPermissionCurrentVariableName, &gZelmPermissionVariableGuid, kPublishedVariableAttributes);
    status = gRT->SetVariable(kPermissionCurrentVariableName, &gZelmPermissionVariableGuid,
                              kPublishedVariableAttributes, size, text);
  } else {
    status = WritePublishedDocument(kPermissionCurrentVariableName, &gZelmPermissionVariableGuid,
                                    text, size);
  }
  XmlPoolFree(text);
  return status;
}

} // namespace

EFI_STATUS PublishCurrentPermissions(BOOLEAN Force) {
  EFI_STATUS status = Publish(Force);
  if (EFI_ERROR(status) && Force) {
    DeleteCurrentPermissions();
  }
  return status;
}

EFI_STATUS BuildCurrentPermissionsXml(CHAR8 **Text, UINTN *Size) {
  if (Text == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Text = nullptr;
  *Size = 0;
  EFI_TIME now = {};
  EFI_STATUS status = gRT->GetTime(&now, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  XmlTreeGuard tree;
  *tree.out() = BuildCurrentPermissionsTree(&now);
  if (tree.get() == nullptr) {
    return EFI_ABORTED;
  }
  status = FillTree(tree.get());
  if (EFI_ERROR(status)) {
    return status;
  }
  UINTN size = 0;
  CHAR8 *text = nullptr;
  status = XmlTreeToString(tree.get(), 0, &size, &text);
  if (EFI_ERROR(status)) {
    return status;
  }
  *Text = text;
  *Size = size;
  return EFI_SUCCESS;
}

XmlNode *BuildCurrentPermissionsTree(const EFI_TIME *Time) {
  XmlTreeGuard tree;
  if (EFI_ERROR(XmlParse(kTemplate, sizeof(kTemplate) - 1, tree.out())) || tree.get() == nullptr) {
    return nullptr;
  }
  TimeText date;
  FormatTimeText(Time, &date);
  if (EFI_ERROR(XmlAddNode(tree.get(), "Date", date.text, nullptr)) ||
      EFI_ERROR(XmlAddNode(tree.get(), kPermissionsName, nullptr, nullptr))) {
    return nullptr;
  }
  return tree.release();
}

EFI_STATUS AddPermissionCurrent(XmlNode *Permissions, const CHAR8 *Id, UINT8 PMask, UINT8 DMask) {
  if (Permissions == nullptr || Id == nullptr || !NamedExactly(Permissions, kPermissionsName)) {
    return EFI_INVALID_PARAMETER;
  }
  XmlNode *entry = nullptr;
  if (EFI_ERROR(XmlAddNode(Permissions, "PermissionCurrent", nullptr, &entry)) ||
      EFI_ERROR(XmlAddNode(entry, "Id", Id, nullptr)) ||
      EFI_ERROR(AddMaskNode(entry, "PMask", PMask)) ||
      (DMask != 0 && EFI_ERROR(AddMaskNode(entry, "DMask", DMask)))) {
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}
