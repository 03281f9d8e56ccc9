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
    PoolPtr<CHAR8> text(SettingValueToText(&e->Provider, FALSE));
    // A value that cannot be shown leaves its setting out; one that cannot
    // be added fails the document rather than publish it without it.
    if (text) {
      EFI_STATUS status = AddSettingCurrent(settings, e->Provider.Id, text.get());
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
    EFI_STATUS added = AddSettingCurrent(settings, g->Id, GroupValueText(status, value));
    if (EFI_ERROR(added)) {
      return added;
    }
  }
  return EFI_SUCCESS;
}

// Span of the text between "<Date>" and "</Date>", the one part that
// changes on every build.
struct DateSpan {
  UINTN start;
  UINTN end;
};

BOOLEAN FindDate(const CHAR8 *text, UINTN size, DateSpan *span) {
  static constexpr CHAR8 kOpen[] = "<Date>";
  static constexpr CHAR8 kClose[] = "</Date>";
  for (UINTN i = 0; i + sizeof(kOpen) - 1 <= size; i++) {
    if (CompareAsciiCount(text + i, kOpen, sizeof(kOpen) - 1) != 0) {
      continue;
    }
    span->start = i + sizeof(kOpen) - 1;
    for (UINTN j = span->start; j + sizeof(kClose) - 1 <= size; j++) {
      if (CompareAsciiCount(text + j, kClose, sizeof(kClose) - 1) == 0) {
        span->end = j;
        return TRUE;
      }
    }
    return FALSE;
  }
  return FALSE;
}

// Only a date may differ: anything else between the date tags (a document
// planted with other content there) makes the stored copy different.
BOOLEAN IsDateText(const CHAR8 *text, UINTN length) {
  if (length == 0 || length > sizeof(TimeText::text) - 1) {
    return FALSE;
  }
  for (UINTN i = 0; i < length; i++) {
    const CHAR8 c = text[i];
    if (!((c >= '0' && c <= '9') || c == '-' || c == 'T' || c == ':')) {
      return FALSE;
    }
  }
  return TRUE;
}

// TRUE when the stored variable has attributes 7 and the document's
// content apart from its date.
BOOLEAN StoredMatches(CHAR16 *name, const CHAR8 *text, UINTN size) {
  VOID *buffer = nullptr;
  UINTN storedSize = 0;
  UINT32 attributes = 0;
  if (EFI_ERROR(GetVariableAllocWithAttributes(name, &gZelmSettingsVariableGuid, &buffer,
                                               &storedSize, &attributes))) {
    return FALSE;
  }
  PoolPtr<CHAR8> stored(static_cast<CHAR8 *>(buffer));
  DateSpan a = {};
  DateSpan b = {};
  if (attributes != kPublishedAttributes || !FindDate(text, size, &a) ||
      !FindDate(stored.get(), storedSize, &b) || size - a.end != storedSize - b.end ||
      a.start != b.start || !IsDateText(stored.get() + b.start, b.end - b.start)) {
    return FALSE;
  }
  return CompareMem(text, stored.get(), a.start) == 0 &&
         CompareMem(text + a.end, stored.get() + b.end, size - a.end) == 0;
}

// Writes the document unless the variable already holds it.
[[nodiscard]] EFI_STATUS WriteIfChanged(CHAR16 *name, const CHAR8 *text, UINTN size) {
  if (StoredMatches(name, text, size)) {
    return EFI_SUCCESS;
  }
  (VOID) DeleteVariableOfOtherAttributes(name, &gZelmSettingsVariableGuid, kPublishedAttributes);
  return gRT->SetVariable(name, &gZelmSettingsVariableGuid, kPublishedAttributes, size,
                          const_cast<CHAR8 *>(text));
}

} // namespace

VOID PublishCurrentSettings(VOID) {
  CHAR8 *text = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(BuildCurrentSettings(&text, &size))) {
    return;
  }
  if (!EFI_ERROR(WriteIfChanged(kSettingsCurrentVariableName, text, size))) {
    (VOID) WriteIfChanged(kUefiSettingsCurrentVariableName, text, size);
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
  UINT32 lowest = EFI_ERROR(LoadSettingsManagerData(&data)) ? 0 : data.LowestSupportedVersion;
  EFI_TIME now = {};
  EFI_STATUS status = gRT->GetTime(&now, nullptr);
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
