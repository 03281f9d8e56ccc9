#include "settings/CurrentSettings.h"

#include <zelm/ZelmGuids.h>

#include "settings/Registry.h"
#include "settings/SettingAccess.h"
#include "settings/SettingsManagerData.h"
#include "settings/SettingsVariables.h"
#include "settings/ValueConversion.h"
#include "support/FirmwareTables.h"
#include "support/Memory.h"
#include "support/PacketRecord.h"
#include "support/PacketXml.h"
#include "support/Pool.h"
#include "support/PublishedDocument.h"
#include "support/Text.h"
#include "support/VariableAlloc.h"
#include "support/XmlTreeGuard.h"

namespace {

constexpr CHAR8 kTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                              "<CurrentSettingsPacket xmlns=\"urn:UefiSettings-Schema\">"
                              "</CurrentSettingsPacket>";
static_assert(sizeof(kTemplate) - 1 == 117, "document template");
constexpr CHAR8 kSettingsName[] = "Settings";

// Combined values a group's Get reports.
const CHAR8 *GroupValueText(EFI_STATUS status, UINT8 value) {
  if (EFI_ERROR(status)) {
    return "Error";
  }
  switch (value) {
  case 0:
    return "Disabled";
  case 1:
    return "Enabled";
  case 2:
    return "Inconsistent";
  default:
    return "Unknown";
  }
}

[[nodiscard]] EFI_STATUS AddSettings(XmlNode *settings) {
  for (RegistryEntry *e = FirstProvider(); e != nullptr; e = NextProvider(e)) {
    CHAR8 *shown = nullptr;
    EFI_STATUS status = SettingValueToText(&e->Provider, FALSE, &shown);
    PoolPtr<CHAR8> text(shown);
    // A value that cannot be shown leaves its setting out. One that could
    // not be read for want of pool, or cannot be added, fails the document
    // rather than publish it without the setting.
    if (status == EFI_OUT_OF_RESOURCES) {
      return status;
    }
    if (text) {
      status = AddSettingCurrent(settings, e->Provider.Id, text.get());
      if (EFI_ERROR(status)) {
        return status;
      }
    }
  }
  // The driver's own Get: the access protocol may not be installed yet.
  for (SettingGroup *g = FirstGroup(); g != nullptr; g = NextGroup(g)) {
    UINT8 value = 0;
    UINTN size = sizeof(value);
    EFI_STATUS status = mSettingAccess.Get(&mSettingAccess, g->Id, nullptr,
                                           ZELM_SETTING_TYPE_ENABLE, &size, &value, nullptr);
    if (status == EFI_OUT_OF_RESOURCES) {
      return status; // "Error" would claim a member cannot be read
    }
    EFI_STATUS added = AddSettingCurrent(settings, g->Id, GroupValueText(status, value));
    if (EFI_ERROR(added)) {
      return added;
    }
  }
  return EFI_SUCCESS;
}

} // namespace

VOID PublishCurrentSettings(VOID) {
  CHAR8 *text = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(BuildCurrentSettings(&text, &size))) {
    return;
  }
  if (!EFI_ERROR(WritePublishedDocument(kSettingsCurrentVariableName, &gZelmSettingsVariableGuid,
                                        text, size))) {
    (VOID) WritePublishedDocument(kUefiSettingsCurrentVariableName, &gZelmSettingsVariableGuid,
                                  text, size);
  }
  XmlPoolFree(text);
}

EFI_STATUS BuildCurrentSettings(CHAR8 **Text, UINTN *Size) {
  if (Text == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Text = nullptr;
  *Size = 0;
  ZELM_SETTINGS_MANAGER_DATA data = {};
  EFI_STATUS status = LoadSettingsManagerData(&data);
  if (status == EFI_OUT_OF_RESOURCES) {
    return status; // a floor that is stored but unread is not 0
  }
  const UINT32 lowest = EFI_ERROR(status) ? 0 : data.LowestSupportedVersion;
  EFI_TIME now = {};
  status = gRT->GetTime(&now, nullptr);
  if (EFI_ERROR(status)) {
    return status;
  }
  XmlTreeGuard tree;
  TimeText date;
  FormatTimeText(&now, &date);
  if (EFI_ERROR(XmlParse(kTemplate, sizeof(kTemplate) - 1, tree.out())) || tree.get() == nullptr ||
      EFI_ERROR(XmlAddNode(tree.get(), "Date", date.text, nullptr)) ||
      EFI_ERROR(XmlAddNode(tree.get(), kSettingsName, nullptr, nullptr))) {
    return EFI_ABORTED;
  }
  if (!XmlNamed(tree.get(), "CurrentSettingsPacket")) {
    return EFI_NO_MAPPING;
  }
  CHAR8 lsv[12];
  status = ValueToAscii(lsv, sizeof(lsv), 0, lowest, 0);
  if (!EFI_ERROR(status)) {
    status = XmlAddNode(tree.get(), "LSV", lsv, nullptr);
  }
  if (EFI_ERROR(status)) {
    return status;
  }
  XmlNode *settings = XmlFindChild(tree.get(), kSettingsName);
  if (settings == nullptr) {
    return EFI_NO_MAPPING;
  }
  status = AddSettings(settings);
  if (EFI_ERROR(status)) {
    return status;
  }
  return XmlTreeToString(tree.get(), 0, Size, Text);
}

EFI_STATUS AddSettingCurrent(XmlNode *Settings, const CHAR8 *Id, const CHAR8 *ValueText) {
  if (Settings == nullptr || Id == nullptr || ValueText == nullptr ||
      !XmlNamed(Settings, kSettingsName)) {
    return EFI_INVALID_PARAMETER;
  }
  XmlNode *entry = nullptr;
  if (EFI_ERROR(XmlAddNode(Settings, "SettingCurrent", nullptr, &entry)) ||
      EFI_ERROR(XmlAddNode(entry, "Id", Id, nullptr)) ||
      EFI_ERROR(XmlAddNode(entry, "Value", ValueText, nullptr))) {
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}
