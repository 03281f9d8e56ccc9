// zelm-sim: the driver on a simulated platform, for packet authors and
// firmware integrators. See README.md for the commands.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "settings/CurrentSettings.h"
#include "tools/zelm-sim/SimApply.h"
#include "tools/zelm-sim/SimAuthentication.h"
#include "tools/zelm-sim/SimBoot.h"
#include "tools/zelm-sim/SimEfivarfs.h"
#include "tools/zelm-sim/SimFiles.h"
#include "tools/zelm-sim/SimMirror.h"
#include "tools/zelm-sim/SimSamples.h"
#include "tools/zelm-sim/SimShow.h"
#include "tools/zelm-sim/SimStore.h"
#include "tools/zelm-sim/SimWhy.h"
#include "tools/zelm-sim/SimXml.h"

namespace {

using sim::Identity;
using sim::LockMode;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: zelm-sim [--store DIR] [--no-wait] COMMAND\n"
    "  boot                                   one boot of the platform\n"
    "  enroll owner|ztd, unenroll owner|ztd   change the enrolled keys\n"
    "  apply settings|permissions FILE --signer owner|ztd|local|none\n"
    "        [--session N] [--json] [--strict] [--no-append] [--dry-run]\n"
    "  apply settings|permissions --signed FILE [...]\n"
    "  show NAME [--raw] [--json], vars [--json]   the store's variables\n"
    "        (with --efivarfs [DIR]: a live machine's, default /sys/firmware/efi/efivars)\n"
    "  export --efivarfs DIR                  what the operating system would see, as efivarfs\n"
    "  mirror --efivarfs DIR [--owner-enrolled] [--ztd-enrolled] [--permissions-floor N]\n"
    "                                         a store that decides as that machine does\n"
    "  reset permissions|settings --signer owner|ztd|local [--dry-run]\n"
    "  check settings|permissions FILE --signer owner|ztd|local --against DIR...\n"
    "        [--owner-enrolled] [--ztd-enrolled] [--permissions-floor N]\n"
    "  get ID                                 a setting's current value\n"
    "  why ID --signer owner|ztd|local        who may change a setting, and why\n"
    "  history                                the packets applied to this store\n"
    "  demo                                   the whole story on a fresh store\n";

int Usage(const std::string &problem) {
  std::fprintf(stderr, "zelm-sim: %s\n%s", problem.c_str(), kUsageText);
  return kUsage;
}

int Fail(const std::string &problem) {
  std::fprintf(stderr, "zelm-sim: %s\n", problem.c_str());
  return kUsage;
}

std::optional<Identity> ParseIdentity(const std::string &name) {
  if (name == "owner") {
    return Identity::Owner;
  }
  if (name == "ztd") {
    return Identity::Ztd;
  }
  if (name == "local") {
    return Identity::Local;
  }
  return std::nullopt;
}

// (Id, Value) of every SettingCurrent of a CurrentSettingsPacket.
std::vector<std::pair<std::string, std::string>> PublishedSettings(const std::string &document) {
  std::vector<std::pair<std::string, std::string>> out;
  std::optional<sim::XmlElement> root = sim::ReadXml(document);
  const sim::XmlElement *list =
      root && root->name == "CurrentSettingsPacket" ? root->Child("Settings") : nullptr;
  if (list == nullptr) {
    return out;
  }
  for (const sim::XmlElement &setting : list->children) {
    if (setting.name == "SettingCurrent" && setting.Child("Id") != nullptr) {
      out.emplace_back(setting.ChildText("Id"), setting.ChildText("Value"));
    }
  }
  return out;
}

std::string Text(const std::vector<UINT8> &bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  return text;
}

// The rule behind one setting's verdict, from the published permissions;
// a note when they do not account for what the driver decided.
std::string Rule(const std::optional<sim::PublishedPermissions> &permissions,
                 const sim::GroupTable &groups, const std::string &id, UINT8 identity,
                 bool allowed) {
  if (!permissions) {
    return "ZelmPermissionCurrent cannot be read, so no entry can be named";
  }
  sim::Explanation e = sim::ExplainSetting(*permissions, groups, id, identity);
  if (e.allowed != allowed) {
    return e.rule + ", which would " + (e.allowed ? "allow" : "refuse") +
           ": ZelmPermissionCurrent does not match the permissions the driver enforces";
  }
  return e.rule;
}

// Why the driver refused Id (a setting or a group) to Identity.
std::string RefusalRule(const std::optional<sim::PublishedPermissions> &permissions,
                        const sim::GroupTable &groups, const std::string &id, UINT8 identity) {
  const std::vector<std::string> *members = sim::GroupMembers(groups, id);
  if (members == nullptr) {
    return Rule(permissions, groups, id, identity, false);
  }
  std::string text = "a group changes each of its members";
  for (const std::string &member : *members) {
    if (!permissions) {
      break;
    }
    sim::Explanation e = sim::ExplainSetting(*permissions, groups, member, identity);
    text += "; " + member + (e.allowed ? " allowed: " : " refused: ") + e.rule;
  }
  return text;
}

// A store, its platform and keys for one command.
struct Session {
  explicit Session(std::string dir) : store(dir), keys(dir) {}
  // Locks the store (exclusively for a command that can write) and loads it.
  bool Open(LockMode mode, bool wait, std::string *error) {
    if (!store.Open(platform, mode, wait, error)) {
      return false;
    }
    sim::PreparePlatform(platform);
    return true;
  }
  bool Save(std::string *error) { return store.Save(platform, error); }
  // A variable the driver publishes, under its own GUID.
  std::string Variable(const std::u16string &name) {
    const EFI_GUID *guid = sim::KnownGuid(name);
    return guid != nullptr ? Text(sim::VariableByName(platform, name, *guid)) : std::string();
  }

