// zelm-sim driven as a user drives it: through the binary, its output, its
// exit codes and its store across runs.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zelm/ZelmGuids.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/HostPlatform.h"

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

  // A sanitizer report is its own exit code, never mistaken for a refusal.
  static std::string Command(const std::string &store, const std::string &args,
                             const std::string &err) {
    return "ASAN_OPTIONS=detect_leaks=1:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:exitcode=86 " +
           std::string(ZELM_SIM_BINARY) + " --store " + store + " " + args + " 2>" + err;
  }
  Outcome Sim(const std::string &args) { return SimOn(dir + "/store", args); }
  Outcome SimOn(const std::string &store, const std::string &args) {
    std::string command = Command(store, args, dir + "/stderr");
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
  // A run in the background, its output in Out and Err.
  pid_t Spawn(const std::string &store, const std::string &args, const std::string &out,
              const std::string &err) {
    std::string command = Command(store, args, err) + " >" + out;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
      return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Read(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
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

// The store file as the simulator keeps it: "ZSS2", the SHA-256 of the
// rest, the enrolment byte, the variables.
std::string StoreBytes(UINT8 enrolled, const host::Platform &platform) {
  std::vector<UINT8> variables = platform.SerializeVariables();
  std::string body(1, static_cast<char>(enrolled));
  body.append(variables.begin(), variables.end());
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_Digest(body.data(), body.size(), digest, &length, EVP_sha256(), nullptr);
  return "ZSS2" + std::string(reinterpret_cast<char *>(digest), 32) + body;
}

bool LoadStore(const std::string &bytes, host::Platform *platform, UINT8 *enrolled) {
  if (bytes.size() < 37 || bytes.compare(0, 4, "ZSS2") != 0) {
    return false;
  }
  *enrolled = static_cast<UINT8>(bytes[36]);
  return platform->DeserializeVariables(std::vector<UINT8>(bytes.begin() + 37, bytes.end()));
}

// A record lock on the store's lock file held by this test process.
class HeldLock {
public:
  HeldLock(const std::string &path, short type) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    struct flock request {};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    ok_ = fd_ >= 0 && ::fcntl(fd_, F_SETLK, &request) == 0;
  }
  ~HeldLock() { Release(); }
  void Release() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  bool ok() const { return ok_; }

private:
  int fd_ = -1;
  bool ok_ = false;
};

const std::string kOwnerTakesUsbBoot =
    "<?xml version=\"1.0\"?><PermissionsPacket><Version>1</Version>"
    "<LowestSupportedVersion>1</LowestSupportedVersion><Permissions Append=\"True\">"
    "<P><Id>Device.USBBoot.Enable</Id><PMask>128</PMask></P></Permissions></PermissionsPacket>";

TEST_F(SimCommandTest, TwoRunsOnOneStoreKeepBothChanges) {
  std::string permissions = Write("permissions.xml", kOwnerTakesUsbBoot);
  std::string settings = Write("settings.xml", kSettings);
  for (int attempt = 0; attempt < 4; attempt++) {
    SCOPED_TRACE(attempt);
    std::string store = dir + "/race" + std::to_string(attempt);
    ASSERT_EQ(SimOn(store, "enroll owner").code, 0) << Stderr();
    pid_t owner = Spawn(store, "apply permissions " + permissions + " --signer owner",
                        dir + "/owner.out", dir + "/owner.err");
    pid_t local = Spawn(store, "apply settings " + settings + " --signer local", dir + "/local.out",
                        dir + "/local.err");
    EXPECT_EQ(Wait(owner), 0) << Read(dir + "/owner.err");
    EXPECT_EQ(Wait(local), 0) << Read(dir + "/local.err");
    // The owner's entry survived the other run: local is refused now.
    Outcome why = SimOn(store, "why Device.USBBoot.Enable --signer local");
    EXPECT_EQ(why.code, 1) << why.out;
    Outcome history = SimOn(store, "history");
    EXPECT_EQ(std::count(history.out.begin(), history.out.end(), '\n'), 2) << history.out;
  }
}

TEST_F(SimCommandTest, AHeldStoreIsRefusedWithNoWaitNamingTheHolder) {
  std::string settings = Write("settings.xml", kSettings);
  ASSERT_EQ(Sim("boot").code, 0) << Stderr();
  const std::string store = Read(dir + "/store/store.bin");
  const std::string holder = "process " + std::to_string(::getpid());
  {
    HeldLock exclusive(dir + "/store/lock", F_WRLCK);
    ASSERT_TRUE(exclusive.ok());
    for (const std::string &args :
         {"apply settings " + settings + " --signer local", std::string("boot"),
          std::string("vars"), std::string("show ZelmPermissionCurrent"),
          std::string("get Device.USBBoot.Enable")}) {
      SCOPED_TRACE(args);
      EXPECT_EQ(Sim("--no-wait " + args).code, 2);
      EXPECT_NE(Stderr().find("in use by " + holder), std::string::npos) << Stderr();
    }
  }
  {
    // Readers share the lock; a writer still waits for them.
    HeldLock shared(dir + "/store/lock", F_RDLCK);
    ASSERT_TRUE(shared.ok());
    EXPECT_EQ(Sim("--no-wait vars").code, 0) << Stderr();
    EXPECT_EQ(Sim("--no-wait show ZelmPermissionCurrent").code, 0) << Stderr();
    EXPECT_EQ(Sim("--no-wait get Device.USBBoot.Enable").out, "Enabled\n") << Stderr();
    EXPECT_EQ(Sim("--no-wait why Device.USBBoot.Enable --signer local").code, 0) << Stderr();
    EXPECT_EQ(Sim("--no-wait history").code, 0) << Stderr();
    EXPECT_EQ(Sim("--no-wait apply settings " + settings + " --signer local").code, 2);
    EXPECT_NE(Stderr().find("in use by " + holder), std::string::npos) << Stderr();
  }
  // Nothing refused wrote anything; the read-only commands did not either.
  EXPECT_EQ(Read(dir + "/store/store.bin"), store);
  EXPECT_EQ(Sim("history").out, "");
  EXPECT_EQ(Sim("--no-wait apply settings " + settings + " --signer local").code, 0) << Stderr();
}

TEST_F(SimCommandTest, ASecondRunWaitsForTheHolder) {
  std::string settings = Write("settings.xml", kSettings);
  ASSERT_EQ(Sim("boot").code, 0) << Stderr();
  const std::string store = Read(dir + "/store/store.bin");
  HeldLock exclusive(dir + "/store/lock", F_WRLCK);
  ASSERT_TRUE(exclusive.ok());
  pid_t run = Spawn(dir + "/store", "apply settings " + settings + " --signer local",
                    dir + "/run.out", dir + "/run.err");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int status = 0;
  EXPECT_EQ(::waitpid(run, &status, WNOHANG), 0) << "the run did not wait";
  EXPECT_EQ(Read(dir + "/store/store.bin"), store);
  EXPECT_NE(Read(dir + "/run.err").find("waiting for the store"), std::string::npos);
  exclusive.Release();
  EXPECT_EQ(Wait(run), 0) << Read(dir + "/run.err");
  EXPECT_EQ(Sim("get Zelm3.AssetTag.String").out, "TAG-1\n");
}

TEST_F(SimCommandTest, ALargePacketFileGetsTheDriversRefusal) {
  const std::string big = Write(
      "big.xml", "<?xml version=\"1.0\"?><SettingsPacket><Version>" + std::string(60000, '1') +
                     "</Version><Settings><Setting><Id>Zelm3.AssetTag.String</Id><Value>BIG"
                     "</Value></Setting></Settings></SettingsPacket>");
  Outcome json = Sim("apply settings " + big + " --signer local --json");
  EXPECT_EQ(json.code, 1) << Stderr();
  EXPECT_EQ(json.out, "{\"state\": 255, \"status\": \"0x8000000000000015\", "
                      "\"reset_required\": false, \"result\": \"\"}\n");
  // The history has its line, and the store was written whole.
  Outcome history = Sim("history");
  EXPECT_NE(history.out.find(" settings signer=local version=?/? state=255 "
                             "status=0x8000000000000015\n"),
            std::string::npos)
      << history.out;
  EXPECT_EQ(Sim("get Zelm3.AssetTag.String").out, "\n");
}

TEST_F(SimCommandTest, HistoryFieldsCannotForgeALine) {
  const std::string forged = "1700000000 permissions signer=owner version=9/9 state=4 "
                             "status=0x0 Device.USBBoot.Enable=0x0";
  std::string packet =
      Write("forge.xml", "<?xml version=\"1.0\"?><SettingsPacket><Version>1</Version>"
                         "<LowestSupportedVersion>1</LowestSupportedVersion><Settings>"
                         "<Setting><Id>X\n" +
                             forged +
                             "</Id><Value>Enabled</Value></Setting>"
                             "<Setting><Id>A B=0x0</Id><Value>1</Value></Setting></Settings>"
                             "</SettingsPacket>");
  ASSERT_EQ(Sim("apply settings " + packet + " --signer local").code, 0) << Stderr();
  Outcome history = Sim("history");
  ASSERT_EQ(std::count(history.out.begin(), history.out.end(), '\n'), 1) << history.out;
  const std::string tail =
      " settings signer=local version=1/1 state=4 status=0x0 "
      "X%0A1700000000%20permissions%20signer%3Downer%20version%3D9%2F9%20state%3D4%20status%3D0x0"
      "%20Device.USBBoot.Enable%3D0x0=0x800000000000000E A%20B%3D0x0=0x800000000000000E\n";
  ASSERT_GE(history.out.size(), tail.size());
  EXPECT_EQ(history.out.substr(history.out.size() - tail.size()), tail);
}

TEST_F(SimCommandTest, ShortSignedFilesAreRefusedWithoutUndefinedBehaviour) {
  struct Row {
    const char *name;
    std::string bytes;
  };
  const Row rows[] = {
      {"empty", ""},
      {"three bytes", "ZPK"},
      {"header only", std::string("ZPKT\0\0\0\0", 8)},
      {"payload size past the end", std::string("ZPKT\x10\0\0\0<a/>", 12)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::string file = Write("signed.bin", row.bytes);
    Outcome json = Sim("apply settings --signed " + file + " --json");
    EXPECT_EQ(json.code, 1) << Stderr();
    EXPECT_EQ(Stderr().find("runtime error"), std::string::npos) << Stderr();
    EXPECT_EQ(json.out, "{\"state\": 255, \"status\": \"0x8000000000000015\", "
                        "\"reset_required\": false, \"result\": \"\"}\n");
  }
}

TEST_F(SimCommandTest, WhatIsNoRegularFileIsUnreadable) {
  std::filesystem::create_directories(dir + "/packet-dir");
  for (const std::string &args : {"apply settings " + dir + "/packet-dir --signer local",
                                  "apply settings --signed " + dir + "/packet-dir",
                                  std::string("apply permissions /dev/null --signer owner")}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Sim(args).code, 2);
    EXPECT_NE(Stderr().find("cannot read"), std::string::npos) << Stderr();
  }
  EXPECT_EQ(Sim("history").out, "");
}

TEST_F(SimCommandTest, EveryFlippedStoreByteIsCaughtAndTheFileLeftAsItIs) {
  ASSERT_EQ(Sim("enroll owner").code, 0) << Stderr();
  ASSERT_EQ(Sim("apply permissions " + Write("p.xml", kOwnerTakesUsbBoot) + " --signer owner").code,
            0);
  const std::string path = dir + "/store/store.bin";
  const std::string good = Read(path);
  // Every header byte, every byte of the "_SPP" image, and a spread over
  // the rest.
  std::vector<size_t> positions;
  for (size_t i = 0; i < 37; i++) {
    positions.push_back(i);
  }
  size_t spp = good.find("SBCZ");
  ASSERT_NE(spp, std::string::npos);
  for (size_t i = spp; i < spp + 180 && i < good.size(); i++) {
    positions.push_back(i);
  }
  for (size_t i = 37; i < good.size(); i += good.size() / 40) {
    positions.push_back(i);
  }
  for (size_t position : positions) {
    SCOPED_TRACE(position);
    std::string flipped = good;
    flipped[position] = static_cast<char>(flipped[position] ^ (position % 2 ? 0x01 : 0x80));
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << flipped; }
    EXPECT_EQ(Sim("vars").code, 2);
    EXPECT_NE(Stderr().find("corrupt store"), std::string::npos) << Stderr();
    if (position % 8 == 0) {
      EXPECT_EQ(Sim("boot").code, 2); // a command that would write
    }
    ASSERT_EQ(Read(path), flipped);
  }
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << good; }
  EXPECT_EQ(Sim("why Device.USBBoot.Enable --signer local").code, 1);
}

