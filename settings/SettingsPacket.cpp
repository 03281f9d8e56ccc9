#include "settings/SettingsPacket.h"

#include "settings/Registry.h"
#include "settings/ValueConversion.h"
#include "support/PacketRecord.h"
#include "support/PacketXml.h"
#include "support/XmlTreeGuard.h"

namespace {

constexpr CHAR8 kSettingsName[] = "Settings";
constexpr CHAR8 kEmptyText[] = "";

// Converts and sets Text (NULL: the element had none) for one provider.
EFI_STATUS SetProviderText(const ZELM_SETTING_PROVIDER *provider, const CHAR8 *text,
                           ZELM_AUTH_TOKEN *token, UINT64 *flags) {
  if (text == nullptr) {
    // Only texts may be emptied; a certificate's empty text is refused by
    // the conversion, never taken as an erase.
    if (provider->Type != ZELM_SETTING_TYPE_STRING && provider->Type != ZELM_SETTING_TYPE_CERT) {
      return EFI_UNSUPPORTED;
    }
    text = kEmptyText;
  }
  return SetSettingFromText(provider, text, token, flags);
}

// Sets every member of Group; the last member failure, or EFI_SUCCESS.
EFI_STATUS SetGroupText(SettingGroup *group, const CHAR8 *text, ZELM_AUTH_TOKEN *token,
                        UINT64 *flags) {
  EFI_STATUS result = EFI_SUCCESS;
  for (GroupMember *m = FirstMember(group); m != nullptr; m = NextMember(group, m)) {
    RegistryEntry *member = FindProvider(m->Id);
    if (member == nullptr) {
      return EFI_NOT_FOUND;
    }
    // Each member decides on the published settings from its own flags.
    UINT64 memberFlags = 0;
    EFI_STATUS status = SetProviderText(&member->Provider, text, token, &memberFlags);
    *flags |= memberFlags;
    if (EFI_ERROR(status)) {
      result = status;
    }
  }
  return result;
}

class PacketRun {
public:
  PacketRun(ZELM_APPLY_PACKET *packet, ZELM_SETTINGS_MANAGER_DATA *data, BOOLEAN *accepted)
      : packet_(packet), data_(data), accepted_(accepted) {}

  EFI_STATUS Run();

private:
  EFI_STATUS Fail(UINT32 state, EFI_STATUS status) {
    packet_->State = state;
    return status;
  }
  EFI_STATUS Malformed() { return Fail(ZELM_PACKET_STATE_MALFORMED, EFI_NO_MAPPING); }
  EFI_STATUS ApplySettings(XmlNode *settings, XmlNode *results);
  EFI_STATUS Serialise();

  ZELM_APPLY_PACKET *packet_;
  ZELM_SETTINGS_MANAGER_DATA *data_;
  BOOLEAN *accepted_;
  XmlTreeGuard packetTree_;
  XmlTreeGuard resultTree_;
};

EFI_STATUS PacketRun::Run() {
  if (packet_->State != ZELM_PACKET_STATE_AUTHENTICATED) {
    return Fail(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_ABORTED);
  }
  UINT32 state = 0;
  EFI_STATUS opened = OpenPacketDocuments(packet_, "SettingsPacket", kSettingsName, &packetTree_,
                                          &resultTree_, &state);
  if (EFI_ERROR(opened)) {
    return Fail(state, opened);
  }
  XmlNode *root = packetTree_.get();
  UINT32 version = 0;
  UINT32 lowest = 0;
  opened = ReadPacketVersions(root, data_->LowestSupportedVersion, &version, &lowest, &state);
  if (EFI_ERROR(opened)) {
    return Fail(state, opened);
  }
  if (data_->Version != version) {
    data_->Version = version;
    data_->Dirty = TRUE;
  }
  if (lowest > data_->LowestSupportedVersion) {
    data_->LowestSupportedVersion = lowest;
    data_->Dirty = TRUE;
  }
  *accepted_ = TRUE;
  XmlNode *settings = XmlFindChild(root, kSettingsName);
  if (settings == nullptr) {
    return Malformed();
  }
  XmlNode *results = XmlFindChild(resultTree_.get(), kSettingsName);
  if (results == nullptr) {
    return Fail(ZELM_PACKET_STATE_MALFORMED, EFI_ABORTED);
  }
  EFI_STATUS status = ApplySettings(settings, results);
  if (EFI_ERROR(status)) {
    return status;
  }
  return Serialise();
}

EFI_STATUS PacketRun::ApplySettings(XmlNode *settings, XmlNode *results) {
  for (const XmlNode *setting = XmlFirstChild(settings); setting != nullptr;
       setting = XmlNextSibling(setting)) {
    const XmlNode *id = XmlFindChild(setting, "Id");
    const XmlNode *value = XmlFindChild(setting, "Value");
    if (id == nullptr || value == nullptr) {
      return Malformed();
    }
    UINT64 flags = 0;
    EFI_STATUS status = EFI_NOT_FOUND;
    RegistryEntry *provider = FindProvider(id->Value);
    SettingGroup *group = provider == nullptr ? FindGroup(id->Value) : nullptr;
    if (id->Value == nullptr) {
      status = EFI_UNSUPPORTED;
    } else if (provider != nullptr) {
      status = SetProviderText(&provider->Provider, value->Value, &packet_->AuthToken, &flags);
    } else if (group != nullptr) {
      status = SetGroupText(group, value->Value, &packet_->AuthToken, &flags);
    }
    StatusText flagsText;
    StatusText resultText;
    FormatStatusText(flags, &flagsText);
    FormatStatusText(status, &resultText);
    XmlNode *node = nullptr;
    if (id->Value == nullptr || EFI_ERROR(XmlAddNode(results, "SettingResult", nullptr, &node)) ||
        EFI_ERROR(XmlAddNode(node, "Id", id->Value, nullptr)) ||
        EFI_ERROR(XmlAddNode(node, "Flags", flagsText.text, nullptr)) ||
        EFI_ERROR(XmlAddNode(node, "Result", resultText.text, nullptr))) {
      return Fail(ZELM_PACKET_STATE_INTERNAL_FAILURE, EFI_DEVICE_ERROR);
    }
    if ((flags & ZELM_SETTING_FLAG_REBOOT_REQUIRED) != 0) {
      packet_->ResetRequired = 1;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS PacketRun::Serialise() {
  packet_->State = ZELM_PACKET_STATE_APPLIED;
  UINTN size = 0;
  CHAR8 *text = nullptr;
  if (EFI_ERROR(XmlTreeToString(resultTree_.get(), 0, &size, &text)) ||
      size > ZELM_MAX_RESULT_SIZE) {
    // No text at all rather than one the result header cannot describe.
    XmlPoolFree(text);
    return EFI_ABORTED;
  }
  packet_->ResultText = text;
  packet_->ResultSize = size;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS ProcessSettingsPacket(ZELM_APPLY_PACKET *Packet, ZELM_SETTINGS_MANAGER_DATA *Data,
                                 BOOLEAN *VersionsAccepted) {
  if (Packet == nullptr || Data == nullptr || VersionsAccepted == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *VersionsAccepted = FALSE;
  EFI_STATUS status = PacketRun(Packet, Data, VersionsAccepted).Run();
  Packet->Status = status;
  return status;
}
