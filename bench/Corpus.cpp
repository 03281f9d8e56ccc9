// Builds packets that look like the ones the management authority sends:
// a declaration, the version pair and one "Setting" per changed option,
// indented as a person or a tool would write them, and the compact results
// document the driver writes back.
#include "Corpus.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zelm_bench {

namespace {

// xorshift32: tiny and the same on every platform, so that the documents are.
class Random {
public:
  explicit Random(uint32_t seed) : state_(seed) {}

  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
  uint32_t state_;
};

enum class ValueKind { Enable, Enum, String, Identifier, Certificate, Password };

struct KnownSetting {
  const char *id;
  ValueKind kind;
};

// The settings of the driver's own providers.
constexpr KnownSetting kKnownSettings[] = {
    {"Device.USBBoot.Enable", ValueKind::Enable},
    {"Device.BootOrderLock.Enable", ValueKind::Enable},
    {"Device.CpuAndIoVirtualization.Enable", ValueKind::Enable},
    {"Device.FrontCamera.Enable", ValueKind::Enable},
    {"Device.RearCamera.Enable", ValueKind::Enable},
    {"Device.IRCamera.Enable", ValueKind::Enable},
    {"Device.Password.Password", ValueKind::Password},
    {"Zelm.BootExternalMedia.Enable", ValueKind::Enable},
    {"Zelm.BootOnboardNetwork.Enable", ValueKind::Enable},
    {"Zelm.OnboardCameras.Enable", ValueKind::Enable},
    {"Zelm.Recovery.Enable", ValueKind::Enable},
    {"Zelm.Ztd.Recovery.Enable", ValueKind::Enable},
    {"Zelm.ZtdUnenroll.Enable", ValueKind::Enable},
    {"Zelm.OwnerKey.Enum", ValueKind::Enum},
    {"Zelm.ZtdKey.Enum", ValueKind::Enum},
    {"Zelm.RecoveryUrl.String", ValueKind::String},
    {"Zelm.RecoveryBootstrapUrl.String", ValueKind::String},
    {"Zelm.RegistrationId.String", ValueKind::Identifier},
    {"Zelm.TenantId.String", ValueKind::Identifier},
    {"Zelm.HttpsCert.Binary", ValueKind::Certificate},
};
constexpr uint32_t kKnownCount = sizeof(kKnownSettings) / sizeof(kKnownSettings[0]);

// Options that providers of other drivers register, one set per device.
constexpr const char *kDevices[] = {"UsbPort", "PcieSlot", "SataPort",   "Thunderbolt",
                                    "Audio",   "Wlan",     "Bluetooth",  "Nfc",
                                    "SdCard",  "Fan",      "Microphone", "Display"};
constexpr uint32_t kDeviceCount = sizeof(kDevices) / sizeof(kDevices[0]);

constexpr const char *kEnumValues[] = {"Balanced", "Performance", "Quiet", "Auto",
                                       "Off",      "Level2",      "Key0",  "Key1"};
constexpr const char *kHosts[] = {"mgmt.example.com", "recovery.example.net",
                                  "eu.devices.example.org", "10.20.30.40"};
constexpr const char *kResults[] = {"0x800000000000000E", "0x8000000000000003",
                                    "0x800000000000000F", "0x8000000000000002"};

constexpr const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char kHex[] = "0123456789abcdef";
constexpr const char kPathCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789-";

constexpr const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

void AppendRandom(std::string *out, Random &random, const char *alphabet, size_t alphabetSize,
                  size_t count) {
  for (size_t i = 0; i < count; i++) {
    out->push_back(alphabet[random.Below(static_cast<uint32_t>(alphabetSize))]);
  }
}

std::string Url(Random &random) {
  std::string url = "https://";
  url += kHosts[random.Below(4)];
  url += "/enroll/";
  AppendRandom(&url, random, kPathCharacters, sizeof(kPathCharacters) - 1, 6 + random.Below(10));
  url += "?tenant=";
  AppendRandom(&url, random, kHex, 16, 8);
  // Element text arrives escaped; the parser keeps it so.
  url += "&amp;site=" + std::to_string(random.Below(1000));
  return url;
}

std::string Guid(Random &random) {
  std::string guid;
  for (size_t group : {8, 4, 4, 4, 12}) {
    if (!guid.empty()) {
      guid += '-';
    }
    AppendRandom(&guid, random, kHex, 16, group);
  }
  return guid;
}

// Empty means the packet clears the value ("<Value />").
std::string Value(ValueKind kind, Random &random) {
  std::string value;
  switch (kind) {
  case ValueKind::Enable:
    return random.OneIn(3) ? "Disabled" : "Enabled";
  case ValueKind::Enum:
    return kEnumValues[random.Below(8)];
  case ValueKind::String:
    return random.OneIn(8) ? "" : Url(random);
  case ValueKind::Identifier:
    return Guid(random);
  case ValueKind::Certificate:
    // A DER certificate of about 1 KiB, in base64 without line breaks.
    AppendRandom(&value, random, kBase64, 64, 4 * (300 + random.Below(60)) - 2);
    return value + "==";
  case ValueKind::Password:
    AppendRandom(&value, random, kBase64, 62, 10);
    return value + "&lt;&amp;" + std::to_string(random.Below(100));
  }
  return value;
}

// Setting ids in packet order: the driver's own ones shuffled first, then the
// per-device options, every id once.
struct SettingSource {
  explicit SettingSource(Random &r) : random(r) {
    for (uint32_t i = 0; i < kKnownCount; i++) {
      order[i] = i;
    }
    for (uint32_t i = kKnownCount - 1; i > 0; i--) {
      uint32_t j = random.Below(i + 1);
      uint32_t t = order[i];
      order[i] = order[j];
      order[j] = t;
    }
  }

