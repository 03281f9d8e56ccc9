// zelm-sim against machines: efivarfs directories (made by export, or by
// hand for hostile input), mirrors of them and the fleet check, all through
// the binary. No test reads the running machine's /sys/firmware.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out;
};

class SimFleetTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelm-sim-fleet-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // A sanitizer report is its own exit code, never mistaken for a refusal.
  Outcome Run(const std::string &args) {
    std::string command =
        "ASAN_OPTIONS=detect_leaks=1:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:exitcode=86 " +
        std::string(ZELM_SIM_BINARY) + " " + args + " 2>" + dir + "/stderr";
    Outcome run;
    FILE *pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
      run.out.append(buffer, n);
    }
    int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
  Outcome On(const std::string &store, const std::string &args) {
    return Run("--store " + store + " " + args);
  }
  std::string Stderr() { return Read(dir + "/stderr"); }
  static std::string Read(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  static void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Write(const std::string &name, const std::string &text) {
    std::string path = dir + "/" + name;
    WriteBytes(path, text);
    return path;
  }
  // The file of variable Name in an efivarfs directory.
  static std::string FileOf(const std::string &machine, const std::string &name) {
    for (const auto &entry : fs::directory_iterator(machine)) {
      std::string file = entry.path().filename().string();
      if (file.size() == name.size() + 37 && file.rfind(name + "-", 0) == 0) {
        return entry.path().string();
      }
    }
    return {};
  }
  // A store whose keys exist (made once per test), so that stores copied
  // from it sign without making keys again.
  std::string Template() {
    std::string path = dir + "/template";
    if (!fs::exists(path)) {
      EXPECT_EQ(On(path, "enroll owner").code, 0) << Stderr();
      EXPECT_EQ(On(path, "enroll ztd").code, 0) << Stderr();
      EXPECT_EQ(On(path, "apply settings " + Write("empty.xml", Settings(1, 1, "")) +
                             " --signer local --dry-run")
                    .code,
                0)
          << Stderr();
    }
    return path;
  }
  std::string CopyOf(const std::string &from, const std::string &name) {
    std::string to = dir + "/" + name;
    fs::copy(from, to, fs::copy_options::recursive);
    return to;
  }
  // A copy of the template's keys only: a new, empty platform.
  std::string KeysOnly(const std::string &name) {
    std::string to = dir + "/" + name;
    fs::create_directories(to);
    fs::copy(Template() + "/keys", to + "/keys", fs::copy_options::recursive);
    return to;
  }

  static std::string Settings(unsigned version, unsigned lowest, const std::string &body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><SettingsPacket><Version>" +
           std::to_string(version) + "</Version><LowestSupportedVersion>" + std::to_string(lowest) +
           "</LowestSupportedVersion><Settings>" + body + "</Settings></SettingsPacket>";
  }
  static std::string Setting(const std::string &id, const std::string &value) {
    return "<Setting><Id>" + id + "</Id><Value>" + value + "</Value></Setting>";
  }

  std::string dir;
};

// Per-element results and values of a dry run's JSON, without the result
// text (it carries the time of the run).
std::string Decisions(const std::string &json) {
  size_t result = json.find(", \"result\": ");
  size_t elements = json.find(", \"elements\": ");
  if (result == std::string::npos || elements == std::string::npos) {
    return "unexpected output: " + json;
  }
  return json.substr(0, result) + json.substr(elements);
}

