// Permissions packets against a small independent model of the store:
// thousands of random packets (signers, modes, defaults, versions, elements
// and malformed variants), each applied, reported and kept or discarded;
// the driver's store, "_SPP", the record and the result text must be what
// the model predicts.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/permissions/PacketTestSupport.h"

namespace {

using packettest::PacketTest;
using packettest::Snapshot;
using permissionstest::DefaultEntries;
using permissionstest::Entry;

constexpr UINT8 kMark = 0x04;
constexpr UINT64 kMaxNumber32 = 0xFFFFFFFFull;

// The store as the rules describe it.
struct Model {
  UINT32 version = 0;
  UINT32 lowest = 0;
  UINT8 defaultPMask = 0x01;
  UINT8 defaultDMask = 0x80;
  std::vector<Entry> entries = DefaultEntries();
};

// One permission element; an absent optional leaves its child out, an
// empty text writes the child without text.
struct Element {
  std::string tag = "Permission";
  std::optional<std::string> id;
  std::optional<std::string> pMask;
  std::optional<std::string> dMask;
  bool secondId = false; // a later "Id" child, which must not count
};

struct Packet {
  UINT8 signer = 0x80;
  bool noAppend = false;
  bool declaration = true;
  std::string root = "PermissionsPacket";
  // The root's end tag: missing (the tree as built still counts) or
  // misnamed (the parse fails).
  enum class End { Closed, Missing, Misnamed } end = End::Closed;
  std::optional<std::string> version;
  std::optional<std::string> lowest;
  bool hasPermissions = true;
  std::optional<std::string> append;
  std::optional<std::string> defaultMask;
  std::optional<std::string> delegated;
  std::vector<Element> elements;
};

std::string Child(const char *name, const std::optional<std::string> &text) {
  if (!text) {
    return "";
  }
  return std::string("<") + name + ">" + *text + "</" + name + ">";
}

std::string Attribute(const char *name, const std::optional<std::string> &value) {
  return value ? std::string(" ") + name + "=\"" + *value + "\"" : "";
}

std::string Render(const Packet &p) {
  std::string xml = p.declaration ? "<?xml version=\"1.0\" encoding=\"utf-8\"?>" : "";
  xml +=
      "<" + p.root + ">" + Child("Version", p.version) + Child("LowestSupportedVersion", p.lowest);
  if (p.hasPermissions) {
    xml += "<Permissions" + Attribute("Append", p.append) + Attribute("Default", p.defaultMask) +
           Attribute("Delegated", p.delegated) + ">";
    for (const Element &e : p.elements) {
      xml += "<" + e.tag + ">" + Child("Id", e.id) + Child("PMask", e.pMask) +
             Child("DMask", e.dMask) + (e.secondId ? "<Id>Device.Second</Id>" : "") + "</" + e.tag +
             ">";
    }
    xml += "</Permissions>";
  }
  switch (p.end) {
  case Packet::End::Missing:
    return xml;
  case Packet::End::Misnamed:
    return xml + "</Other>";
  default:
    return xml + "</" + p.root + ">";
  }
}

// The number reader: blanks and zeros skipped, digits up to the first
// other character, none reading as 0; no text, or a value above Max, is
// refused.
std::optional<UINT64> Number(const std::string &text, UINT64 max) {
  if (text.empty()) {
    return std::nullopt;
  }
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
    i++;
  }
  UINT64 value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    if (value > (~0ull - 9) / 10) {
      return std::nullopt; // beyond 64 bits, so beyond any Max here
    }
    value = value * 10 + static_cast<UINT64>(text[i] - '0');
  }
  if (value > max) {
    return std::nullopt;
  }
  return value;
}

// The highest of the delegating bits in DMask, or 0.
UINT8 Owner(UINT8 dMask) {
  for (UINT8 bit : {0x80, 0x40, 0x20, 0x10}) {
    if ((dMask & bit) != 0) {
      return bit;
    }
  }
  return 0;
}

std::string StatusText(EFI_STATUS status) {
  return status == EFI_SUCCESS ? "0x0" : "0x800000000000000F";
}

struct Prediction {
  UINT32 state = 0;
  EFI_STATUS status = EFI_SUCCESS;
  std::string text; // empty when no result text is left
  Model after;      // the store once the packet is kept
};