  sim::SimStore store;
  host::Platform platform;
  sim::KeyStore keys;
};

// One boot of the platform, all its phases; kDone when the driver started.
int RunBoot(Session &s) {
  sim::SimBoot boot(s.platform, s.keys);
  if (!boot.Start()) {
    return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
  }
  boot.Finish();
  return kDone;
}

int Boot(Session &s, bool quiet = false) {
  int status = RunBoot(s);
  if (status != kDone) {
    return status;
  }
  std::string error;
  if (!s.Save(&error)) {
    return Fail(error);
  }
  if (quiet) {
    return kDone;
  }
  std::printf("boot: driver started; owner %s, ztd %s\n",
              (s.platform.authentication.Enrolled() & ZELM_IDENTITY_OWNER) ? "enrolled"
                                                                           : "not enrolled",
              (s.platform.authentication.Enrolled() & ZELM_IDENTITY_ZERO_TOUCH) ? "enrolled"
                                                                                : "not enrolled");
  std::printf("settings (from ZelmSettingsCurrent):\n");
  for (const auto &[id, value] : PublishedSettings(s.Variable(u"ZelmSettingsCurrent"))) {
    std::printf("  %-40s %s\n", id.c_str(), value.c_str());
  }
  std::printf("published:\n");
  for (const char16_t *name : {u"ZelmSettingsCurrent", u"UEFISettingsCurrent",
                               u"ZelmPermissionCurrent", u"ZelmDeviceIdentifier"}) {
    std::printf("  %-24s %zu bytes\n", sim::Narrow(name).c_str(),
                sim::VariableByName(s.platform, name, *sim::KnownGuid(name)).size());
  }
  return kDone;
}

int Enrol(Session &s, const std::string &who, bool enrol) {
  std::optional<Identity> identity = ParseIdentity(who);
  if (!identity || *identity == Identity::Local) {
    return Usage("enroll and unenroll take owner or ztd");
  }
  std::string error;
  if (!s.keys.Ensure(*identity, &error)) {
    return Fail(error);
  }
  const UINT8 bits = sim::IdentityBits(*identity);
  if (enrol) {
    s.platform.authentication.Enrol(bits);
  } else {
    s.platform.authentication.Unenrol(bits);
  }
  EFI_STATUS status = EFI_SUCCESS;
  {
    sim::SimBoot boot(s.platform, s.keys);
    if (!boot.Start()) {
      return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
    }
    // A key change, as the authentication component reports it: a token of
    // the key's identity, that identity, flag 1 when a key was enrolled.
    ZELM_AUTH_TOKEN token = boot.Authentication().IssueToken(bits);
    ZELM_SETTING_PERMISSION_PROTOCOL *permission = boot.Permission();
    status = permission->IdentityChange(permission, &token, bits, enrol ? 1 : 0);
    boot.Finish();
  }
  if (!s.Save(&error)) {
    return Fail(error);
  }
  std::printf("%s %s (IdentityChange: token of 0x%02X, identity 0x%02X, flag %d): %s\n",
              who.c_str(), enrol ? "enrolled" : "unenrolled", bits, bits, enrol ? 1 : 0,
              sim::StatusName(status).c_str());
  return EFI_ERROR(status) ? kRefused : kDone;
}

struct ApplyArgs {
  host::PacketKind kind = host::PacketKind::Settings;
  std::string file;
  bool signedFile = false;
  std::optional<Identity> signer;
  bool none = false;
  UINT32 session = 0;
  bool json = false;
  bool strict = false;
  bool noAppend = false;
  bool dryRun = false;
};

// "Version/LowestSupportedVersion" of a packet's XML as the driver would
// read them ("?" for what it could not), each escaped for the history.
std::string VersionsOf(const std::string &payload) {
  std::optional<sim::XmlElement> root;
  if (payload.size() <= ZELM_MAX_PACKET_SIZE) {
    root = sim::ReadXml(payload);
  }
  auto field = [&](const char *name) {
    const sim::XmlElement *element = root ? root->Child(name) : nullptr;
    return element != nullptr ? sim::EscapeHistoryField(element->value) : std::string("?");
  };
  return field("Version") + "/" + field("LowestSupportedVersion");
}

// The CurrentSettingsPacket the driver would publish now (during a boot).
std::string CurrentSettingsText() {
  CHAR8 *text = nullptr;
  UINTN size = 0;
  std::string out;
  if (!EFI_ERROR(BuildCurrentSettings(&text, &size)) && text != nullptr) {
    out.assign(text, size > 0 ? size - 1 : 0);
  }
  XmlPoolFree(text);
  return out;
}

bool Contains(const std::vector<std::string> &list, const std::string &item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

const char kStandInNote[] = "stand-in: decided by permissions and versions only";

// Per element of a dry run: the value before and the value the packet
// would leave (settings packets), and whether a stand-in decided it.
struct ElementView {
  std::string id;
  std::string result;
  std::optional<std::string> before;
  std::optional<std::string> after;
  bool standIn = false;
};

std::vector<ElementView> ViewElements(const sim::ApplyOutcome &outcome,
                                      const std::string &beforeDocument,
                                      const std::string &afterDocument,
                                      const std::vector<std::string> &standIns) {
  auto before = PublishedSettings(beforeDocument);
  auto after = PublishedSettings(afterDocument);
  auto find = [](const std::vector<std::pair<std::string, std::string>> &list,
                 const std::string &id) -> std::optional<std::string> {
    for (const auto &[published, value] : list) {
      if (published == id) {
        return value;
      }
    }
    return std::nullopt;
  };
  std::vector<ElementView> out;
  for (const auto &[id, result] : outcome.elements) {
    out.push_back({id, result, find(before, id), find(after, id), Contains(standIns, id)});
  }
  return out;
}

std::string ElementsJson(const std::vector<ElementView> &elements) {
  std::string out = ", \"elements\": [";
  for (size_t k = 0; k < elements.size(); k++) {
    const ElementView &e = elements[k];
    out += std::string(k ? ", " : "") + "{\"id\": \"" + sim::JsonEscape(e.id) +
           "\", \"result\": \"" + sim::JsonEscape(e.result) + "\"";
    if (e.before) {
      out += ", \"before\": \"" + sim::JsonEscape(*e.before) + "\"";
    }
    if (e.after) {
      out += ", \"after\": \"" + sim::JsonEscape(*e.after) + "\"";
    }
    out += std::string(", \"stand_in\": ") + (e.standIn ? "true" : "false") + "}";
  }
  return out + "]";
}

int Apply(Session &s, const ApplyArgs &a, bool quiet = false) {
  std::string content;
  std::string error;
  if (!sim::ReadFile(a.file, &content, &error)) {
    return Fail(error);
  }
  std::vector<UINT8> packet;
  std::string signerName = a.signedFile ? "own" : (a.none ? "none" : sim::IdentityName(*a.signer));
  std::string payload = content;
  if (a.signedFile) {
    packet.assign(content.begin(), content.end());
    std::optional<size_t> signedLength = host::SignedLengthOf(packet);
    payload = signedLength
                  ? content.substr(host::kSignedHeaderSize, *signedLength - host::kSignedHeaderSize)
                  : std::string();
  } else if (a.none) {
    packet = s.keys.UnsignedPacket(content);
  } else {
    if (!s.keys.Ensure(*a.signer, &error)) {
      return Fail(error);
    }
    packet = s.keys.SignPacket(content, *a.signer, &error);
    if (packet.empty()) {
      return Fail(error);
    }
  }
  sim::ApplyOutcome outcome;
  sim::GroupTable groups;
  std::string permissionsDocument;
  std::string before, after;
  std::vector<std::string> standIns;
  const bool values = a.dryRun && a.kind == host::PacketKind::Settings;
  {
    sim::SimBoot boot(s.platform, s.keys);
    if (!boot.Start()) {
      return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
    }
    groups = boot.Groups();
    standIns = boot.StandInIds();
    if (values) {
      before = CurrentSettingsText();
    }
    outcome = sim::ApplyPacket(boot, packet, {a.kind, a.session, a.noAppend});
    if (values) {
      after = CurrentSettingsText();
    }
    boot.Finish();
    permissionsDocument = s.Variable(u"ZelmPermissionCurrent");
  }
  sim::ReadElements(&outcome);
  std::vector<ElementView> views = ViewElements(outcome, before, after, standIns);
  if (!a.dryRun) {
    if (!s.Save(&error)) {
      return Fail(error);
    }
    std::string line = std::to_string(std::time(nullptr)) + " " +
                       (a.kind == host::PacketKind::Settings ? "settings" : "permissions") +
                       " signer=" + signerName + " version=" + VersionsOf(payload) +
                       " state=" + std::to_string(outcome.state) +
                       " status=" + sim::StatusHex(outcome.status);
    for (const auto &[id, result] : outcome.elements) {
      line += " " + sim::EscapeHistoryField(id) + "=" + sim::EscapeHistoryField(result);
    }
    if (!s.store.AppendHistory(line, &error)) {
      return Fail("the packet was applied and the store saved, but its history line was not "
                  "written: " +
                  error);
    }
  }
  const bool ok = outcome.Applied() && !(a.strict && outcome.AnyElementFailed());
  if (a.json) {
    std::printf("%s\n",
                sim::OutcomeJson(outcome, a.dryRun ? ElementsJson(views) : std::string()).c_str());
    return ok ? kDone : kRefused;
  }
  if (quiet) {
    return ok ? kDone : kRefused;
  }
  std::printf("%sState %u, Status %s (%s), ResetRequired %s\n", a.dryRun ? "(dry run) " : "",
              outcome.state, sim::StatusHex(outcome.status).c_str(),
              sim::StatusName(outcome.status).c_str(), outcome.resetRequired ? "yes" : "no");
  const UINT8 bits = a.signer ? sim::IdentityBits(*a.signer) : 0;
  std::optional<sim::PublishedPermissions> permissions = sim::ReadPermissions(permissionsDocument);
  for (const auto &[id, result] : outcome.elements) {
    std::string line = "  " + id + ": " + result;
    if (result != "0x0") {
      EFI_STATUS status = std::strtoull(result.c_str(), nullptr, 16);
      line += " (" + sim::StatusName(status) + ")";
      if (status == EFI_ACCESS_DENIED && a.kind == host::PacketKind::Settings && bits != 0) {
        line += " — " + RefusalRule(permissions, groups, id, bits);
      }
    }
    if (Contains(standIns, id)) {
      line += std::string(" (") + kStandInNote + ")";
    }
    std::printf("%s\n", line.c_str());
  }
  if (values && !views.empty()) {
    std::printf("values (before -> after):\n");
    for (const ElementView &e : views) {
      std::printf("  %s: %s -> %s\n", e.id.c_str(), e.before ? e.before->c_str() : "(none)",
                  e.after ? e.after->c_str() : "(none)");
    }
  }
  if (!outcome.result.empty()) {
    std::printf("%s", sim::IndentXml(outcome.result).c_str());
  }
  return ok ? kDone : kRefused;
}

std::string VariableJson(const std::string &name, const EFI_GUID &guid, UINT32 attributes,
                         const std::vector<UINT8> &data, bool withText) {
  std::string out = "{\"name\": \"" + sim::JsonEscape(name) + "\", \"guid\": \"" +
                    sim::GuidText(guid) + "\", \"attributes\": " + std::to_string(attributes) +
                    ", \"size\": " + std::to_string(data.size());
  if (withText) {
    out += ", \"text\": \"" + sim::JsonEscape(sim::ShowVariable(data)) + "\"";
  }
  return out + "}";
}

void ShowOne(const std::string &name, const host::Variable &variable, bool raw) {
  if (raw) {
    std::fwrite(variable.data.data(), 1, variable.data.size(), stdout);
    return;
  }
  std::printf("%s (attributes %u, %zu bytes)\n%s", name.c_str(), variable.attributes,
              variable.data.size(), sim::ShowVariable(variable.data).c_str());
}

int Show(Session &s, const std::string &name, bool raw, bool json) {
  const std::u16string wide = sim::Wide(name);
  // The driver's and the transport's variables under their own GUID only;
  // any other name under whichever GUID holds it.
  std::vector<std::pair<EFI_GUID, const host::Variable *>> found;
  if (const EFI_GUID *guid = sim::KnownGuid(wide)) {
    if (const host::Variable *variable = s.platform.FindVariable(wide, *guid)) {
      found.emplace_back(*guid, variable);
    }
  } else {
    for (const auto &[id, variable] : s.platform.Variables()) {
      if (id.name == wide) {
        found.emplace_back(id.guid, &variable);
      }
    }
  }
  if (found.empty()) {
    std::fprintf(stderr, "zelm-sim: no variable %s in the store\n", name.c_str());
    return kRefused;
  }
  if (found.size() > 1 && raw) {
    return Fail("several variables are named " + name + "; --raw shows only one");
  }
  for (const auto &[guid, variable] : found) {
    if (json) {
      std::printf("%s\n",
                  VariableJson(name, guid, variable->attributes, variable->data, true).c_str());
      continue;
    }
    if (found.size() > 1) {
      std::printf("== %s %s\n", name.c_str(), sim::GuidText(guid).c_str());
    }
    ShowOne(name, *variable, raw);
  }
  return kDone;
}

int Vars(Session &s, bool json) {
  for (const auto &[id, variable] : s.platform.Variables()) {
    if (json) {
      std::printf("%s\n", VariableJson(sim::Narrow(id.name), id.guid, variable.attributes,
                                       variable.data, false)
                              .c_str());
      continue;
    }
    std::printf("%-36s %s  attributes %u  %zu bytes\n", sim::Narrow(id.name).c_str(),
                sim::GuidText(id.guid).c_str(), variable.attributes, variable.data.size());
  }
  return kDone;
}

// Read-only commands boot in memory: what the next boot would publish,
// with nothing written back.
int Get(Session &s, const std::string &id) {
  int status = RunBoot(s);
  if (status != kDone) {
    return status;
  }
  for (const auto &[published, value] : PublishedSettings(s.Variable(u"ZelmSettingsCurrent"))) {
    if (published == id) {
      std::printf("%s\n", value.c_str());
      return kDone;
    }
  }
  std::fprintf(stderr, "zelm-sim: the driver knows no setting %s\n", id.c_str());
  return kRefused;
}

int Why(Session &s, const std::string &id, Identity identity) {
  const UINT8 bits = sim::IdentityBits(identity);
  sim::GroupTable groups;
  // The driver's verdict for Id itself, or for each member of group Id.
  std::optional<bool> verdict;
  std::vector<std::pair<std::string, bool>> members;
  std::string document;
  {
    sim::SimBoot boot(s.platform, s.keys);
    if (!boot.Start()) {
      return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
    }
    groups = boot.Groups();
    verdict = boot.MayChange(id, bits);
    const std::vector<std::string> *list = sim::GroupMembers(groups, id);
    if (!verdict && list != nullptr) {
      // Setting a group sets every member; it is allowed only when each is.
      verdict = true;
      for (const std::string &member : *list) {
        bool allowed = boot.MayChange(member, bits).value_or(false);
        members.emplace_back(member, allowed);
        verdict = *verdict && allowed;
      }
    }
    boot.Finish();
    document = s.Variable(u"ZelmPermissionCurrent");
  }
  if (!verdict) {
    return Fail("the driver knows no setting " + id);
  }
  std::optional<sim::PublishedPermissions> permissions = sim::ReadPermissions(document);
  const bool allowed = *verdict;
  std::printf("%s: %s (0x%02X) %s change %s: ", allowed ? "allowed" : "denied",
              sim::IdentityName(identity), bits, allowed ? "may" : "may not", id.c_str());
  if (members.empty()) {
    std::printf("%s\n", Rule(permissions, groups, id, bits, allowed).c_str());
  } else {
    std::printf("a group changes each of its members, %s\n",
                allowed ? "and each allows" : "and not every member allows");
    for (const auto &[member, memberAllowed] : members) {
      std::printf("  %s: %s, %s\n", member.c_str(), memberAllowed ? "allowed" : "denied",
                  Rule(permissions, groups, member, bits, memberAllowed).c_str());
    }
  }
  return allowed ? kDone : kRefused;
}

// --- A live machine's variables (efivarfs) ---

int ShowMachine(const std::string &dir, const std::string &name, bool raw, bool json) {
  std::vector<sim::EfiVariable> found;
  std::string error;
  const EFI_GUID *guid = sim::KnownGuid(sim::Wide(name));
  if (guid != nullptr) {
    // The driver's and the transport's variables under their own GUID only.
    const std::string file = dir + "/" + sim::EfivarFileName(name, *guid);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
      sim::EfiVariable variable;
      if (!sim::ReadEfivar(dir, name, *guid, &variable, &error)) {
        return Fail(error);
      }
      found.push_back(std::move(variable));
    } else if (!std::filesystem::is_directory(dir, ec)) {
      return Fail("cannot read the efivarfs directory " + dir + ": not a directory");
    }
  } else if (!sim::ReadEfivarsNamed(dir, name, &found, &error)) {
    return Fail(error);
  }
  if (found.empty()) {
    std::fprintf(stderr, "zelm-sim: no variable %s in %s\n", name.c_str(), dir.c_str());
    return kRefused;
  }
  if (found.size() > 1 && raw) {
    return Fail("several variables are named " + name + "; --raw shows only one");
  }
  for (const sim::EfiVariable &v : found) {
    if (raw) {
      std::fwrite(v.data.data(), 1, v.data.size(), stdout);
    } else if (json) {
      std::printf("%s\n", VariableJson(v.name, v.guid, v.attributes, v.data, true).c_str());
    } else {
      if (found.size() > 1) {
        std::printf("== %s %s\n", name.c_str(), sim::GuidText(v.guid).c_str());
      }
      std::printf("%s (attributes %u, %zu bytes)\n%s", name.c_str(), v.attributes, v.data.size(),
                  sim::ShowVariable(v.data).c_str());
    }
  }
  return kDone;
}

int VarsMachine(const std::string &dir, bool json) {
  std::vector<sim::EfiVariable> variables;
  std::string error;
  if (!sim::ReadEfivarfs(dir, &variables, &error)) {
    return Fail(error);
  }
  for (const sim::EfiVariable &v : variables) {
    if (json) {
      std::printf("%s\n", VariableJson(v.name, v.guid, v.attributes, v.data, false).c_str());
    } else {
      std::printf("%-36s %s  attributes %u  %zu bytes\n", v.name.c_str(),
                  sim::GuidText(v.guid).c_str(), v.attributes, v.data.size());
    }
  }
  return kDone;
}

int Export(Session &s, const std::string &dir) {
  // What the next boot publishes is what the operating system sees.
  int status = RunBoot(s);
  if (status != kDone) {
    return status;
  }
  size_t count = 0;
  std::string error;
  if (!sim::ExportEfivarfs(s.platform, dir, &count, &error)) {
    return Fail(error);
  }
  std::printf("exported %zu variables with runtime access into %s\n", count, dir.c_str());
  return kDone;
}

std::string Hex8(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value & 0xFF);
  return text;
}