// The model-based part: random stores built by random packets, exported
// and mirrored; random packets must dry-run on the mirror with exactly the
// per-element results (and values) of the original.
TEST_F(SimFleetTest, AMirrorDecidesAsTheMachineItWasMadeFrom) {
  const int stores = std::getenv("ZELM_SIM_MIRROR_STORES") != nullptr
                         ? std::atoi(std::getenv("ZELM_SIM_MIRROR_STORES"))
                         : 25;
  const int packets = 12;
  // A fixed seed by default; ZELM_SIM_MIRROR_SEED picks another for a long run.
  std::mt19937 random(std::getenv("ZELM_SIM_MIRROR_SEED") != nullptr
                          ? static_cast<unsigned>(std::atoi(std::getenv("ZELM_SIM_MIRROR_SEED")))
                          : 20261210u);
  auto pick = [&](const std::vector<std::string> &from) { return from[random() % from.size()]; };
  auto chance = [&](unsigned percent) { return random() % 100 < percent; };
  const std::vector<std::string> signers = {"owner", "ztd", "local"};
  const std::vector<std::string> masks = {"0", "1", "8", "9", "128", "129", "136", "137", "240"};
  const std::vector<std::string> permissionIds = {
      "Device.USBBoot.Enable",         "Device.BootOrderLock.Enable", "Zelm3.AssetTag.String",
      "Zelm.BootExternalMedia.Enable", "Zelm.OwnerKey.Enum",          "Zelm.Recovery.Enable",
      "MDM.TenantName.String",         "Acme.Other.Setting",          "9Digit.Led"};
  struct Choice {
    std::string id;
    std::vector<std::string> values;
  };
  const std::vector<Choice> settings = {
      {"Device.USBBoot.Enable", {"Enabled", "Disabled", "Maybe"}},
      {"Device.BootOrderLock.Enable", {"Enabled", "Disabled"}},
      {"Zelm.BootOnboardNetwork.Enable", {"Enabled", "Disabled"}},
      {"Device.CpuAndIoVirtualization.Enable", {"Enabled", "Disabled"}},
      {"Zelm3.OnboardXpbt.Enable", {"Enabled", "Disabled"}},
      {"Zelm.BootExternalMedia.Enable", {"Enabled", "Disabled"}},
      {"Zelm3.AssetTag.String", {"A-1", "B-2", ""}},
      {"MDM.FriendlyName.String", {"desk", "lab"}},
      {"Device.Nothing.Here", {"1"}}};
  auto permissionsPacket = [&]() {
    unsigned version = random() % 5;
    unsigned lowest = chance(10) ? version + 1 : random() % (version + 1);
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PermissionsPacket><Version>" +
                       std::to_string(version) + "</Version><LowestSupportedVersion>" +
                       std::to_string(lowest) + "</LowestSupportedVersion><Permissions Append=\"" +
                       (chance(60) ? "True" : "False") + "\"";
    if (chance(30)) {
      text += " Default=\"" + pick(masks) + "\" Delegated=\"" + pick(masks) + "\"";
    }
    text += ">";
    for (unsigned n = 1 + random() % 4; n > 0; n--) {
      text += "<Permission><Id>" + pick(permissionIds) + "</Id><PMask>" + pick(masks) + "</PMask>" +
              (chance(60) ? "<DMask>" + pick(masks) + "</DMask>" : "") + "</Permission>";
    }
    return text + "</Permissions></PermissionsPacket>";
  };
  auto settingsPacket = [&]() {
    unsigned version = random() % 5;
    unsigned lowest = chance(10) ? version + 1 : random() % (version + 1);
    std::string body;
    for (unsigned n = 1 + random() % 4; n > 0; n--) {
      const Choice &c = settings[random() % settings.size()];
      body += Setting(c.id, pick(c.values));
    }
    return Settings(version, lowest, body);
  };
  const std::string base = Template();
  int cases = 0;
  // What the cases covered, so that a run that only ever refused (or only
  // ever accepted) cannot pass unnoticed.
  int applied = 0, accepted = 0, refused = 0;
  auto count = [](const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      n++;
    }
    return n;
  };
  for (int i = 0; i < stores; i++) {
    SCOPED_TRACE("store " + std::to_string(i));
    const std::string original = CopyOf(base, "original" + std::to_string(i));
    bool owner = true, ztd = true;
    for (unsigned n = 1 + random() % 3; n > 0; n--) {
      std::string file = Write("p.xml", permissionsPacket());
      ASSERT_NE(On(original, "apply permissions " + file + " --signer " + pick(signers)).code, 2)
          << Stderr();
    }
    for (unsigned n = random() % 3; n > 0; n--) {
      std::string file = Write("s.xml", settingsPacket());
      ASSERT_NE(On(original, "apply settings " + file + " --signer " + pick(signers)).code, 2)
          << Stderr();
    }
    if (chance(25)) {
      ztd = false;
      ASSERT_EQ(On(original, "unenroll ztd").code, 0) << Stderr();
    }
    if (chance(15)) {
      owner = false;
      ASSERT_EQ(On(original, "unenroll owner").code, 0) << Stderr();
    }
    // What the operating system cannot see, the fleet's manager knows: the
    // keys, and the permissions-packet floor ("_SPP" bytes 9 to 12).
    Outcome spp = On(original, "show _SPP --raw");
    ASSERT_GE(spp.out.size(), 13u);
    unsigned floor = 0;
    for (int k = 3; k >= 0; k--) {
      floor = floor << 8 | static_cast<unsigned char>(spp.out[9 + k]);
    }
    const std::string machine = dir + "/machine" + std::to_string(i);
    ASSERT_EQ(On(original, "export --efivarfs " + machine).code, 0) << Stderr();
    const std::string mirror = KeysOnly("mirror" + std::to_string(i));
    Outcome made = On(mirror, "mirror --efivarfs " + machine + (owner ? " --owner-enrolled" : "") +
                                  (ztd ? " --ztd-enrolled" : "") + " --permissions-floor " +
                                  std::to_string(floor));
    ASSERT_EQ(made.code, 0) << Stderr();
    for (int p = 0; p < packets; p++) {
      const bool isSettings = chance(60);
      std::string file = Write("x.xml", isSettings ? settingsPacket() : permissionsPacket());
      std::string args = std::string("apply ") + (isSettings ? "settings " : "permissions ") +
                         file + " --signer " + pick(signers) + " --dry-run --json";
      Outcome want = On(original, args);
      Outcome got = On(mirror, args);
      ASSERT_NE(want.code, 2) << Stderr();
      EXPECT_EQ(got.code, want.code) << Read(file);
      EXPECT_EQ(Decisions(got.out), Decisions(want.out)) << Read(file) << "\n" << made.out;
      cases++;
      applied += want.out.rfind("{\"state\": 4, ", 0) == 0 ? 1 : 0;
      accepted += count(want.out, "\"result\": \"0x0\"");
      refused += count(want.out, "\"result\": \"0x8");
    }
  }
  std::printf("mirror differential: %d cases over %d stores; %d packets applied, %d elements "
              "accepted, %d refused\n",
              cases, stores, applied, accepted, refused);
  EXPECT_GT(applied, cases / 10);
  EXPECT_GT(accepted, cases / 10);
  EXPECT_GT(refused, cases / 10);
}