Prediction Predict(const Model &before, const Packet &p) {
  Prediction refused;
  refused.after = before;
  auto refuse = [&](UINT32 state, EFI_STATUS status) {
    refused.state = state;
    refused.status = status;
    return refused;
  };
  auto malformed = [&] { return refuse(248, EFI_NO_MAPPING); };
  const UINT8 caller = p.signer;

  if (p.end == Packet::End::Misnamed || !p.declaration || p.root != "PermissionsPacket" ||
      (p.defaultMask && p.defaultMask->empty()) || (p.delegated && p.delegated->empty()) ||
      (p.append && p.append->empty())) {
    return malformed(); // an empty attribute value fails the parse
  }
  std::optional<UINT64> version = p.version ? Number(*p.version, kMaxNumber32) : std::nullopt;
  if (!version) {
    return malformed();
  }
  if (*version < before.lowest) {
    return refuse(240, EFI_ACCESS_DENIED);
  }
  std::optional<UINT64> lowest = p.lowest ? Number(*p.lowest, kMaxNumber32) : std::nullopt;
  if (!lowest) {
    return malformed();
  }
  if (*lowest > *version) {
    return refuse(253, EFI_NO_MAPPING);
  }
  if (!p.hasPermissions || !p.append) {
    return malformed();
  }
  const bool appendMode = *p.append == "True";
  if (appendMode && p.noAppend) {
    return malformed();
  }

  Model m = before;
  if (!appendMode) {
    for (Entry &e : m.entries) {
      if ((Owner(e.dMask) & caller) != 0) {
        e.dMask |= kMark;
      }
    }
  }
  m.version = static_cast<UINT32>(*version);
  m.lowest = std::max(m.lowest, static_cast<UINT32>(*lowest));
  if (p.defaultMask) {
    std::optional<UINT64> pMask = Number(*p.defaultMask, 249);
    if (!pMask) {
      return malformed();
    }
    UINT8 dMask = m.defaultDMask;
    if (p.delegated) {
      std::optional<UINT64> given = Number(*p.delegated, 249);
      if (!given || (*given & kMark) != 0) {
        return malformed();
      }
      dMask = static_cast<UINT8>(*given);
    }
    if ((caller & m.defaultDMask) != 0) {
      m.defaultPMask = static_cast<UINT8>(*pMask);
      m.defaultDMask = dMask;
    }
  }

  std::string results;
  for (const Element &e : p.elements) {
    std::optional<UINT64> pMask = e.pMask ? Number(*e.pMask, 249) : std::nullopt;
    if (!e.id || !pMask) {
      return malformed();
    }
    std::optional<UINT64> dMask = 2; // absent
    if (e.dMask) {
      dMask = Number(*e.dMask, 249);
      if (!dMask || (*dMask & kMark) != 0) {
        return malformed();
      }
    }
    const std::string &id = *e.id;
    const bool given = *dMask != 2;
    Entry *found = nullptr;
    if (!id.empty() && id.size() <= 96) {
      for (Entry &entry : m.entries) {
        if (entry.id == id) {
          found = &entry;
          break;
        }
      }
    }
    EFI_STATUS result = EFI_ACCESS_DENIED;
    if (found != nullptr) {
      if ((caller & found->dMask) != 0) {
        found->pMask = static_cast<UINT8>(*pMask);
        found->dMask = static_cast<UINT8>((given ? *dMask : found->dMask) & ~kMark);
        result = EFI_SUCCESS;
      }
    } else if ((caller & m.defaultDMask) != 0) {
      if (id.empty() || id.size() > 96) {
        return refuse(255, EFI_ABORTED);
      }
      if (!(id[0] >= '0' && id[0] <= '9')) {
        m.entries.push_back(
            {id, static_cast<UINT8>(*pMask), static_cast<UINT8>(given ? *dMask : caller & ~kMark)});
      }
      result = EFI_SUCCESS;
    }
    if (id.empty()) {
      return refuse(255, EFI_DEVICE_ERROR);
    }
    results += "<PermissionResult><Id>" + id + "</Id><Result>" + StatusText(result) +
               "</Result></PermissionResult>";
  }
  std::erase_if(m.entries, [](const Entry &e) { return (e.dMask & kMark) != 0; });
  size_t image = 49;
  for (const Entry &e : m.entries) {
    image += 3 + e.id.size() + 1;
  }
  if (image > 2048) {
    return refuse(255, EFI_INVALID_PARAMETER);
  }
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ResultsPacket>"
                     "<AppliedOn>2026-12-09T10:20:30</AppliedOn>";
  text += results.empty() ? "<Permissions />" : "<Permissions>" + results + "</Permissions>";
  text += "</ResultsPacket>";
  if (text.size() + 1 > 8192) {
    return refuse(4, EFI_ABORTED);
  }
  return {4, EFI_SUCCESS, text, m};
}