int Mirror(Session &s, const std::string &dir, const sim::MirrorOptions &options) {
  std::error_code ec;
  if (std::filesystem::exists(s.store.Dir() + "/store.bin", ec)) {
    return Fail("the store " + s.store.Dir() +
                " already holds a platform; mirror into a new directory");
  }
  sim::MachineState machine;
  std::string error;
  if (!sim::ReadMachine(dir, &machine, &error)) {
    return Fail(error);
  }
  sim::MirrorReport report;
  if (!sim::BuildMirror(machine, options, s.platform, s.keys, &report, &error)) {
    return Fail(error);
  }
  if (int status = Boot(s, /*quiet=*/true); status != kDone) {
    return status;
  }
  std::printf("mirrored %s into %s\n", dir.c_str(), s.store.Dir().c_str());
  for (const auto &[id, value] : machine.device) {
    std::printf("  device %s: %s\n", id.c_str(), value.c_str());
  }
  std::printf("  permissions: %zu entries, default PMask %s, DMask %s\n",
              machine.permissions.entries.size(), Hex8(machine.permissions.defaultPMask).c_str(),
              Hex8(machine.permissions.defaultDMask).c_str());
  std::printf("  settings: %zu published, version floor (LSV) %u\n", machine.settings.size(),
              machine.settingsFloor);
  std::printf("  not visible to the operating system, taken from the options: owner %s, ztd %s, "
              "permissions-packet floor %u\n",
              (options.enrolled & ZELM_IDENTITY_OWNER) ? "enrolled" : "not enrolled",
              (options.enrolled & ZELM_IDENTITY_ZERO_TOUCH) ? "enrolled" : "not enrolled",
              options.permissionsFloor);
  for (const std::string &id : report.standIns) {
    std::printf("  %s: another driver's setting, a stand-in stores its text (%s)\n", id.c_str(),
                kStandInNote);
  }
  for (const std::string &note : report.notes) {
    std::printf("  note: %s\n", note.c_str());
  }
  return kDone;
}