TEST_F(SimFleetTest, ExportWritesEfivarfsLayout) {
  const std::string store = CopyOf(Template(), "store");
  const std::string machine = dir + "/machine";
  Outcome exported = On(store, "export --efivarfs " + machine);
  ASSERT_EQ(exported.code, 0) << Stderr();
  // Runtime-visible variables only: no "_SPP" (attributes 3).
  EXPECT_TRUE(FileOf(machine, "_SPP").empty());
  const std::string file = FileOf(machine, "ZelmDeviceIdentifier");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(fs::path(file).filename().string(),
            "ZelmDeviceIdentifier-ccb30e8a-be85-48be-ac04-1ba9a9fadbfb");
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket><Identifiers>"
      "<Identifier><Id>Manufacturer</Id><Value>Zelm Simulated Systems</Value></Identifier>"
      "<Identifier><Id>Product Name</Id><Value>Zelm Sim 1</Value></Identifier>"
      "<Identifier><Id>Serial Number</Id><Value>SIM-0001</Value></Identifier></Identifiers>"
      "<ZelmVersion>2</ZelmVersion></UEFIDeviceIdentifierPacket>";
  EXPECT_EQ(Read(file), std::string("\x07\x00\x00\x00", 4) + document + std::string(1, '\0'));
  // Read back from the directory exactly as from a store.
  Outcome raw = Run("show ZelmDeviceIdentifier --raw --efivarfs " + machine);
  EXPECT_EQ(raw.code, 0) << Stderr();
  EXPECT_EQ(raw.out, document + std::string(1, '\0'));
  Outcome shown = Run("show ZelmPermissionCurrent --efivarfs " + machine);
  EXPECT_EQ(shown.code, 0);
  EXPECT_EQ(shown.out, On(store, "show ZelmPermissionCurrent").out);
  Outcome vars = Run("vars --efivarfs " + machine);
  EXPECT_EQ(vars.code, 0);
  EXPECT_NE(vars.out.find("ZelmSettingsCurrent                  "
                          "22fe5626-ca68-4508-8945-b8a6073a1351  attributes 7"),
            std::string::npos)
      << vars.out;
  Outcome json = Run("vars --json --efivarfs " + machine);
  EXPECT_NE(json.out.find("{\"name\": \"ZelmDeviceIdentifier\", \"guid\": "
                          "\"ccb30e8a-be85-48be-ac04-1ba9a9fadbfb\", \"attributes\": 7, "
                          "\"size\": " +
                          std::to_string(document.size() + 1) + "}\n"),
            std::string::npos)
      << json.out;
  EXPECT_EQ(Run("show Nothing --efivarfs " + machine).code, 1);
  // Export never writes into the machine's own efivarfs.
  EXPECT_EQ(On(store, "export --efivarfs").code, 2);
  EXPECT_EQ(On(store, "export --efivarfs /sys/firmware/efi/efivars").code, 2);
}