  // The id of the next setting and the kind of its value.
  std::string Next(ValueKind *kind) {
    uint32_t index = next++;
    if (index < kKnownCount) {
      *kind = kKnownSettings[order[index]].kind;
      return kKnownSettings[order[index]].id;
    }
    index -= kKnownCount;
    uint32_t pick = random.Below(20);
    *kind = pick < 12 ? ValueKind::Enable : pick < 17 ? ValueKind::Enum : ValueKind::String;
    return NumberedId(index, *kind);
  }

  static std::string NumberedId(uint32_t index, ValueKind kind) {
    const char *suffix = kind == ValueKind::Enable ? ".Enable"
                         : kind == ValueKind::Enum ? ".Enum"
                                                   : ".String";
    return std::string("Device.") + kDevices[index % kDeviceCount] +
           std::to_string(index / kDeviceCount + 1) + suffix;
  }

  Random &random;
  uint32_t order[kKnownCount];
  uint32_t next = 0;
};

std::string SettingElement(const std::string &id, const std::string &value, bool compact) {
  std::string valueElement = value.empty() ? "<Value />" : "<Value>" + value + "</Value>";
  if (compact) {
    return "    <Setting><Id>" + id + "</Id>" + valueElement + "</Setting>\n";
  }
  return "    <Setting>\n      <Id>" + id + "</Id>\n      " + valueElement + "\n    </Setting>\n";
}

// A settings packet of exactly budget bytes: whole settings while they fit,
// then one string setting whose value takes up the rest.
std::string SettingsPacket(size_t budget, uint32_t seed) {
  Random random(seed);
  uint32_t version = 2 + random.Below(40);
  std::string text = std::string(kDeclaration) + "\n" +
                     "<SettingsPacket xmlns=\"urn:UefiSettings-Schema\">\n" + "  <Version>" +
                     std::to_string(version) + "</Version>\n" + "  <LowestSupportedVersion>" +
                     std::to_string(version - 1 - random.Below(2)) + "</LowestSupportedVersion>\n" +
                     "  <Settings>\n";
  const std::string closing = "  </Settings>\n</SettingsPacket>\n";
  const std::string fillerStart = "https://bootstrap.example.com/";
  constexpr size_t kShortestFiller = 40;
  // Id of the filling setting; no other setting of this packet has it.
  const std::string fillerId = SettingSource::NumberedId(100000, ValueKind::String);
  const size_t fillerOverhead = SettingElement(fillerId, "x", true).size() - 1;
  SettingSource source(random);
  // A setting that does not fit is left out; a few in a row end the list.
  for (int misses = 0; misses < 8;) {
    ValueKind kind;
    std::string id = source.Next(&kind);
    std::string setting = SettingElement(id, Value(kind, random), random.OneIn(3));
    if (text.size() + setting.size() + fillerOverhead + kShortestFiller + closing.size() > budget) {
      misses++;
      continue;
    }
    text += setting;
  }
  std::string url = fillerStart;
  AppendRandom(&url, random, kPathCharacters, sizeof(kPathCharacters) - 1,
               budget - text.size() - closing.size() - fillerOverhead - fillerStart.size());
  text += SettingElement(fillerId, url, true) + closing;
  return text;
}

// A results document as the driver writes it (no layout), below budget bytes.
std::string ResultsPacket(size_t budget, uint32_t seed) {
  Random random(seed);
  char appliedOn[20];
  std::snprintf(appliedOn, sizeof(appliedOn), "%d-%02d-%02dT%02d:%02d:%02d",
                2024 + static_cast<int>(random.Below(3)), 1 + static_cast<int>(random.Below(12)),
                1 + static_cast<int>(random.Below(28)), static_cast<int>(random.Below(24)),
                static_cast<int>(random.Below(60)), static_cast<int>(random.Below(60)));
  std::string text = std::string(kDeclaration) + "<ResultsPacket><AppliedOn>" + appliedOn +
                     "</AppliedOn><Settings>";
  const std::string closing = "</Settings></ResultsPacket>";
  SettingSource source(random);
  for (;;) {
    ValueKind kind;
    std::string id = source.Next(&kind);
    uint32_t outcome = random.Below(16);
    // Mostly applied; some already current, some needing a reset, some refused.
    const char *flags = outcome < 3 ? "0x80000000" : outcome == 3 ? "0x1" : "0x0";
    const char *result = outcome >= 13 ? kResults[outcome - 13] : "0x0";
    std::string entry = "<SettingResult><Id>" + id + "</Id><Flags>" + flags + "</Flags><Result>" +
                        result + "</Result></SettingResult>";
    if (text.size() + entry.size() + closing.size() > budget) {
      break;
    }
    text += entry;
  }
  return text + closing;
}

std::string CorpusPath(const std::string &directory, const Document &document) {
  return directory + "/" + document.name + ".xml";
}

} // namespace