// The rule that gives or refuses recovery: the first of the three ids the
// driver asks whose permission lets Identity in.
std::string RecoveryReason(const std::optional<sim::PublishedPermissions> &permissions,
                           const sim::GroupTable &groups, UINT8 identity, bool allowed) {
  if (!permissions) {
    return "ZelmPermissionCurrent cannot be read, so no entry can be named";
  }
  std::string refusals;
  for (const char *id :
       {"Zelm.OwnerKey.Enum", "Zelm.Recovery.Enable", "Zelm.Ztd.Recovery.Enable"}) {
    sim::Explanation e = sim::ExplainSetting(*permissions, groups, id, identity);
    if (e.allowed) {
      return std::string("recovery through ") + id + ": " + e.rule;
    }
    refusals += std::string(refusals.empty() ? "" : "; ") + id + ": " + e.rule;
  }
  return std::string(allowed ? "" : "no recovery right: ") + refusals;
}

int Reset(Session &s, bool permissions, Identity identity, bool dryRun) {
  const UINT8 bits = sim::IdentityBits(identity);
  if ((s.platform.authentication.Enrolled() & bits) == 0) {
    std::printf("reset %s --signer %s: refused: the %s key is not enrolled, so no token of "
                "identity %s can be had\n",
                permissions ? "permissions" : "settings", sim::IdentityName(identity),
                sim::IdentityName(identity), Hex8(bits).c_str());
    return kRefused;
  }
  EFI_STATUS status = EFI_SUCCESS;
  sim::GroupTable groups;
  std::string beforeSettings, afterSettings;
  std::string beforePermissions;
  {
    sim::SimBoot boot(s.platform, s.keys);
    if (!boot.Start()) {
      return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
    }
    groups = boot.Groups();
    beforePermissions = s.Variable(u"ZelmPermissionCurrent");
    beforeSettings = CurrentSettingsText();
    ZELM_AUTH_TOKEN token = boot.Authentication().IssueToken(bits);
    if (permissions) {
      ZELM_SETTING_PERMISSION_PROTOCOL *p = boot.Permission();
      status = p->ResetPermissions(p, &token);
    } else {
      ZELM_SETTING_ACCESS_PROTOCOL *access = boot.Access();
      status = access->ResetToDefaults(access, &token);
    }
    afterSettings = CurrentSettingsText();
    boot.Finish();
  }
  std::string afterPermissions = s.Variable(u"ZelmPermissionCurrent");
  std::optional<sim::PublishedPermissions> before = sim::ReadPermissions(beforePermissions);
  const bool allowed = !EFI_ERROR(status);
  std::printf("%sreset %s --signer %s (0x%02X): %s (%s)\n", dryRun ? "(dry run) " : "",
              permissions ? "permissions" : "settings", sim::IdentityName(identity), bits,
              allowed ? "done" : "refused", sim::StatusName(status).c_str());
  std::printf("  reason: %s\n", RecoveryReason(before, groups, bits, allowed).c_str());
  std::vector<std::string> changes;
  if (permissions) {
    std::optional<sim::PublishedPermissions> after = sim::ReadPermissions(afterPermissions);
    if (before && after) {
      if (before->defaultPMask != after->defaultPMask ||
          before->defaultDMask != after->defaultDMask) {
        changes.push_back("defaults: PMask " + Hex8(before->defaultPMask) + " DMask " +
                          Hex8(before->defaultDMask) + " -> PMask " + Hex8(after->defaultPMask) +
                          " DMask " + Hex8(after->defaultDMask));
      }
      auto text = [](const sim::PermissionEntry *e) {
        return e == nullptr ? std::string("(no entry)")
                            : "PMask " + Hex8(e->pMask) + " DMask " + Hex8(e->dMask);
      };
      std::vector<std::string> ids;
      for (const auto *list : {&before->entries, &after->entries}) {
        for (const sim::PermissionEntry &e : *list) {
          if (!Contains(ids, e.id)) {
            ids.push_back(e.id);
          }
        }
      }
      for (const std::string &id : ids) {
        std::string was = text(before->Find(id)), now = text(after->Find(id));
        if (was != now) {
          changes.push_back(id + ": " + was + " -> " + now);
        }
      }
    }
  } else {
    auto was = PublishedSettings(beforeSettings);
    auto now = PublishedSettings(afterSettings);
    for (size_t k = 0; k < was.size() && k < now.size(); k++) {
      if (was[k].first == now[k].first && was[k].second != now[k].second) {
        changes.push_back(was[k].first + ": " + was[k].second + " -> " + now[k].second);
      }
    }
  }
  std::printf("  changed:%s\n", changes.empty() ? " nothing" : "");
  for (const std::string &c : changes) {
    std::printf("    %s\n", c.c_str());
  }
  if (!dryRun) {
    std::string error;
    if (!s.Save(&error)) {
      return Fail(error);
    }
  }
  return allowed ? kDone : kRefused;
}