TEST_F(SimFleetTest, MalformedMachinesAreRefusedAndNothingIsWritten) {
  const std::string store = CopyOf(Template(), "store");
  const std::string good = dir + "/good";
  ASSERT_EQ(On(store, "export --efivarfs " + good).code, 0) << Stderr();
  auto variant = [&](const std::string &name, const std::string &variable, auto &&change) {
    std::string machine = CopyOf(good, name);
    std::string file = FileOf(machine, variable);
    std::string bytes = Read(file);
    change(file, bytes);
    return machine;
  };
  auto replace = [](std::string text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  struct Row {
    const char *what;
    std::string machine;
    std::string message;
  };
  const std::string empty = dir + "/empty";
  fs::create_directories(empty);
  const std::vector<Row> rows = {
      {"truncated file",
       variant("short", "ZelmPermissionCurrent",
               [&](const std::string &f, const std::string &b) { WriteBytes(f, b.substr(0, 3)); }),
       "shorter than its 4-byte attributes"},
      {"attributes 6",
       variant("attributes", "ZelmSettingsCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, "\x06" + b.substr(1));
               }),
       "attributes 6, not 7"},
      {"a document that does not parse",
       variant("cut", "ZelmSettingsCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, b.substr(0, b.size() / 2));
               }),
       "does not parse"},
      {"digit-led id",
       variant("digit", "ZelmPermissionCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, replace(b, "<Id>Zelm.ZtdKey.Enum</Id>", "<Id>7Zelm.ZtdKey</Id>"));
               }),
       "entry 2 (\"7Zelm.ZtdKey\") has an id that begins with a digit"},
      {"over-long id",
       variant("long", "ZelmPermissionCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, replace(b, "<Id>Zelm.ZtdKey.Enum</Id>",
                                       "<Id>" + std::string(97, 'x') + "</Id>"));
               }),
       "an id of 97 characters, over the driver's 96"},
      {"mask over a byte",
       variant("mask", "ZelmPermissionCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, replace(b, "<PMask>9</PMask>", "<PMask>999</PMask>"));
               }),
       "no decimal byte"},
      {"settings value its provider refuses",
       variant("value", "ZelmSettingsCurrent",
               [&](const std::string &f, const std::string &b) {
                 WriteBytes(f, replace(b, "<Id>Device.USBBoot.Enable</Id><Value>Enabled",
                                       "<Id>Device.USBBoot.Enable</Id><Value>Sometimes"));
               }),
       "the value \"Sometimes\" of Device.USBBoot.Enable is refused by its provider"},
      {"a directory with none of the variables", empty, "has no ZelmPermissionCurrent"},
      {"no directory", dir + "/missing", "cannot read the efivarfs directory"},
  };
  int n = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const std::string mirror = dir + "/mirror" + std::to_string(n++);
    Outcome made = On(mirror, "mirror --efivarfs " + row.machine);
    EXPECT_EQ(made.code, 2);
    std::string err = Stderr();
    EXPECT_NE(err.find(row.message), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(mirror + "/store.bin")) << "a refused mirror leaves no store";
    // The fleet check names the machine and judges none.
    std::string packet = Write("p.xml", Settings(1, 1, Setting("Zelm3.AssetTag.String", "T")));
    Outcome check =
        Run("check settings " + packet + " --signer local --against " + good + " " + row.machine);
    EXPECT_EQ(check.code, 2);
    EXPECT_EQ(check.out, "");
  }
  // show and vars on a truncated file: exit 2 with its name.
  const std::string shortMachine = dir + "/short";
  EXPECT_EQ(Run("vars --efivarfs " + shortMachine).code, 2);
  EXPECT_NE(Stderr().find("ZelmPermissionCurrent-"), std::string::npos);
  EXPECT_EQ(Run("show ZelmPermissionCurrent --efivarfs " + shortMachine).code, 2);
  // A file over the bound is not read.
  std::string big = CopyOf(good, "big");
  WriteBytes(big + "/Huge-01234567-89ab-cdef-0123-456789abcdef",
             std::string("\x07\0\0\0", 4) + std::string(2u << 20, 'x'));
  EXPECT_EQ(Run("vars --efivarfs " + big).code, 2);
  EXPECT_NE(Stderr().find("larger than"), std::string::npos);
  // A mirror never replaces a store.
  EXPECT_EQ(On(store, "mirror --efivarfs " + good).code, 2);
  EXPECT_NE(Stderr().find("already holds a platform"), std::string::npos);
}