TEST_F(SimCommandTest, AStoreFileThatIsNoRegularFileIsRefused) {
  std::filesystem::create_directories(dir + "/store");
  const std::string path = dir + "/store/store.bin";
  std::filesystem::create_symlink(dir + "/elsewhere.bin", path);
  EXPECT_EQ(Sim("boot").code, 2);
  EXPECT_NE(Stderr().find("not a regular file"), std::string::npos) << Stderr();
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_FALSE(std::filesystem::exists(dir + "/elsewhere.bin"));
  std::filesystem::remove(path);
  std::filesystem::create_directories(path);
  EXPECT_EQ(Sim("vars").code, 2);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(SimCommandTest, AStoreOfTheFirstLayoutIsReadAndRewrittenWithItsChecksum) {
  ASSERT_EQ(Sim("enroll owner").code, 0) << Stderr();
  const std::string path = dir + "/store/store.bin";
  const std::string current = Read(path);
  ASSERT_EQ(current.compare(0, 4, "ZSS2"), 0);
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << "ZSIM" + current.substr(36); }
  Outcome boot = Sim("boot");
  EXPECT_EQ(boot.code, 0) << Stderr();
  EXPECT_NE(boot.out.find("owner enrolled"), std::string::npos) << boot.out;
  EXPECT_EQ(Read(path).compare(0, 4, "ZSS2"), 0);
}