// The fleet check: each machine mirrored in memory, the packet signed once
// and dry-run on every mirror.
int Check(host::PacketKind kind, const std::string &file, Identity signer,
          const std::vector<std::string> &dirs, const sim::MirrorOptions &options) {
  std::string content;
  std::string error;
  if (!sim::ReadFile(file, &content, &error)) {
    return Fail(error);
  }
  // Every machine is read and checked before any is judged: a bad
  // directory is named and nothing is printed for the others.
  std::vector<sim::MachineState> machines(dirs.size());
  for (size_t k = 0; k < dirs.size(); k++) {
    if (!sim::ReadMachine(dirs[k], &machines[k], &error)) {
      return Fail(error);
    }
  }
  char pattern[] = "/tmp/zelm-sim-check-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    return Fail("cannot make a temporary key store");
  }
  const std::string keysDir = pattern;
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup{keysDir};
  sim::KeyStore keys(keysDir);
  if (!keys.Ensure(signer, &error)) {
    return Fail(error);
  }
  std::vector<UINT8> packet = keys.SignPacket(content, signer, &error);
  if (packet.empty()) {
    return Fail(error);
  }
  // Lines are printed once every machine is judged: a machine that cannot
  // be mirrored stops the check before any verdict is out.
  std::vector<std::string> lines;
  size_t accepting = 0;
  for (const sim::MachineState &machine : machines) {
    host::Platform platform;
    sim::MirrorReport report;
    if (!sim::BuildMirror(machine, options, platform, keys, &report, &error)) {
      return Fail(error);
    }
    sim::ApplyOutcome outcome;
    {
      sim::SimBoot boot(platform, keys);
      if (!boot.Start()) {
        return Fail("the driver did not start on the mirror of " + machine.dir);
      }
      outcome = sim::ApplyPacket(boot, packet, {kind, 0, false});
      boot.Finish();
    }
    sim::ReadElements(&outcome);
    std::string line = "{\"machine\": \"" + sim::JsonEscape(machine.dir) + "\", \"device\": {";
    for (size_t k = 0; k < machine.device.size(); k++) {
      line += std::string(k ? ", " : "") + "\"" + sim::JsonEscape(machine.device[k].first) +
              "\": \"" + sim::JsonEscape(machine.device[k].second) + "\"";
    }
    line += "}, \"state\": " + std::to_string(outcome.state) + ", \"status\": \"" +
            sim::StatusHex(outcome.status) + "\", \"refused\": [";
    std::string results, unchecked, unpublished;
    bool first = true;
    for (const auto &[id, result] : outcome.elements) {
      if (result != "0x0") {
        line += std::string(first ? "" : ", ") + "\"" + sim::JsonEscape(id) + "\"";
        first = false;
      }
      results += std::string(results.empty() ? "" : ", ") + "{\"id\": \"" + sim::JsonEscape(id) +
                 "\", \"result\": \"" + sim::JsonEscape(result) + "\"}";
      if (Contains(report.standIns, id)) {
        unchecked += std::string(unchecked.empty() ? "" : ", ") + "\"" + sim::JsonEscape(id) + "\"";
      }
      if (Contains(report.unpublished, id)) {
        unpublished +=
            std::string(unpublished.empty() ? "" : ", ") + "\"" + sim::JsonEscape(id) + "\"";
      }
    }
    line += "], \"results\": [" + results + "], \"stand_in\": [" + unchecked + "]";
    // Only where it applies, so that the common line stays as it is.
    if (!unpublished.empty()) {
      line += ", \"unpublished\": [" + unpublished + "]";
    }
    line += "}";
    lines.push_back(std::move(line));
    if (outcome.Applied() && !outcome.AnyElementFailed()) {
      accepting++;
    }
  }
  for (const std::string &line : lines) {
    std::printf("%s\n", line.c_str());
  }
  std::printf("check: %zu machines, %zu accept the packet and every element, %zu refuse\n",
              machines.size(), accepting, machines.size() - accepting);
  return accepting == machines.size() ? kDone : kRefused;
}

