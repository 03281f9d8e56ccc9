#include "identity/DeviceIdentifier.h"

#include <zelm/ZelmGuids.h>

#include "identity/SmbiosStrings.h"
#include "support/FirmwareTables.h"
#include "support/Pool.h"
#include "support/PublishedDocument.h"
#include "support/Text.h"
#include "support/XmlTreeGuard.h"

CHAR16 kDeviceIdentifierVariableName[] = u"ZelmDeviceIdentifier";

namespace {

constexpr CHAR8 kTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                              "<UEFIDeviceIdentifierPacket></UEFIDeviceIdentifierPacket>";
static_assert(sizeof(kTemplate) - 1 == 95, "packet template");
constexpr CHAR8 kRootName[] = "UEFIDeviceIdentifierPacket";
constexpr CHAR8 kIdentifiersName[] = "Identifiers";
constexpr UINTN kIdentifierCount = 3;
constexpr const CHAR8 *kIdentifierNames[kIdentifierCount] = {"Manufacturer", "Product Name",
                                                             "Serial Number"};

// The value of identifier Index, fetched on its own as each walks SMBIOS anew.
EFI_STATUS FetchValue(UINTN index, PoolPtr<CHAR8> *value) {
  CHAR8 *text = nullptr;
  EFI_STATUS status = GetSystemInfoStrings(
      index == 0 ? &text : nullptr, index == 1 ? &text : nullptr, index == 2 ? &text : nullptr);
  value->reset(text);
  return status;
}

// The document's text with its NUL; *Size counts the NUL.
EFI_STATUS BuildText(const PoolPtr<CHAR8> (&values)[kIdentifierCount], CHAR8 **text, UINTN *size) {
  XmlTreeGuard tree;
  *tree.out() = BuildDeviceIdentifierTemplate();
  XmlNode *root = tree.get();
  if (root == nullptr) {
    return EFI_ABORTED;
  }
  if (root->XmlDeclaration == nullptr ||
      CompareAsciiCount(root->Name, kRootName, sizeof(kRootName)) != 0) {
    return EFI_NO_MAPPING;
  }
  EFI_STATUS status = XmlAddNode(root, "ZelmVersion", "2", nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  XmlNode *identifiers = XmlFindChild(root, kIdentifiersName);
  if (identifiers == nullptr) {
    return EFI_NO_MAPPING;
  }
  for (UINTN i = 0; i < kIdentifierCount; i++) {
    status = AddIdentifier(identifiers, kIdentifierNames[i], values[i].get());
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  XmlDebugDump(root, 0);
  return XmlTreeToString(root, 0, size, text);
}

} // namespace

VOID PublishDeviceIdentifier(VOID) {
  PoolPtr<CHAR8> values[kIdentifierCount];
  for (UINTN i = 0; i < kIdentifierCount; i++) {
    if (EFI_ERROR(FetchValue(i, &values[i]))) {
      return;
    }
  }
  CHAR8 *text = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(BuildText(values, &text, &size))) {
    return;
  }
  // Written only when it changed: the identifier is the same on most boots.
  (VOID) WritePublishedDocument(kDeviceIdentifierVariableName, &gZelmDeviceIdentifierVariableGuid,
                                text, size);
  XmlPoolFree(text);
}

XmlNode *BuildDeviceIdentifierTemplate(VOID) {
  XmlTreeGuard tree;
  if (EFI_ERROR(XmlParse(kTemplate, sizeof(kTemplate) - 1, tree.out())) || tree.get() == nullptr ||
      EFI_ERROR(XmlAddNode(tree.get(), kIdentifiersName, nullptr, nullptr))) {
    return nullptr;
  }
  return tree.release();
}

EFI_STATUS AddIdentifier(XmlNode *Identifiers, const CHAR8 *Name, const CHAR8 *Value) {
  if (Identifiers == nullptr || Name == nullptr ||
      CompareAscii(Identifiers->Name, kIdentifiersName) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  XmlNode *identifier = nullptr;
  if (EFI_ERROR(XmlAddNode(Identifiers, "Identifier", nullptr, &identifier)) ||
      EFI_ERROR(XmlAddNode(identifier, "Id", Name, nullptr)) ||
      EFI_ERROR(XmlAddNode(identifier, "Value", Value, nullptr))) {
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}
