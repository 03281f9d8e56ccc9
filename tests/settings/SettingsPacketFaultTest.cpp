// Fault sweeps over a settings packet: every allocation and every variable
// write fails in turn. No crash, no leak, no "_SMID" for a packet refused
// before its versions were accepted and always one after (unless that very
// write failed, which the packet then reports), the mailbox deleted, and
// never a success reported for a failure.
#include "tests/settings/SettingsPacketTestSupport.h"

namespace {

using settingspackettest::SettingsPacketTest;
using settingspackettest::SettingsXml;
using settingstest::FakeValues;

const std::string kPacket = SettingsXml(7, 6,
                                        {{"Device.A.Enable", "Enabled"},
                                         {"Zelm.BootExternalMedia.Enable", "Enabled"},
                                         {"Device.Name", "new name"},
                                         {"Device.Cert", "AQID"},
                                         {"Device.Unknown", "Enabled"}});

enum class Fault { Pool, SetVariable };

class SettingsPacketFaultTest : public SettingsPacketTest {
protected:
  // Runs the packet with the n-th fault; FALSE once the run made fewer
  // than n attempts.
  bool RunWithFault(Fault kind, size_t n, const std::vector<UINT8> &smidAfter) {
    platform.EraseVariable(u"_SMID", gZelmSettingsManagerVariableGuid);
    FakeValues()["Device.A.Enable"].bytes = {0};
    BootAgain();
    platform.PutVariable(u"ZelmSettingsCurrent", gZelmSettingsVariableGuid, 7, "published");
    auto packet = Deliver(kPacket);
    host::Pool &pool = firmware->BootPool();
    const size_t live = pool.Stats().liveCount;
    const size_t failed = pool.Stats().failedAllocations;
    const size_t writes = platform.SetVariableLog().size();
    std::u16string failedWrite;
    size_t count = 0;
    if (kind == Fault::Pool) {
      pool.FailNth(n);
    } else {
      platform.setVariableHook = [&](const host::SetVariableCall &call) {
        if (++count == n) {
          failedWrite = call.name;
          return EFI_DEVICE_ERROR;
        }
        return EFI_SUCCESS;
      };
    }
    const EFI_STATUS status = Apply(*packet);
    pool.ClearFaults();
    platform.setVariableHook = nullptr;
    const bool injected = kind == Fault::Pool ? pool.Stats().failedAllocations != failed
                                              : platform.SetVariableLog().size() - writes >= n;
    const ZELM_APPLY_PACKET &record = *packet->Record();
    EXPECT_NE(record.State, 1u);
    EXPECT_EQ(record.ResultText, nullptr);
    EXPECT_EQ(auth->LiveTokens(), 0u);
    if (failedWrite != host::MailboxName(host::PacketKind::Settings)) {
      EXPECT_FALSE(packet->MailboxPresent());
    }
    const std::vector<UINT8> smid = Smid();
    // The versions are accepted only after authentication and parsing; from
    // then on "_SMID" holds them unless its own write failed.
    if (record.State == 4 || FakeValues()["Device.A.Enable"].bytes[0] == 1) {
      if (failedWrite == u"_SMID") {
        EXPECT_TRUE(smid.empty());
        EXPECT_TRUE(EFI_ERROR(status));
      } else {
        EXPECT_EQ(smid.size(), 45u);
        if (smid.size() == 45) {
          EXPECT_EQ(std::vector<UINT8>(smid.begin(), smid.begin() + 13),
                    std::vector<UINT8>(smidAfter.begin(), smidAfter.begin() + 13));
        }
      }
    } else {
      EXPECT_TRUE(smid.empty()) << "floor saved for a packet refused before its versions";
    }
    if (status == EFI_SUCCESS) {
      EXPECT_EQ(record.State, 4u);
      EXPECT_EQ(record.Status, EFI_SUCCESS);
      EXPECT_EQ(ResultOf(*packet).status, EFI_SUCCESS);
      EXPECT_EQ(FakeValues()["Device.A.Enable"].bytes, std::vector<UINT8>{1});
      EXPECT_TRUE(SettingsCurrent().empty()) << "stale published settings";
    }
    EXPECT_EQ(pool.Stats().liveCount, live) << "leak";
    EXPECT_EQ(pool.Stats().invalidFrees, 0u);
    return injected;
  }
};

TEST_F(SettingsPacketFaultTest, EveryFailureIsReportedAndLeavesTheFloorConsistent) {
  auto clean = Deliver(kPacket);
  ASSERT_EQ(Apply(*clean), EFI_SUCCESS);
  const std::vector<UINT8> smidAfter = Smid();
  ASSERT_EQ(smidAfter.size(), 45u);
  clean.reset();
  for (Fault kind : {Fault::Pool, Fault::SetVariable}) {
    size_t runs = 0;
    for (size_t n = 1; n < 400; n++) {
      SCOPED_TRACE((kind == Fault::Pool ? "pool fault " : "write fault ") + std::to_string(n));
      if (!RunWithFault(kind, n, smidAfter)) {
        break;
      }
      runs++;
    }
    EXPECT_GE(runs, 4u);
  }
}

} // namespace
