#include "tools/zelm-sim/SimApply.h"

#include <cstdio>
#include <cstring>

#include "support/Text.h"
#include "tools/zelm-sim/SimXml.h"

namespace sim {

std::string JsonEscape(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
        out += escaped;
      } else {
        out.push_back(static_cast<char>(c));
      }
    }
  }
  return out;
}

namespace {

// The result text in the result variable: after the 20-byte header and,
// for layout version 2 (and the settings result), its 16-bit size.
std::string ResultTextOf(const std::vector<UINT8> &variable) {
  if (variable.size() < 22) {
    return {};
  }
  size_t size = variable[20] | variable[21] << 8;
  if (size == 0 || 22 + size > variable.size()) {
    return {};
  }
  return std::string(variable.begin() + 22, variable.begin() + 22 + size - 1);
}

} // namespace

bool ApplyOutcome::AnyElementFailed() const {
  for (const auto &element : elements) {
    if (element.second != "0x0") {
      return true;
    }
  }
  return false;
}

ApplyOutcome ApplyPacket(SimBoot &boot, std::vector<UINT8> packet, const ApplyOptions &options) {
  host::DeliveryOptions delivery;
  delivery.formatVersion = 2;
  delivery.sessionId = options.sessionId;
  delivery.noAppend = options.noAppend;
  // A result left by an earlier packet is not this one's: a packet the
  // driver refuses before it writes a result must show none.
  boot.Firmware().GetPlatform().EraseVariable(host::ResultName(options.kind),
                                              host::PacketGuid(options.kind));
  host::Delivery record(boot.Firmware().GetPlatform(), options.kind, std::move(packet), delivery);
  // The transport learns the outcome from the record, not from the returns.
  if (options.kind == host::PacketKind::Settings) {
    ZELM_APPLY_PACKET_PROTOCOL *apply = boot.SettingsApply();
    (void)apply->ApplyPacket(apply, record.Record());
  } else {
    (void)host::RunPermissionsPacket(boot.PermissionsApply(), record);
  }
  ApplyOutcome outcome;
  outcome.state = record.Record()->State;
  outcome.status = record.Record()->Status;
  outcome.resetRequired = record.Record()->ResetRequired != 0;
  outcome.result = ResultTextOf(record.ResultVariable());
  return outcome;
}

void ReadElements(ApplyOutcome *outcome) {
  outcome->elements.clear();
  std::optional<XmlElement> root = ReadXml(outcome->result);
  if (!root || root->name != "ResultsPacket") {
    return;
  }
  // Every SettingResult or PermissionResult, wherever the packet kind puts
  // its list.
  for (const XmlElement &list : root->children) {
    for (const XmlElement &element : list.children) {
      if ((element.name == "SettingResult" || element.name == "PermissionResult") &&
          element.Child("Id") != nullptr && element.Child("Result") != nullptr) {
        outcome->elements.emplace_back(element.ChildText("Id"), element.ChildText("Result"));
      }
    }
  }
}

std::string StatusHex(EFI_STATUS status) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(status));
  return text;
}

std::string StatusName(EFI_STATUS status) {
  char text[64];
  FormatAscii(text, sizeof(text), "%r", status);
  return text;
}

std::string OutcomeJson(const ApplyOutcome &outcome, const std::string &extra) {
  return "{\"state\": " + std::to_string(outcome.state) + ", \"status\": \"" +
         StatusHex(outcome.status) +
         "\", \"reset_required\": " + (outcome.resetRequired ? "true" : "false") +
         ", \"result\": \"" + JsonEscape(outcome.result) + "\"" + extra + "}";
}

} // namespace sim