TEST_F(SimFleetTest, TheFleetCheckJudgesEveryMachine) {
  const std::string base = Template();
  // Machine a: default permissions. Machine b: USB boot is the owner's.
  const std::string a = CopyOf(base, "a"), b = CopyOf(base, "b");
  std::string permissions = Write(
      "perm.xml", "<?xml version=\"1.0\"?><PermissionsPacket><Version>1</Version>"
                  "<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append=\"True\">"
                  "<P><Id>Device.USBBoot.Enable</Id><PMask>128</PMask></P></Permissions>"
                  "</PermissionsPacket>");
  ASSERT_EQ(On(b, "apply permissions " + permissions + " --signer owner").code, 0) << Stderr();
  ASSERT_EQ(On(a, "export --efivarfs " + dir + "/ma").code, 0);
  ASSERT_EQ(On(b, "export --efivarfs " + dir + "/mb").code, 0);
  std::string packet = Write("s.xml", Settings(2, 1,
                                               Setting("Device.USBBoot.Enable", "Disabled") +
                                                   Setting("Zelm3.AssetTag.String", "FLEET")));
  const std::string device = "\"device\": {\"Manufacturer\": \"Zelm Simulated Systems\", "
                             "\"Product Name\": \"Zelm Sim 1\", \"Serial Number\": \"SIM-0001\"}";
  Outcome one =
      Run("check settings " + packet + " --signer local --owner-enrolled --against " + dir + "/ma");
  EXPECT_EQ(one.code, 0) << Stderr();
  EXPECT_EQ(one.out, "{\"machine\": \"" + dir + "/ma\", " + device +
                         ", \"state\": 4, \"status\": \"0x0\", \"refused\": [], \"results\": "
                         "[{\"id\": \"Device.USBBoot.Enable\", \"result\": \"0x0\"}, {\"id\": "
                         "\"Zelm3.AssetTag.String\", \"result\": \"0x0\"}], \"stand_in\": []}\n"
                         "check: 1 machines, 1 accept the packet and every element, 0 refuse\n");
  Outcome both = Run("check settings " + packet + " --signer local --owner-enrolled --against " +
                     dir + "/ma " + dir + "/mb");
  EXPECT_EQ(both.code, 1);
  EXPECT_NE(both.out.find("\"machine\": \"" + dir + "/mb\", " + device +
                          ", \"state\": 4, \"status\": \"0x0\", \"refused\": "
                          "[\"Device.USBBoot.Enable\"]"),
            std::string::npos)
      << both.out;
  EXPECT_NE(both.out.find("check: 2 machines, 1 accept the packet and every element, 1 refuse\n"),
            std::string::npos);
  // Without the owner's key the driver drops its permissions at start: the
  // mirror says so, and b then accepts.
  Outcome noOwner = Run("check settings " + packet + " --signer local --against " + dir + "/mb");
  EXPECT_EQ(noOwner.code, 0) << noOwner.out;
  // A packet below the machine's settings floor is refused whole.
  ASSERT_EQ(On(a, "apply settings " + Write("v5.xml", Settings(5, 5, "")) + " --signer local").code,
            0);
  ASSERT_EQ(On(a, "export --efivarfs " + dir + "/ma").code, 0);
  Outcome floor = Run("check settings " + packet + " --signer local --against " + dir + "/ma");
  EXPECT_EQ(floor.code, 1);
  EXPECT_NE(floor.out.find("\"state\": 240, \"status\": \"0x800000000000000F\", \"refused\": []"),
            std::string::npos)
      << floor.out;
  // Bad usage.
  EXPECT_EQ(Run("check settings " + packet + " --signer local").code, 2);
  EXPECT_EQ(Run("check settings " + packet + " --signer local --efivarfs " + dir + "/ma").code, 2);
  EXPECT_EQ(Run("check settings " + packet + " --signer nobody --against " + dir + "/ma").code, 2);
  EXPECT_EQ(Run("check settings " + packet + " --signer local --against " + dir +
                "/ma --permissions-floor -1")
                .code,
            2);
}