Snapshot Expected(const Model &m) {
  Snapshot s;
  s.hasStore = true;
  s.version = m.version;
  s.lowest = m.lowest;
  s.defaultPMask = m.defaultPMask;
  s.defaultDMask = m.defaultDMask;
  s.entries = m.entries;
  return s;
}

std::string Print(const Snapshot &s) {
  std::string out = "v" + std::to_string(s.version) + "/" + std::to_string(s.lowest) +
                    " defaults " + std::to_string(s.defaultPMask) + "/" +
                    std::to_string(s.defaultDMask) + ":";
  for (const Entry &e : s.entries) {
    out += " {" + e.id.substr(0, 24) + " " + std::to_string(e.pMask) + " " +
           std::to_string(e.dMask) + "}";
  }
  return out;
}

// The in-memory store of S (its "_SPP" bytes aside) is the model's.
testing::AssertionResult Matches(Snapshot s, const Model &m) {
  s.spp.clear();
  if (s == Expected(m)) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "store " << Print(s) << "\nmodel " << Print(Expected(m));
}

// Random packets, most of them well-formed so that the store keeps moving.
class Generator {
public:
  explicit Generator(UINT32 seed) : random_(seed) {
    ids_ = {"Device.A",
            "Device.B",
            "Device.C.Enable",
            "Vendor.Setting",
            "Zelm.OwnerKey.Enum",
            "Zelm.ZtdKey.Enum",
            "Zelm.ZtdUnenroll.Enable",
            "Zelm.Ztd.Recovery.Enable",
            "7Digit.Setting",
            "0",
            std::string(96, 'L'),
            std::string(97, 'L')};
    for (int i = 0; i < 24; i++) {
      std::string id = "Device.Long" + std::to_string(10 + i) + ".";
      long_.push_back(id + std::string(95 - id.size(), 'x'));
    }
  }

  Packet Next(const Model &m) {
    Packet p;
    p.signer = Pick<UINT8>({0x01, 0x08, 0x10, 0x20, 0x40, 0x80, 0x80, 0x80, 0x81, 0x90, 0x18, 0x30,
                            0xC0, 0xF0, 0x84, 0x09, 0x41, 0xFF});
    p.noAppend = Chance(10);
    const INT64 version = static_cast<INT64>(m.lowest) + (Chance(6) ? -1 : Range(0, 6));
    p.version = VersionText(version);
    p.lowest = VersionText(Chance(92) ? version - Range(0, 5) : version + 1);
    if (Chance(3)) {
      p.version = Pick<std::string>({"", "x", "4294967296", "99999999999999999999999"});
    }
    if (Chance(2)) {
      p.lowest = std::nullopt;
    }
    p.append = Pick<std::string>({"True", "True", "True", "False", "False", "true", "Yes"});
    if (Chance(3)) {
      p.append = std::nullopt;
    }
    if (Chance(25)) {
      p.defaultMask = MaskText(Range(0, 255));
      if (Chance(70)) {
        p.delegated = Chance(80) ? MaskText(Pick<int>({0x80, 0x90, 0xC0, 0xF9, 0x81, 0x18}))
                                 : MaskText(Range(0, 255));
      }
    } else if (Chance(5)) {
      p.delegated = MaskText(Range(0, 255)); // not read without "Default"
    }
    if (Chance(4)) {
      Bulk(p);
    } else {
      const int count = Range(0, 6);
      for (int i = 0; i < count; i++) {
        p.elements.push_back(RandomElement());
      }
    }
    if (Chance(1)) {
      p.hasPermissions = false;
    }
    if (Chance(1)) {
      p.declaration = false;
    }
    if (Chance(1)) {
      p.root = "PermissionPacket";
    }
    if (Chance(2)) {
      p.end = Chance(50) ? Packet::End::Missing : Packet::End::Misnamed;
    }
    if (Chance(1)) {
      p.defaultMask = "";
    }
    return p;
  }