std::vector<Document> GenerateDocuments() {
  return {
      // The driver refuses packets above 0x6000 bytes.
      {"settings-24k", SettingsPacket(0x6000, 0x5eed2400)},
      {"settings-2k", SettingsPacket(2048, 0x5eed0200)},
      // Result texts are limited to 8192 bytes with their NUL.
      {"results-8k", ResultsPacket(8191, 0x5eed0800)},
  };
}

bool WriteCorpus(const std::string &directory, const std::vector<Document> &documents) {
  for (const Document &document : documents) {
    std::ofstream out(CorpusPath(directory, document), std::ios::binary | std::ios::trunc);
    out << document.text;
    if (!out.flush()) {
      return false;
    }
  }
  return true;
}

bool CheckCorpus(const std::string &directory, const std::vector<Document> &documents,
                 std::string *problem) {
  for (const Document &document : documents) {
    std::string path = CorpusPath(directory, document);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      *problem = path + " is missing";
      return false;
    }
    std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stored != document.text) {
      size_t at = 0;
      while (at < stored.size() && at < document.text.size() && stored[at] == document.text[at]) {
        at++;
      }
      std::ostringstream message;
      message << path << " differs from the generated document at byte " << at << " (file "
              << stored.size() << " bytes, generated " << document.text.size() << ")";
      *problem = message.str();
      return false;
    }
  }
  return true;
}

} // namespace zelm_bench