TEST_F(SimFleetTest, AnotherDriversSettingGetsAStandIn) {
  const std::string store = CopyOf(Template(), "store");
  const std::string machine = dir + "/machine";
  ASSERT_EQ(On(store, "export --efivarfs " + machine).code, 0);
  std::string file = FileOf(machine, "ZelmSettingsCurrent");
  std::string bytes = Read(file);
  bytes.replace(bytes.find("<Settings>"), 10,
                "<Settings><SettingCurrent><Id>Acme.Fan.Mode</Id><Value>Quiet</Value>"
                "</SettingCurrent>");
  WriteBytes(file, bytes);
  const std::string mirror = KeysOnly("mirror");
  Outcome made = On(mirror, "mirror --efivarfs " + machine + " --owner-enrolled");
  ASSERT_EQ(made.code, 0) << Stderr();
  EXPECT_NE(made.out.find("  Acme.Fan.Mode: another driver's setting, a stand-in stores its text"),
            std::string::npos)
      << made.out;
  EXPECT_EQ(On(mirror, "get Acme.Fan.Mode").out, "Quiet\n");
  std::string packet = Write("s.xml", Settings(1, 1,
                                               Setting("Acme.Fan.Mode", "Loud") +
                                                   Setting("Device.USBBoot.Enable", "Disabled")));
  Outcome dry = On(mirror, "apply settings " + packet + " --signer local --dry-run");
  EXPECT_EQ(dry.code, 0) << Stderr();
  EXPECT_NE(dry.out.find("  Acme.Fan.Mode: 0x0 (stand-in: decided by permissions and versions "
                         "only)\n"),
            std::string::npos)
      << dry.out;
  EXPECT_NE(dry.out.find("values (before -> after):\n  Acme.Fan.Mode: Quiet -> Loud\n"
                         "  Device.USBBoot.Enable: Enabled -> Disabled\n"),
            std::string::npos)
      << dry.out;
  Outcome json = On(mirror, "apply settings " + packet + " --signer local --dry-run --json");
  EXPECT_NE(json.out.find(", \"elements\": [{\"id\": \"Acme.Fan.Mode\", \"result\": \"0x0\", "
                          "\"before\": \"Quiet\", \"after\": \"Loud\", \"stand_in\": true}, "
                          "{\"id\": \"Device.USBBoot.Enable\", \"result\": \"0x0\", \"before\": "
                          "\"Enabled\", \"after\": \"Disabled\", \"stand_in\": false}]}\n"),
            std::string::npos)
      << json.out;
  // The dry run kept nothing; a real apply keeps the stand-in's text.
  EXPECT_EQ(On(mirror, "get Acme.Fan.Mode").out, "Quiet\n");
  EXPECT_EQ(On(mirror, "apply settings " + packet + " --signer local").code, 0);
  EXPECT_EQ(On(mirror, "get Acme.Fan.Mode").out, "Loud\n");
  // Its own export carries it on, and it is refused where permissions say.
  Outcome check = Run("check settings " + packet + " --signer local --against " + machine);
  EXPECT_NE(check.out.find("\"stand_in\": [\"Acme.Fan.Mode\"]"), std::string::npos) << check.out;
}