TEST_F(SimCommandTest, WhyTakesTheDriversVerdictNotTheDocuments) {
  ASSERT_EQ(Sim("enroll owner").code, 0) << Stderr();
  ASSERT_EQ(Sim("apply permissions " + Write("p.xml", kOwnerTakesUsbBoot) + " --signer owner").code,
            0);
  // The group of USB boot: refused to local as its member is.
  Outcome group = Sim("why Zelm.BootExternalMedia.Enable --signer local");
  EXPECT_EQ(group.code, 1) << group.out;
  EXPECT_EQ(group.out.rfind("denied: local (0x01) may not change Zelm.BootExternalMedia.Enable", 0),
            0u)
      << group.out;
  EXPECT_NE(group.out.find("\n  Device.USBBoot.Enable: denied, its own permission entry (PMask "
                           "0x80, DMask 0x80) decides\n"),
            std::string::npos)
      << group.out;
  EXPECT_EQ(Sim("why Zelm.BootExternalMedia.Enable --signer owner").code, 0);
  Outcome applied = Sim("apply settings " +
                        Write("g.xml", "<?xml version=\"1.0\"?><SettingsPacket><Version>1</Version>"
                                       "<LowestSupportedVersion>1</LowestSupportedVersion>"
                                       "<Settings><S><Id>Zelm.BootExternalMedia.Enable</Id>"
                                       "<Value>Enabled</Value></S></Settings></SettingsPacket>") +
                        " --signer local");
  EXPECT_NE(applied.out.find("Zelm.BootExternalMedia.Enable: 0x800000000000000F (Access Denied)"
                             " — a group changes each of its members; Device.USBBoot.Enable "
                             "refused: its own permission entry (PMask 0x80, DMask 0x80) decides"),
            std::string::npos)
      << applied.out;

  // Documents that say otherwise, under the driver's GUID and another one.
  const std::string path = dir + "/store/store.bin";
  host::Platform platform;
  UINT8 enrolled = 0;
  ASSERT_TRUE(LoadStore(Read(path), &platform, &enrolled));
  const std::string lie = "<?xml version=\"1.0\" encoding=\"utf-8\"?><CurrentPermissionsPacket "
                          "Default=\"255\" Delegated=\"128\"><Date>2026-01-01T00:00:00</Date>"
                          "<Permissions></Permissions><LSV>0</LSV></CurrentPermissionsPacket>";
  std::string withNul = lie + std::string(1, '\0');
  platform.PutVariable(u"ZelmPermissionCurrent", gZelmPermissionVariableGuid, 7, withNul);
  std::string other = lie + std::string(1, '\0');
  other.replace(other.find("255"), 3, "254");
  platform.PutVariable(u"ZelmPermissionCurrent", EFI_GUID{}, 7, other);
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << StoreBytes(enrolled, platform); }
  // The driver rewrites a published document that differs from its store
  // when it starts, so the lie does not outlive the boot that why runs:
  // the verdict and the entry named are the driver's.
  Outcome why = Sim("why Device.USBBoot.Enable --signer local");
  EXPECT_EQ(why.code, 1) << why.out << Stderr();
  EXPECT_EQ(why.out, "denied: local (0x01) may not change Device.USBBoot.Enable: its own "
                     "permission entry (PMask 0x80, DMask 0x80) decides\n");
  // Only the driver's own variable is shown under the driver's name.
  Outcome shown = Sim("show ZelmPermissionCurrent");
  EXPECT_NE(shown.out.find("Default=\"255\""), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find("254"), std::string::npos) << shown.out;
}