  bool Chance(int percent) { return Range(0, 99) < percent; }
  int Range(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  template <typename T> T Pick(std::initializer_list<T> values) {
    return *(values.begin() + Range(0, static_cast<int>(values.size()) - 1));
  }

private:
  std::string VersionText(INT64 value) {
    return std::to_string(std::clamp<INT64>(value, 0, kMaxNumber32 + 1));
  }

  // Decimal text of Value in one of the spellings the reader accepts.
  std::string MaskText(int value) {
    switch (Range(0, 9)) {
    case 0:
      return "00" + std::to_string(value);
    case 1:
      return std::to_string(value) + "x";
    default:
      return std::to_string(value);
    }
  }

  Element RandomElement() {
    Element e;
    e.tag = Pick<std::string>({"Permission", "Permission", "P", "Entry"});
    e.id = ids_[Range(0, static_cast<int>(ids_.size()) - 1)];
    e.pMask = MaskText(Chance(97) ? Range(0, 249) : Range(250, 255));
    const int kind = Range(0, 99);
    if (kind < 8) {
      e.dMask = Pick<std::string>({"2", "002", "2x"});
    } else if (kind < 45) {
      e.dMask = MaskText(Pick<int>({0x10, 0x20, 0x40, 0x80, 0x90, 0x11, 0x88, 0xA0, 0x01, 0}));
    } else if (kind < 52) {
      e.dMask = MaskText(Range(0, 255));
    } else if (kind < 55) {
      e.dMask = "x"; // reads 0
    }
    const int broken = Range(0, 199);
    if (broken == 0) {
      e.id = std::nullopt;
    } else if (broken == 1) {
      e.pMask = std::nullopt;
    } else if (broken == 2) {
      e.id = "";
    } else if (broken == 3) {
      e.pMask = "";
    } else if (broken == 4) {
      e.dMask = "";
    } else if (broken < 10) {
      e.secondId = true;
    }
    return e;
  }

  // Many long ids, near both the "_SPP" and the result text limits.
  void Bulk(Packet &p) {
    p.signer = Pick<UINT8>({0x80, 0x80, 0x90, 0x10});
    p.append = Chance(70) ? "True" : "False";
    p.noAppend = false;
    // Either many different ids, or a few repeated: a long result text
    // from a store that still fits.
    const bool repeated = Chance(50);
    const int count = repeated ? Range(40, 70) : Range(12, 24);
    const int first = Range(0, static_cast<int>(long_.size()) - 1);
    for (int i = 0; i < count; i++) {
      Element e;
      e.id = long_[(first + (repeated ? Range(0, 3) : i)) % long_.size()];
      e.pMask = std::to_string(Range(0, 249));
      p.elements.push_back(e);
    }
  }

  std::mt19937 random_;
  std::vector<std::string> ids_;
  std::vector<std::string> long_;
};

// What a packet came to, for the tally of outcomes.
std::string Outcome(const Model &before, const Prediction &p, bool discard) {
  switch (p.state) {
  case 4:
    if (p.status != EFI_SUCCESS) {
      return "results over 8192";
    }
    if (discard) {
      return "discarded";
    }
    if (p.after.defaultPMask != before.defaultPMask ||
        p.after.defaultDMask != before.defaultDMask) {
      return "kept, defaults changed";
    }
    for (const Entry &e : before.entries) {
      if (std::none_of(p.after.entries.begin(), p.after.entries.end(),
                       [&](const Entry &a) { return a.id == e.id; })) {
        return "kept, entries removed";
      }
    }
    return "kept";
  case 248:
    return "malformed";
  case 240:
  case 253:
    return "version refused";
  default:
    return p.status == EFI_INVALID_PARAMETER ? "store over 2048" : "id refused";
  }
}

class PacketModelTest : public PacketTest {
protected:
  void RestartDriver() {
    Reboot();
    auth = &firmware->InstallAuthentication();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    apply = Find<ZELM_APPLY_PACKET_PROTOCOL>(gZelmPermissionsApplyProtocolGuid);
    ASSERT_NE(apply, nullptr);
  }