// A machine without the "Setup" block publishes no USB boot value (as OVMF
// does); the mirror says the simulator's value decides it there.
TEST_F(SimFleetTest, ASettingTheMachineDoesNotPublishIsNamed) {
  const std::string store = CopyOf(Template(), "store");
  const std::string machine = dir + "/machine";
  ASSERT_EQ(On(store, "export --efivarfs " + machine).code, 0);
  std::string file = FileOf(machine, "ZelmSettingsCurrent");
  std::string bytes = Read(file);
  const std::string usb =
      "<SettingCurrent><Id>Device.USBBoot.Enable</Id><Value>Enabled</Value></SettingCurrent>";
  ASSERT_NE(bytes.find(usb), std::string::npos) << bytes;
  bytes.erase(bytes.find(usb), usb.size());
  WriteBytes(file, bytes);
  Outcome made = On(KeysOnly("mirror"), "mirror --efivarfs " + machine + " --owner-enrolled");
  ASSERT_EQ(made.code, 0) << Stderr();
  EXPECT_NE(made.out.find("  note: Device.USBBoot.Enable: not published by the machine"),
            std::string::npos)
      << made.out;
  std::string packet = Write("s.xml", Settings(1, 1,
                                               Setting("Device.USBBoot.Enable", "Disabled") +
                                                   Setting("Zelm3.AssetTag.String", "T")));
  Outcome check = Run("check settings " + packet + " --signer local --against " + machine);
  EXPECT_EQ(check.code, 0);
  EXPECT_NE(check.out.find("\"stand_in\": [], \"unpublished\": [\"Device.USBBoot.Enable\"]}\n"),
            std::string::npos)
      << check.out;
}

TEST_F(SimFleetTest, RecoveryPathsSayWhoMayRecover) {
  const std::string store = CopyOf(Template(), "store");
  std::string permissions = Write(
      "perm.xml", "<?xml version=\"1.0\"?><PermissionsPacket><Version>1</Version>"
                  "<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append=\"True\">"
                  "<P><Id>Device.USBBoot.Enable</Id><PMask>128</PMask></P></Permissions>"
                  "</PermissionsPacket>");
  ASSERT_EQ(On(store, "apply permissions " + permissions + " --signer owner").code, 0);
  // The owner holds none of the three recovery ids in the default entries.
  Outcome owner = On(store, "reset permissions --signer owner --dry-run");
  EXPECT_EQ(owner.code, 1);
  EXPECT_NE(owner.out.find("(dry run) reset permissions --signer owner (0x80): refused (Access "
                           "Denied)\n  reason: no recovery right: Zelm.OwnerKey.Enum: its own "
                           "permission entry (PMask 0x09, DMask 0x80) decides"),
            std::string::npos)
      << owner.out;
  Outcome local = On(store, "reset permissions --signer local --dry-run");
  EXPECT_EQ(local.code, 0);
  EXPECT_NE(local.out.find("  reason: recovery through Zelm.OwnerKey.Enum"), std::string::npos);
  EXPECT_NE(local.out.find("  changed:\n    Device.USBBoot.Enable: PMask 0x80 DMask 0x80 -> "
                           "(no entry)\n"),
            std::string::npos)
      << local.out;
  // The dry run kept the entry; the real reset removes it.
  EXPECT_NE(On(store, "show ZelmPermissionCurrent").out.find("Device.USBBoot.Enable"),
            std::string::npos);
  EXPECT_EQ(On(store, "reset permissions --signer local").code, 0);
  EXPECT_EQ(On(store, "show ZelmPermissionCurrent").out.find("Device.USBBoot.Enable"),
            std::string::npos);
  // Settings back to their defaults: the asset tag is reset, USB boot is not.
  ASSERT_EQ(
      On(store, "apply settings " +
                    Write("s.xml", Settings(1, 1,
                                            Setting("Zelm3.AssetTag.String", "TAG") +
                                                Setting("Device.USBBoot.Enable", "Disabled"))) +
                    " --signer local")
          .code,
      0);
  Outcome settings = On(store, "reset settings --signer local");
  EXPECT_EQ(settings.code, 0);
  EXPECT_NE(settings.out.find("    Zelm3.AssetTag.String: TAG -> \n"), std::string::npos)
      << settings.out;
  EXPECT_EQ(settings.out.find("Device.USBBoot.Enable"), std::string::npos) << settings.out;
  EXPECT_EQ(On(store, "get Zelm3.AssetTag.String").out, "\n");
  // An identity whose key is not enrolled has no token at all.
  ASSERT_EQ(On(store, "unenroll ztd").code, 0);
  Outcome ztd = On(store, "reset settings --signer ztd");
  EXPECT_EQ(ztd.code, 1);
  EXPECT_NE(ztd.out.find("the ztd key is not enrolled"), std::string::npos);
  EXPECT_EQ(On(store, "reset everything --signer local").code, 2);
}

} // namespace
