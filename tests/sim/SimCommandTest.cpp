// zelm-sim driven as a user drives it: through the binary, its output, its
// exit codes and its store across runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

namespace {

struct Outcome {
  int code = -1;
  std::string out;
};

class SimCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelm-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  Outcome Sim(const std::string &args) {
    std::string command = std::string(ZELM_SIM_BINARY) + " --store " + dir + "/store " + args +
                          " 2>" + dir + "/stderr";
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
  std::string Stderr() {
    std::ifstream file(dir + "/stderr");
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string Write(const std::string &name, const std::string &text) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string dir;
};

const std::string kSettings =
    "<?xml version=\"1.0\"?><SettingsPacket><Version>1</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
    "<Setting><Id>Device.USBBoot.Enable</Id><Value>Disabled</Value></Setting>"
    "<Setting><Id>Zelm3.AssetTag.String</Id><Value>TAG-1</Value></Setting>"
    "</Settings></SettingsPacket>";

TEST_F(SimCommandTest, AppliedSettingsPersistAcrossRuns) {
  std::string packet = Write("settings.xml", kSettings);
  Outcome applied = Sim("apply settings " + packet + " --signer local --json --session 7");
  EXPECT_EQ(applied.code, 0) << Stderr();
  EXPECT_EQ(applied.out.rfind("{\"state\": 4, \"status\": \"0x0\", \"reset_required\": false, "
                              "\"result\": \"<?xml version=\\\"1.0\\\" encoding=\\\"utf-8\\\"?>"
                              "<ResultsPacket><AppliedOn>",
                              0),
            0u)
      << applied.out;
  EXPECT_EQ(applied.out.back(), '\n');
  EXPECT_EQ(applied.out.find('\n'), applied.out.size() - 1) << "one JSON object, one line";
  Outcome get = Sim("get Zelm3.AssetTag.String");
  EXPECT_EQ(get.code, 0);
  EXPECT_EQ(get.out, "TAG-1\n");
  EXPECT_EQ(Sim("get Device.USBBoot.Enable").out, "Disabled\n");
  Outcome unknown = Sim("get Device.Nothing");
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(Stderr().find("Device.Nothing"), std::string::npos);
  // A replay of the same version is still accepted; history has both.
  EXPECT_EQ(Sim("apply settings " + packet + " --signer local").code, 0);
  Outcome history = Sim("history");
  EXPECT_EQ(std::count(history.out.begin(), history.out.end(), '\n'), 2);
  EXPECT_NE(history.out.find("Zelm3.AssetTag.String=0x0"), std::string::npos);
}

TEST_F(SimCommandTest, PermissionsRefuseAndExplain) {
  ASSERT_EQ(Sim("enroll owner").code, 0) << Stderr();
  std::string permissions = Write(
      "permissions.xml",
      "<?xml version=\"1.0\"?><PermissionsPacket><Version>1</Version>"
      "<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append=\"True\">"
      "<P><Id>Device.USBBoot.Enable</Id><PMask>128</PMask></P></Permissions></PermissionsPacket>");
  EXPECT_EQ(Sim("apply permissions " + permissions + " --signer owner").code, 0) << Stderr();
  Outcome why = Sim("why Device.USBBoot.Enable --signer local");
  EXPECT_EQ(why.code, 1);
  EXPECT_NE(why.out.find("denied"), std::string::npos) << why.out;
  EXPECT_NE(why.out.find("PMask 0x80"), std::string::npos) << why.out;
  EXPECT_EQ(Sim("why Device.USBBoot.Enable --signer owner").code, 0);
  EXPECT_EQ(Sim("why Device.Nothing --signer owner").code, 2);
  std::string settings = Write("settings.xml", kSettings);
  Outcome refused = Sim("apply settings " + settings + " --signer local");
  // The packet applies; USB boot is refused with its reason.
  EXPECT_EQ(refused.code, 0);
  EXPECT_NE(refused.out.find("Device.USBBoot.Enable: 0x800000000000000F (Access Denied)"),
            std::string::npos)
      << refused.out;
  EXPECT_EQ(Sim("apply settings " + settings + " --signer local --strict").code, 1);
  // A dry run changes nothing.
  Outcome dry = Sim("apply settings " +
                    Write("tag.xml", "<?xml version=\"1.0\"?><SettingsPacket><Version>1"
                                     "</Version><LowestSupportedVersion>1"
                                     "</LowestSupportedVersion><Settings><S><Id>"
                                     "Zelm3.AssetTag.String</Id><Value>DRY</Value></S>"
                                     "</Settings></SettingsPacket>") +
                    " --signer local --dry-run");
  EXPECT_EQ(dry.code, 0);
  EXPECT_NE(dry.out.find("(dry run)"), std::string::npos);
  EXPECT_EQ(Sim("get Zelm3.AssetTag.String").out, "TAG-1\n");
}

TEST_F(SimCommandTest, BadInputsHaveTheirExitCodes) {
  struct Row {
    const char *name;
    std::string args;
    int code;
  };
  std::string notXml = Write("not.xml", "hello");
  std::string big = Write("big.xml", std::string(0x7000, 'x'));
  std::string settings = Write("settings.xml", kSettings);
  const Row rows[] = {
      {"no command", "", 2},
      {"unknown command", "frobnicate", 2},
      {"unreadable file", "apply settings " + dir + "/missing.xml --signer local", 2},
      {"no signer", "apply settings " + settings, 2},
      {"bad signer", "apply settings " + settings + " --signer nobody", 2},
      {"not XML", "apply settings " + notXml + " --signer local", 1},
      {"over-size packet", "apply settings " + big + " --signer local", 1},
      {"invalid signature", "apply settings " + settings + " --signer none", 1},
      {"owner not enrolled", "apply settings " + settings + " --signer owner", 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Sim(row.args).code, row.code) << Stderr();
  }
  Outcome json = Sim("apply settings " + settings + " --signer none --json");
  EXPECT_EQ(json.out, "{\"state\": 254, \"status\": \"0x800000000000001A\", "
                      "\"reset_required\": false, \"result\": \"\"}\n");
}

TEST_F(SimCommandTest, ACorruptStoreIsNeverOverwritten) {
  ASSERT_EQ(Sim("boot").code, 0) << Stderr();
  std::string path = dir + "/store/store.bin";
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  const auto size = std::filesystem::file_size(path);
  Outcome boot = Sim("boot");
  EXPECT_EQ(boot.code, 2);
  EXPECT_NE(Stderr().find("corrupt"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(path), size);
}

TEST_F(SimCommandTest, ShowDecodesResultsAndDocuments) {
  std::string settings = Write("settings.xml", kSettings);
  ASSERT_EQ(Sim("apply settings " + settings + " --signer local").code, 0);
  Outcome result = Sim("show ZelmSettingsResult");
  EXPECT_NE(result.out.find("KVSR layout 1, status 0x0 (Success)"), std::string::npos)
      << result.out;
  Outcome id = Sim("show ZelmDeviceIdentifier");
  EXPECT_NE(id.out.find("      <Value>Zelm Simulated Systems</Value>"), std::string::npos)
      << id.out;
  Outcome raw = Sim("show ZelmDeviceIdentifier --raw");
  EXPECT_EQ(raw.out.back(), '\0');
  EXPECT_EQ(Sim("show NoSuchVariable").code, 1);
  EXPECT_NE(Sim("vars").out.find("ZelmPermissionCurrent"), std::string::npos);
}

} // namespace