// --owner-enrolled, --ztd-enrolled, --permissions-floor N at Rest[I]; FALSE
// when Rest[I] is none of them.
bool MirrorOption(const std::vector<std::string> &rest, size_t *i, sim::MirrorOptions *options,
                  std::string *problem) {
  const std::string &arg = rest[*i];
  if (arg == "--owner-enrolled") {
    options->enrolled |= ZELM_IDENTITY_OWNER;
  } else if (arg == "--ztd-enrolled") {
    options->enrolled |= ZELM_IDENTITY_ZERO_TOUCH;
  } else if (arg == "--permissions-floor") {
    char *end = nullptr;
    const std::string text = *i + 1 < rest.size() ? rest[*i + 1] : std::string();
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 0xFFFFFFFFull) {
      *problem = "--permissions-floor takes a number from 0 to 4294967295";
      return true;
    }
    options->permissionsFloor = static_cast<UINT32>(value);
    ++*i;
  } else {
    return false;
  }
  return true;
}

int Demo() {
  char pattern[] = "/tmp/zelm-sim-demo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    return Fail("cannot make a temporary store");
  }
  std::string dir = pattern;
  int rc = kDone;
  auto write = [&](const char *name, const char *text) {
    std::string path = dir + "/" + name;
    std::string error;
    if (!sim::ReplaceFile(path, text, &error)) {
      rc = Fail(error);
    }
    return path;
  };
  std::string settings = write("settings.xml", sim::kSampleSettings);
  std::string permissions = write("permissions.xml", sim::kSamplePermissions);
  std::string refused = write("settings-refused.xml", sim::kSampleRefusedSettings);
  std::printf("== a fresh platform, store %s\n", dir.c_str());
  auto step = [&](const std::string &title, LockMode mode, auto &&run) {
    std::printf("\n== %s\n", title.c_str());
    Session s(dir);
    std::string error;
    if (!s.Open(mode, /*wait=*/true, &error)) {
      rc = Fail(error);
      return;
    }
    run(s);
  };
  step("enroll owner", LockMode::Exclusive, [&](Session &s) { Enrol(s, "owner", true); });
  step("apply settings packet (signer: local)", LockMode::Exclusive, [&](Session &s) {
    ApplyArgs a;
    a.file = settings;
    a.signer = Identity::Local;
    Apply(s, a);
  });
  step("apply permissions packet (signer: owner): only the owner may change USB boot",
       LockMode::Exclusive, [&](Session &s) {
         ApplyArgs a;
         a.kind = host::PacketKind::Permissions;
         a.file = permissions;
         a.signer = Identity::Owner;
         Apply(s, a);
       });
  step("apply settings packet (signer: local): USB boot is now refused", LockMode::Exclusive,
       [&](Session &s) {
         ApplyArgs a;
         a.file = refused;
         a.signer = Identity::Local;
         Apply(s, a);
       });
  step("reboot", LockMode::Exclusive, [&](Session &s) { Boot(s); });
  for (const char *name :
       {"ZelmSettingsCurrent", "ZelmPermissionCurrent", "ZelmDeviceIdentifier"}) {
    step(std::string("show ") + name, LockMode::Shared,
         [&](Session &s) { Show(s, name, false, false); });
  }
  step("why Device.USBBoot.Enable --signer local", LockMode::Shared,
       [&](Session &s) { Why(s, "Device.USBBoot.Enable", Identity::Local); });
  step("why Zelm.BootExternalMedia.Enable --signer local: the group of USB boot", LockMode::Shared,
       [&](Session &s) { Why(s, "Zelm.BootExternalMedia.Enable", Identity::Local); });
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string dir = "./zelm-store";
  bool wait = true;
  std::optional<std::string> efivarfs;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i] == "--efivarfs") {
      // Without a directory: the running machine's.
      const bool given = i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0;
      efivarfs = given ? args[++i] : std::string(sim::kDefaultEfivarfs);
    } else if (args[i] == "--store") {
      if (i + 1 >= args.size()) {
        return Usage("--store needs a directory");
      }
      dir = args[++i];
    } else if (args[i] == "--no-wait") {
      wait = false;
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) {
    return Usage("no command");
  }
  const std::string command = rest[0];
  if (command == "demo" && rest.size() == 1) {
    return Demo();
  }
  if (efivarfs && command != "show" && command != "vars" && command != "export" &&
      command != "mirror") {
    return Usage("--efivarfs goes with show, vars, export and mirror (check takes --against)");
  }
  // Flags of show and vars.
  bool raw = false, json = false;
  std::vector<std::string> plain;
  if (command == "show" || command == "vars") {
    for (const std::string &arg : rest) {
      if (arg == "--raw") {
        raw = true;
      } else if (arg == "--json") {
        json = true;
      } else {
        plain.push_back(arg);
      }
    }
    if ((command == "show" && plain.size() != 2) ||
        (command == "vars" && (plain.size() != 1 || raw)) || (raw && json)) {
      return Usage("show takes NAME [--raw | --json], vars [--json]");
    }
    if (efivarfs) {
      return command == "show" ? ShowMachine(*efivarfs, plain[1], raw, json)
                               : VarsMachine(*efivarfs, json);
    }
  }
  if (command == "check") {
    if (rest.size() < 2 || (rest[1] != "settings" && rest[1] != "permissions")) {
      return Usage("check takes settings or permissions");
    }
    std::string file;
    std::optional<Identity> signer;
    std::vector<std::string> dirs;
    sim::MirrorOptions options;
    bool against = false;
    for (size_t i = 2; i < rest.size(); i++) {
      std::string problem;
      if (rest[i] == "--signer" && i + 1 < rest.size()) {
        signer = ParseIdentity(rest[++i]);
        if (!signer) {
          return Usage("--signer takes owner, ztd or local");
        }
        against = false;
      } else if (rest[i] == "--against") {
        against = true;
      } else if (MirrorOption(rest, &i, &options, &problem)) {
        if (!problem.empty()) {
          return Usage(problem);
        }
        against = false;
      } else if (rest[i].rfind("--", 0) == 0) {
        return Usage("unknown argument " + rest[i]);
      } else if (against) {
        dirs.push_back(rest[i]);
      } else if (file.empty()) {
        file = rest[i];
      } else {
        return Usage("unexpected argument " + rest[i]);
      }
    }
    if (file.empty() || !signer || dirs.empty()) {
      return Usage("check needs FILE, --signer and --against DIR...");
    }
    return Check(rest[1] == "settings" ? host::PacketKind::Settings : host::PacketKind::Permissions,
                 file, *signer, dirs, options);
  }
  Session s(dir);
  std::string error;
  // Commands that can write hold the store exclusively; the others share it.
  auto open = [&](LockMode mode) { return s.Open(mode, wait, &error); };
  if (command == "boot" && rest.size() == 1) {
    return open(LockMode::Exclusive) ? Boot(s) : Fail(error);
  }
  if ((command == "enroll" || command == "unenroll") && rest.size() == 2) {
    return open(LockMode::Exclusive) ? Enrol(s, rest[1], command == "enroll") : Fail(error);
  }
  if (command == "vars") {
    return open(LockMode::Shared) ? Vars(s, json) : Fail(error);
  }
  if (command == "export" && rest.size() == 1) {
    if (!efivarfs || *efivarfs == sim::kDefaultEfivarfs) {
      return Usage("export needs --efivarfs DIR, a directory other than the machine's own");
    }
    return open(LockMode::Shared) ? Export(s, *efivarfs) : Fail(error);
  }
  if (command == "mirror") {
    sim::MirrorOptions options;
    for (size_t i = 1; i < rest.size(); i++) {
      std::string problem;
      if (!MirrorOption(rest, &i, &options, &problem)) {
        return Usage("unknown argument " + rest[i]);
      }
      if (!problem.empty()) {
        return Usage(problem);
      }
    }
    return open(LockMode::Exclusive) ? Mirror(s, efivarfs.value_or(sim::kDefaultEfivarfs), options)
                                     : Fail(error);
  }
  if (command == "reset" && (rest.size() == 4 || rest.size() == 5)) {
    const bool permissions = rest[1] == "permissions";
    std::optional<Identity> signer = rest[2] == "--signer" ? ParseIdentity(rest[3]) : std::nullopt;
    const bool dryRun = rest.size() == 5 && rest[4] == "--dry-run";
    if ((!permissions && rest[1] != "settings") || !signer || (rest.size() == 5 && !dryRun)) {
      return Usage("reset takes permissions|settings --signer owner|ztd|local [--dry-run]");
    }
    return open(LockMode::Exclusive) ? Reset(s, permissions, *signer, dryRun) : Fail(error);
  }
  if (command == "history" && rest.size() == 1) {
    std::string text;
    if (!open(LockMode::Shared) || !s.store.History(&text, &error)) {
      return Fail(error);
    }
    std::printf("%s", text.c_str());
    return kDone;
  }
  if (command == "show") {
    return open(LockMode::Shared) ? Show(s, plain[1], raw, json) : Fail(error);
  }
  if (command == "get" && rest.size() == 2) {
    return open(LockMode::Shared) ? Get(s, rest[1]) : Fail(error);
  }
  if (command == "why" && rest.size() == 4 && rest[2] == "--signer") {
    std::optional<Identity> identity = ParseIdentity(rest[3]);
    if (!identity) {
      return Usage("--signer takes owner, ztd or local");
    }
    return open(LockMode::Shared) ? Why(s, rest[1], *identity) : Fail(error);
  }
  if (command == "apply" && rest.size() >= 3) {
    ApplyArgs a;
    if (rest[1] == "permissions") {
      a.kind = host::PacketKind::Permissions;
    } else if (rest[1] != "settings") {
      return Usage("apply takes settings or permissions");
    }
    for (size_t i = 2; i < rest.size(); i++) {
      const std::string &arg = rest[i];
      if (arg == "--signer" && i + 1 < rest.size()) {
        const std::string &who = rest[++i];
        a.none = who == "none";
        a.signer = ParseIdentity(who);
        if (!a.none && !a.signer) {
          return Usage("--signer takes owner, ztd, local or none");
        }
      } else if (arg == "--signed" && i + 1 < rest.size()) {
        a.signedFile = true;
        a.file = rest[++i];
      } else if (arg == "--session" && i + 1 < rest.size()) {
        a.session = static_cast<UINT32>(std::strtoul(rest[++i].c_str(), nullptr, 0));
      } else if (arg == "--json") {
        a.json = true;
      } else if (arg == "--strict") {
        a.strict = true;
      } else if (arg == "--no-append") {
        a.noAppend = true;
      } else if (arg == "--dry-run") {
        a.dryRun = true;
      } else if (arg.rfind("--", 0) != 0 && a.file.empty()) {
        a.file = arg;
      } else {
        return Usage("unknown argument " + arg);
      }
    }
    if (a.file.empty() || (!a.signedFile && !a.signer && !a.none) ||
        (a.signedFile && (a.signer || a.none))) {
      return Usage("apply needs FILE with --signer, or --signed FILE");
    }
    return open(LockMode::Exclusive) ? Apply(s, a) : Fail(error);
  }
  return Usage("unknown command or arguments");
}