TEST_F(SimCommandTest, AWriteThatFailsLeavesEveryFileAsItWas) {
  std::string settings = Write("settings.xml", kSettings);
  ASSERT_EQ(Sim("enroll owner").code, 0) << Stderr();
  ASSERT_EQ(Sim("apply settings " + settings + " --signer local").code, 0) << Stderr();
  const std::string store = dir + "/store";
  auto snapshot = [&] {
    std::string all;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(store)) {
      all += entry.path().string() + "\n";
      if (entry.is_regular_file()) {
        all += Read(entry.path().string()) + "\n";
      }
    }
    return all;
  };
  const std::string before = snapshot();
  ASSERT_GT(std::filesystem::file_size(store + "/store.bin"), 1024u);
  // Files above 1 KiB cannot be written: the store, and a new key.
  for (const std::string &args : {"apply settings " + settings + " --signer local",
                                  std::string("enroll ztd"), std::string("boot")}) {
    SCOPED_TRACE(args);
    std::string command = "trap '' XFSZ; ulimit -f 2; " + Command(store, args, dir + "/stderr");
    int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2) << Stderr();
    EXPECT_NE(Stderr().find("cannot write"), std::string::npos) << Stderr();
    EXPECT_EQ(snapshot(), before);
  }
  EXPECT_EQ(Sim("get Zelm3.AssetTag.String").out, "TAG-1\n");
}

} // namespace