  // One packet through the three calls; Discard asks for CompletePacket 1
  // even when ApplyPacket succeeded.
  void RunPacket(const Packet &p, bool discard, UINT32 session) {
    const Prediction predicted = Predict(model, p);
    const std::string xml = Render(p);
    SCOPED_TRACE("signer " + std::to_string(p.signer) + (p.noAppend ? " NoAppend" : "") + "\n" +
                 xml.substr(0, 1500));
    const Snapshot before = Now();
    const bool applied = predicted.status == EFI_SUCCESS;
    {
      auto packet = Deliver(xml, p.signer,
                            {.formatVersion = 2, .sessionId = session, .noAppend = p.noAppend});
      ZELM_APPLY_PACKET *record = packet->Record();
      ASSERT_EQ(Apply(*packet), predicted.status);
      ASSERT_EQ(record->State, predicted.state);
      ASSERT_EQ(record->Status, predicted.status);
      ASSERT_EQ(packet->ResultText(), predicted.text);
      ASSERT_EQ(record->ResultSize, predicted.text.empty() ? 0 : predicted.text.size() + 1);
      ASSERT_EQ(record->PermissionsChanged, applied ? 1 : 0);
      ASSERT_EQ(record->AuthToken, 0u);
      if (applied) {
        // Until CompletePacket the store already answers from the change.
        ASSERT_TRUE(Matches(packettest::StoreState(CurrentPermissionStore()), predicted.after));
      }

      ASSERT_EQ(Report(*packet), EFI_SUCCESS);
      const std::vector<UINT8> kppr = packet->ResultVariable();
      ASSERT_EQ(kppr.size(), 22 + record->ResultSize);
      EFI_STATUS reported = 0;
      std::memcpy(&reported, kppr.data() + 8, sizeof(reported));
      ASSERT_EQ(reported, predicted.status);
      ASSERT_EQ(std::string(kppr.begin() + 22, kppr.end()),
                predicted.text.empty() ? "" : predicted.text + std::string(1, '\0'));

      ASSERT_EQ(Complete(*packet, applied && !discard ? 2 : 1), EFI_SUCCESS);
      ASSERT_FALSE(packet->MailboxPresent());
      ASSERT_EQ(record->State, predicted.state);
      ASSERT_EQ(record->PermissionsChanged, 0);
    }
    if (applied && !discard) {
      model = predicted.after;
    }
    const Snapshot now = Now();
    ASSERT_TRUE(Matches(now, model));
    if (!applied || discard) {
      ASSERT_EQ(now, before);
    }
    // What "_SPP" holds reads back to the same store.
    ASSERT_EQ(ReloadPermissionStore(), EFI_SUCCESS);
    ASSERT_TRUE(Matches(packettest::StoreState(CurrentPermissionStore()), model));
  }

  Model model;
};

TEST_F(PacketModelTest, RandomPacketsLeaveExactlyTheStoreTheModelPredicts) {
  // Every identity bit is enrolled so that any signer byte authenticates.
  BootWith(0xFF);
  Generator generate(20261210);
  std::map<std::string, size_t> seen;
  const size_t blocksBesideEntries = firmware->BootPool().Stats().liveCount - model.entries.size();
  for (UINT32 n = 1; n <= 5000; n++) {
    SCOPED_TRACE("packet " + std::to_string(n));
    if (n % 400 == 0) {
      // Without "_SPP" the driver starts from the defaults again, so a
      // store that no signer can change any more does not end the run.
      platform.EraseVariable(u"_SPP", gZelmSettingsManagerVariableGuid);
      RestartDriver();
      model = Model();
    } else if (n % 97 == 0) {
      RestartDriver();
    }
    if (n % 97 == 0 || n % 400 == 0) {
      ASSERT_TRUE(Matches(Now(), model));
    }
    const Packet p = generate.Next(model);
    const bool discard = generate.Chance(15);
    const Prediction predicted = Predict(model, p);
    const Model before = model;
    ASSERT_NO_FATAL_FAILURE(RunPacket(p, discard, n));
    platform.ClearSetVariableLog();
    seen[Outcome(before, predicted, discard)]++;
    // Each entry is one block; nothing else a packet allocates stays.
    ASSERT_EQ(firmware->BootPool().Stats().liveCount - model.entries.size(), blocksBesideEntries);
  }
  // Every kind of outcome came up often enough to mean something.
  for (const char *kind :
       {"kept", "kept, defaults changed", "kept, entries removed", "discarded", "malformed",
        "version refused", "id refused", "store over 2048", "results over 8192"}) {
    EXPECT_GE(seen[kind], 20u) << kind;
  }
}

} // namespace
