// zelm-sim: the driver on a simulated platform, for packet authors and
// firmware integrators. See README.md for the commands.
#include <zelm/Zelm.h>
#include <zelm/ZelmGuids.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "host/HostFirmware.h"
#include "host/Transport.h"
#include "tools/zelm-sim/SimApply.h"
#include "tools/zelm-sim/SimAuthentication.h"
#include "tools/zelm-sim/SimBoot.h"
#include "tools/zelm-sim/SimSamples.h"
#include "tools/zelm-sim/SimShow.h"
#include "tools/zelm-sim/SimStore.h"

namespace {

using sim::Identity;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: zelm-sim [--store DIR] COMMAND\n"
    "  boot                                   one boot of the platform\n"
    "  enroll owner|ztd, unenroll owner|ztd   change the enrolled keys\n"
    "  apply settings|permissions FILE --signer owner|ztd|local|none\n"
    "        [--session N] [--json] [--strict] [--no-append] [--dry-run]\n"
    "  apply settings|permissions --signed FILE [...]\n"
    "  show NAME [--raw], vars                the store's variables\n"
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

// The groups the settings manager forms, and their members.
const std::map<std::string, std::vector<std::string>> kGroups = {
    {"Zelm.OnboardCameras.Enable",
     {"Device.FrontCamera.Enable", "Device.RearCamera.Enable", "Device.IRCamera.Enable"}},
    {"Zelm.BootExternalMedia.Enable", {"Device.USBBoot.Enable"}},
};

// (Id, Value) of every SettingCurrent of a CurrentSettingsPacket.
std::vector<std::pair<std::string, std::string>> PublishedSettings(const std::string &document) {
  std::vector<std::pair<std::string, std::string>> out;
  std::regex setting("<SettingCurrent><Id>([^<]*)</Id>(?:<Value>([^<]*)</Value>|<Value />)");
  for (auto it = std::sregex_iterator(document.begin(), document.end(), setting);
       it != std::sregex_iterator(); ++it) {
    out.emplace_back((*it)[1], (*it)[2]);
  }
  return out;
}

struct PermissionEntry {
  unsigned pMask = 0;
  unsigned dMask = 0;
};
struct PublishedPermissions {
  unsigned defaultPMask = 0;
  unsigned defaultDMask = 0;
  std::map<std::string, PermissionEntry> entries;
};

PublishedPermissions ParsePermissions(const std::string &document) {
  PublishedPermissions p;
  std::smatch m;
  if (std::regex_search(document, m, std::regex("Default=\"(\\d+)\""))) {
    p.defaultPMask = static_cast<unsigned>(std::stoul(m[1]));
  }
  if (std::regex_search(document, m, std::regex("Delegated=\"(\\d+)\""))) {
    p.defaultDMask = static_cast<unsigned>(std::stoul(m[1]));
  }
  std::regex entry("<PermissionCurrent><Id>([^<]*)</Id><PMask>(\\d+)</PMask>(?:<DMask>(\\d+)"
                   "</DMask>)?</PermissionCurrent>");
  for (auto it = std::sregex_iterator(document.begin(), document.end(), entry);
       it != std::sregex_iterator(); ++it) {
    // The first entry of an id decides.
    std::string id = (*it)[1];
    if (p.entries.count(id) == 0) {
      PermissionEntry e;
      e.pMask = static_cast<unsigned>(std::stoul((*it)[2]));
      e.dMask = (*it)[3].matched ? static_cast<unsigned>(std::stoul((*it)[3])) : 0;
      p.entries[id] = e;
    }
  }
  return p;
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

std::string Text(const std::vector<UINT8> &bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  return text;
}

// The rule that decides whether Identity may change Id, from the published
// permissions: a group entry, the setting's own entry, or the defaults.
struct Decision {
  bool allowed = false;
  std::string rule;
};

Decision Decide(const PublishedPermissions &p, const std::string &id, UINT8 identity) {
  for (const auto &[group, members] : kGroups) {
    bool member = std::find(members.begin(), members.end(), id) != members.end();
    auto entry = p.entries.find(group);
    if (member && entry != p.entries.end()) {
      bool allowed = (entry->second.pMask & identity) != 0;
      return {allowed, "the entry of its group " + group + " (PMask " + Hex2(entry->second.pMask) +
                           ") decides"};
    }
  }
  auto own = p.entries.find(id);
  if (own != p.entries.end()) {
    return {(own->second.pMask & identity) != 0, "its own permission entry (PMask " +
                                                     Hex2(own->second.pMask) + ", DMask " +
                                                     Hex2(own->second.dMask) + ") decides"};
  }
  return {(p.defaultPMask & identity) != 0,
          "no entry: the default PMask " + Hex2(p.defaultPMask) + " decides"};
}

// A store, its platform and keys for one command.
struct Session {
  explicit Session(std::string dir) : store(dir), keys(dir) {}
  bool Open(std::string *error) {
    if (!store.Open(platform, error)) {
      return false;
    }
    sim::PreparePlatform(platform);
    return true;
  }
  bool Save(std::string *error) { return store.Save(platform, error); }
  std::string Variable(const std::u16string &name) {
    return Text(sim::VariableByName(platform, name));
  }

  sim::SimStore store;
  host::Platform platform;
  sim::KeyStore keys;
};

int Boot(Session &s, bool quiet = false) {
  sim::SimBoot boot(s.platform, s.keys);
  if (!boot.Start()) {
    return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
  }
  boot.Finish();
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
                sim::VariableByName(s.platform, name).size());
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
  sim::SimBoot boot(s.platform, s.keys);
  if (!boot.Start()) {
    return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
  }
  // A key change, as the authentication component reports it: a token of
  // the key's identity, that identity, flag 1 when a key was enrolled.
  ZELM_AUTH_TOKEN token = boot.Authentication().IssueToken(bits);
  ZELM_SETTING_PERMISSION_PROTOCOL *permission = boot.Permission();
  EFI_STATUS status = permission->IdentityChange(permission, &token, bits, enrol ? 1 : 0);
  boot.Finish();
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

int Apply(Session &s, const ApplyArgs &a, bool quiet = false) {
  std::string content;
  if (!sim::ReadFile(a.file, &content)) {
    return Fail("cannot read " + a.file);
  }
  std::vector<UINT8> packet;
  std::string error;
  std::string signerName = a.signedFile ? "own" : (a.none ? "none" : sim::IdentityName(*a.signer));
  if (a.signedFile) {
    packet.assign(content.begin(), content.end());
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
  PublishedPermissions permissions;
  {
    sim::SimBoot boot(s.platform, s.keys);
    if (!boot.Start()) {
      return Fail("the driver did not start: " + sim::StatusName(boot.EntryStatus()));
    }
    outcome = sim::ApplyPacket(boot, packet, {a.kind, a.session, a.noAppend});
    boot.Finish();
    permissions = ParsePermissions(s.Variable(u"ZelmPermissionCurrent"));
  }
  if (!a.dryRun) {
    if (!s.Save(&error)) {
      return Fail(error);
    }
    std::smatch m;
    std::string version =
        std::regex_search(content, m, std::regex("<Version>([^<]*)</Version>")) ? m[1].str() : "?";
    std::string lowest =
        std::regex_search(content, m,
                          std::regex("<LowestSupportedVersion>([^<]*)</LowestSupportedVersion>"))
            ? m[1].str()
            : "?";
    std::string line = std::to_string(std::time(nullptr)) + " " +
                       (a.kind == host::PacketKind::Settings ? "settings" : "permissions") +
                       " signer=" + signerName + " version=" + version + "/" + lowest +
                       " state=" + std::to_string(outcome.state) +
                       " status=" + sim::StatusHex(outcome.status);
    for (const auto &[id, result] : outcome.elements) {
      line += " " + id + "=" + result;
    }
    s.store.AppendHistory(line);
  }
  const bool ok = outcome.Applied() && !(a.strict && outcome.AnyElementFailed());
  if (a.json) {
    std::printf("%s\n", sim::OutcomeJson(outcome).c_str());
    return ok ? kDone : kRefused;
  }
  if (quiet) {
    return ok ? kDone : kRefused;
  }
  std::printf("%sState %u, Status %s (%s), ResetRequired %s\n", a.dryRun ? "(dry run) " : "",
              outcome.state, sim::StatusHex(outcome.status).c_str(),
              sim::StatusName(outcome.status).c_str(), outcome.resetRequired ? "yes" : "no");
  const UINT8 bits = a.signer ? sim::IdentityBits(*a.signer) : 0;
  for (const auto &[id, result] : outcome.elements) {
    std::string line = "  " + id + ": " + result;
    if (result != "0x0") {
      EFI_STATUS status = std::strtoull(result.c_str(), nullptr, 16);
      line += " (" + sim::StatusName(status) + ")";
      if (status == EFI_ACCESS_DENIED && a.kind == host::PacketKind::Settings && bits != 0) {
        line += " — " + Decide(permissions, id, bits).rule;
      }
    }
    std::printf("%s\n", line.c_str());
  }
  if (!outcome.result.empty()) {
    std::printf("%s", sim::IndentXml(outcome.result).c_str());
  }
  return ok ? kDone : kRefused;
}

int Show(Session &s, const std::string &name, bool raw) {
  UINT32 attributes = 0;
  std::vector<UINT8> bytes = sim::VariableByName(s.platform, sim::Wide(name), &attributes);
  if (bytes.empty()) {
    std::fprintf(stderr, "zelm-sim: no variable %s in the store\n", name.c_str());
    return kRefused;
  }
  if (raw) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return kDone;
  }
  std::printf("%s (attributes %u, %zu bytes)\n%s", name.c_str(), attributes, bytes.size(),
              sim::ShowVariable(bytes).c_str());
  return kDone;
}

int Vars(Session &s) {
  for (const auto &[id, variable] : s.platform.Variables()) {
    std::printf("%-36s %s  attributes %u  %zu bytes\n", sim::Narrow(id.name).c_str(),
                sim::GuidText(id.guid).c_str(), variable.attributes, variable.data.size());
  }
  return kDone;
}

int Get(Session &s, const std::string &id) {
  int status = Boot(s, /*quiet=*/true);
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
  int status = Boot(s, /*quiet=*/true);
  if (status != kDone) {
    return status;
  }
  bool known = kGroups.count(id) != 0;
  for (const auto &[published, value] : PublishedSettings(s.Variable(u"ZelmSettingsCurrent"))) {
    known = known || published == id;
  }
  if (!known) {
    return Fail("the driver knows no setting " + id);
  }
  const UINT8 bits = sim::IdentityBits(identity);
  Decision d = Decide(ParsePermissions(s.Variable(u"ZelmPermissionCurrent")), id, bits);
  std::printf("%s: %s (0x%02X) %s change %s: %s\n", d.allowed ? "allowed" : "denied",
              sim::IdentityName(identity), bits, d.allowed ? "may" : "may not", id.c_str(),
              d.rule.c_str());
  return d.allowed ? kDone : kRefused;
}

int Demo() {
  char pattern[] = "/tmp/zelm-sim-demo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    return Fail("cannot make a temporary store");
  }
  std::string dir = pattern;
  auto write = [&](const char *name, const char *text) {
    std::string path = dir + "/" + name;
    sim::WriteFileAtomically(path, text);
    return path;
  };
  std::string settings = write("settings.xml", sim::kSampleSettings);
  std::string permissions = write("permissions.xml", sim::kSamplePermissions);
  std::string refused = write("settings-refused.xml", sim::kSampleRefusedSettings);
  std::printf("== a fresh platform, store %s\n", dir.c_str());
  int rc = kDone;
  auto step = [&](const char *title, auto &&run) {
    std::printf("\n== %s\n", title);
    Session s(dir);
    std::string error;
    if (!s.Open(&error)) {
      rc = Fail(error);
      return;
    }
    run(s);
  };
  step("enroll owner", [&](Session &s) { Enrol(s, "owner", true); });
  step("apply settings packet (signer: local)", [&](Session &s) {
    ApplyArgs a;
    a.file = settings;
    a.signer = Identity::Local;
    Apply(s, a);
  });
  step("apply permissions packet (signer: owner): only the owner may change USB boot",
       [&](Session &s) {
         ApplyArgs a;
         a.kind = host::PacketKind::Permissions;
         a.file = permissions;
         a.signer = Identity::Owner;
         Apply(s, a);
       });
  step("apply settings packet (signer: local): USB boot is now refused", [&](Session &s) {
    ApplyArgs a;
    a.file = refused;
    a.signer = Identity::Local;
    Apply(s, a);
  });
  step("reboot", [&](Session &s) { Boot(s); });
  for (const char *name :
       {"ZelmSettingsCurrent", "ZelmPermissionCurrent", "ZelmDeviceIdentifier"}) {
    step((std::string("show ") + name).c_str(), [&](Session &s) { Show(s, name, false); });
  }
  step("why Device.USBBoot.Enable --signer local",
       [&](Session &s) { Why(s, "Device.USBBoot.Enable", Identity::Local); });
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string dir = "./zelm-store";
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i] == "--store") {
      if (i + 1 >= args.size()) {
        return Usage("--store needs a directory");
      }
      dir = args[++i];
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) {
    return Usage("no command");
  }
  const std::string command = rest[0];
  if (command == "demo") {
    return Demo();
  }
  Session s(dir);
  std::string error;
  auto open = [&]() { return s.Open(&error); };
  if (command == "boot" && rest.size() == 1) {
    return open() ? Boot(s) : Fail(error);
  }
  if ((command == "enroll" || command == "unenroll") && rest.size() == 2) {
    return open() ? Enrol(s, rest[1], command == "enroll") : Fail(error);
  }
  if (command == "vars" && rest.size() == 1) {
    return open() ? Vars(s) : Fail(error);
  }
  if (command == "history" && rest.size() == 1) {
    if (!open()) {
      return Fail(error);
    }
    std::printf("%s", s.store.History().c_str());
    return kDone;
  }
  if (command == "show" && (rest.size() == 2 || (rest.size() == 3 && rest[2] == "--raw"))) {
    return open() ? Show(s, rest[1], rest.size() == 3) : Fail(error);
  }
  if (command == "get" && rest.size() == 2) {
    return open() ? Get(s, rest[1]) : Fail(error);
  }
  if (command == "why" && rest.size() == 4 && rest[2] == "--signer") {
    std::optional<Identity> identity = ParseIdentity(rest[3]);
    if (!identity) {
      return Usage("--signer takes owner, ztd or local");
    }
    return open() ? Why(s, rest[1], *identity) : Fail(error);
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
    return open() ? Apply(s, a) : Fail(error);
  }
  return Usage("unknown command or arguments");
}
