// The permission rules against a small independent model: random stores,
// random group membership, every identity byte, asked both directly and
// through Set of the settings access protocol.
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "permissions/PermissionCheck.h"
#include "tests/permissions/IdentityTestSupport.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {

using identitytest::IdentityTest;
using settingstest::FakeProvider;
using settingstest::FakeValues;

// The groups and their members, as the settings manager forms them.
const std::vector<std::pair<std::string, std::vector<std::string>>> kGroups = {
    {"Zelm.OnboardCameras.Enable",
     {"Device.FrontCamera.Enable", "Device.RearCamera.Enable", "Device.IRCamera.Enable"}},
    {"Zelm.BootExternalMedia.Enable", {"Device.USBBoot.Enable"}},
};

// Ids a store may hold and a caller may ask about.
const std::vector<std::string> kIds = {
    "Device.FrontCamera.Enable",  "Device.RearCamera.Enable",
    "Device.IRCamera.Enable",     "Device.USBBoot.Enable",
    "Zelm.OnboardCameras.Enable", "Zelm.BootExternalMedia.Enable",
    "Device.Other.Enable",        "Vendor.Setting",
    "Zelm.OwnerKey.Enum",         "7Digit.Setting",
    std::string(96, 'L'),         std::string(97, 'L'),
};

// The model: what the rules say, written from them and not from the code.
struct Model {
  UINT8 defaultPMask = 0x01;
  std::map<std::string, UINT8> pMasks; // first entry of each id
  std::set<std::string> registered;    // providers, hence group members

  void Set(const std::string &id, UINT8 pMask) {
    if (id[0] >= '0' && id[0] <= '9') {
      return;
    }
    if (id.size() > 96) {
      return;
    }
    pMasks[id] = pMask;
  }
  bool Allows(const std::string &id, UINT8 identity) const {
    bool groupEntry = false;
    for (const auto &[group, members] : kGroups) {
      bool member = false;
      for (const std::string &m : members) {
        member = member || (m == id && registered.count(m) != 0);
      }
      auto entry = pMasks.find(group);
      if (!member || entry == pMasks.end()) {
        continue;
      }
      groupEntry = true;
      if ((entry->second & identity) == 0) {
        return false;
      }
    }
    if (groupEntry) {
      return true;
    }
    auto own = pMasks.find(id);
    UINT8 mask = (own != pMasks.end() && id.size() <= 96) ? own->second : defaultPMask;
    return (mask & identity) != 0;
  }
};

class PermissionModelTest : public IdentityTest {};

TEST_F(PermissionModelTest, DecisionsMatchTheModelForEveryIdentity) {
  std::mt19937 random(20261209);
  size_t checked = 0;
  for (int config = 0; config < 24; config++) {
    SCOPED_TRACE("configuration " + std::to_string(config));
    Boot(/*ownerEnrolled=*/false);
    Model model;
    // The driver registers USB boot itself; the fakes register in a random
    // order and subset, so the camera group forms differently each time.
    model.registered.insert("Device.USBBoot.Enable");
    std::vector<std::string> members = {"Device.FrontCamera.Enable", "Device.RearCamera.Enable",
                                        "Device.IRCamera.Enable", "Device.Other.Enable"};
    std::shuffle(members.begin(), members.end(), random);
    for (const std::string &id : members) {
      if (random() % 4 != 0) {
        FakeValues()[id].bytes = {0};
        ASSERT_EQ(Register(FakeProvider(id.c_str())), EFI_SUCCESS);
        model.registered.insert(id);
      }
    }
    PermissionStore *store = CurrentPermissionStore();
    ASSERT_NE(store, nullptr);
    store->DefaultPMask = static_cast<UINT8>(random());
    model.defaultPMask = store->DefaultPMask;
    for (const auto &[id, pMask] :
         std::map<std::string, UINT8>{{"Zelm.OwnerKey.Enum", 0x09}, {"Zelm.ZtdKey.Enum", 0x01}}) {
      model.Set(id, pMask);
    }
    int entries = static_cast<int>(random() % 10);
    for (int i = 0; i < entries; i++) {
      const std::string &id = kIds[random() % kIds.size()];
      UINT8 pMask = static_cast<UINT8>(random());
      EXPECT_NE(SetPermissionEntry(store, id.c_str(), pMask, 0), EFI_ABORTED);
      model.Set(id, pMask);
    }
    for (UINT32 identity = 0; identity <= 0xFF; identity++) {
      // Only the low byte of the identity mask counts.
      ZELM_AUTH_TOKEN token = Token(identity | ((random() % 2) << 8));
      for (const std::string &id : kIds) {
        BOOLEAN allowed = 2;
        ASSERT_EQ(HasPermission(id.c_str(), &token, &allowed), EFI_SUCCESS);
        ASSERT_EQ(bool(allowed), model.Allows(id, static_cast<UINT8>(identity)))
            << id << " identity " << identity;
        checked++;
      }
      // A change through the access protocol follows the same decision.
      const std::string &target = members[random() % members.size()];
      if (model.registered.count(target) != 0) {
        UINT8 value = static_cast<UINT8>(1 - FakeValues()[target].bytes[0]);
        UINT64 flags = 0;
        EFI_STATUS status = access->Set(access, target.c_str(), &token, ZELM_SETTING_TYPE_ENABLE, 1,
                                        &value, &flags);
        bool allowed = model.Allows(target, static_cast<UINT8>(identity));
        ASSERT_EQ(status, allowed ? EFI_SUCCESS : EFI_ACCESS_DENIED) << target;
        ASSERT_EQ(FakeValues()[target].bytes[0] == value, allowed) << target;
      }
    }
  }
  EXPECT_GT(checked, 50000u);
}

} // namespace
