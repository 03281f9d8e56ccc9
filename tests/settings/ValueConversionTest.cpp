// Value texts of packets to stored bytes and back, by setting type.
#include <algorithm>
#include <cstring>
#include <list>
#include <string>

#include "host/Authentication.h"
#include "settings/ValueConversion.h"
#include "support/Pool.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {

// The text of Provider's value, or "(none)" with the status in *Status; an
// error must leave no text behind.
std::string Shown(const ZELM_SETTING_PROVIDER &provider, BOOLEAN useDefault = FALSE,
                  EFI_STATUS *status = nullptr) {
  CHAR8 *text = reinterpret_cast<CHAR8 *>(1);
  EFI_STATUS got = SettingValueToText(&provider, useDefault, &text);
  if (status != nullptr) {
    *status = got;
  }
  if (EFI_ERROR(got)) {
    EXPECT_EQ(text, nullptr);
    return "(none)";
  }
  std::string result = text;
  FreePool(text);
  return result;
}

using settingstest::FakeProvider;
using settingstest::FakeValues;
using settingstest::SettingsTest;

class ValueConversionTest : public SettingsTest {
protected:
  // The text of a registered fake provider holding Bytes, or "(none)".
  std::string TextOf(UINT32 type, std::vector<UINT8> bytes) {
    std::string id = "Test.Value." + std::to_string(next_++);
    ids_.push_back(id);
    FakeValues()[ids_.back()].bytes = std::move(bytes);
    ZELM_SETTING_PROVIDER provider = FakeProvider(ids_.back().c_str(), type);
    return Shown(provider);
  }

  std::list<std::string> ids_;
  int next_ = 0;
};

TEST_F(ValueConversionTest, StoredBytesBecomeTheirTexts) {
  struct Row {
    UINT32 type;
    std::vector<UINT8> bytes;
    const char *text;
  };
  const Row rows[] = {
      {ZELM_SETTING_TYPE_ENABLE, {1}, "Enabled"},
      {ZELM_SETTING_TYPE_ENABLE, {7}, "Enabled"},
      {ZELM_SETTING_TYPE_ENABLE, {0}, "Disabled"},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, {0}, "KvOnly"},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, {1}, "KvPlus3rdParty"},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, {2}, "None"},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, {3}, "Custom"},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, {9}, "None"},
      {ZELM_SETTING_TYPE_PASSWORD, {1}, "System Password Set"},
      {ZELM_SETTING_TYPE_PASSWORD, {0}, "No System Password"},
      {ZELM_SETTING_TYPE_USBPORT, {0}, "UsbPortEnabled"},
      {ZELM_SETTING_TYPE_USBPORT, {0xF0}, "UsbPortHwDisabled"},
      {ZELM_SETTING_TYPE_USBPORT, {0xF1}, "UsbPortDataDisabled"},
      {ZELM_SETTING_TYPE_USBPORT, {0x01}, "UnsupportedValue"},
      {ZELM_SETTING_TYPE_STRING, {'h', 'i', 0}, "hi"},
      {ZELM_SETTING_TYPE_STRING, {'h', 0, 'x'}, "h"},
      {ZELM_SETTING_TYPE_STRING, {'h', 'i'}, "(none)"}, // not terminated
      {ZELM_SETTING_TYPE_STRING, {0}, ""},              // one byte: the empty text
      {ZELM_SETTING_TYPE_STRING, {}, "(none)"},
      {ZELM_SETTING_TYPE_BINARY, {'a', 'b', 'c'}, "YWJj"},
      {ZELM_SETTING_TYPE_BINARY, {'a', 'b'}, "YWI="},
      {ZELM_SETTING_TYPE_BINARY, {0xFF}, "/w=="},
      {ZELM_SETTING_TYPE_BINARY, {}, "(none)"},
      {ZELM_SETTING_TYPE_CERT, {}, ""},
      {ZELM_SETTING_TYPE_CERT, {1, 2}, "(none)"}, // no authentication protocol
      {1, {1}, "(none)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(TextOf(row.type, row.bytes), row.text);
  }
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_STRING, std::vector<UINT8>(0x6000, 'a')), "(none)");
  std::vector<UINT8> longest(0x6000, 'a');
  longest.back() = 0;
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_STRING, longest), std::string(0x5FFF, 'a'));
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_BINARY, std::vector<UINT8>(0x6001, 1)), "(none)");
}

// A provider whose size query and read disagree: what it answers to each.
struct ScriptedRead {
  EFI_STATUS queryStatus;
  UINTN querySize;
  EFI_STATUS readStatus;
  std::vector<UINT8> written; // as much as fits the buffer
  UINTN readSize;
};
ScriptedRead script;

EFI_STATUS EFIAPI ScriptedGet(const ZELM_SETTING_PROVIDER *, UINTN *ValueSize, VOID *Value) {
  if (Value == nullptr) {
    *ValueSize = script.querySize;
    return script.queryStatus;
  }
  memcpy(Value, script.written.data(), std::min(*ValueSize, script.written.size()));
  *ValueSize = script.readSize;
  return script.readStatus;
}

// Only the bytes the read returns count: a value that grows, shrinks or
// empties between the two reads is shown as the read left it, or not at all.
TEST_F(ValueConversionTest, ValuesThatChangeBetweenQueryAndReadAreShownAsRead) {
  struct Row {
    const char *name;
    UINT32 type;
    ScriptedRead read;
    std::string text;
  };
  const EFI_STATUS small = EFI_BUFFER_TOO_SMALL;
  const Row rows[] = {
      {"as queried", ZELM_SETTING_TYPE_STRING, {small, 3, EFI_SUCCESS, {'h', 'i', 0}, 3}, "hi"},
      {"terminator past the returned size",
       ZELM_SETTING_TYPE_STRING,
       {small, 3, EFI_SUCCESS, {'h', 'i', 0}, 2},
       "(none)"},
      {"shrank to one byte", ZELM_SETTING_TYPE_STRING, {small, 3, EFI_SUCCESS, {0}, 1}, ""},
      {"emptied", ZELM_SETTING_TYPE_STRING, {small, 3, EFI_SUCCESS, {}, 0}, "(none)"},
      {"grew, said so", ZELM_SETTING_TYPE_STRING, {small, 2, small, {}, 4}, "(none)"},
      {"grew, claims success",
       ZELM_SETTING_TYPE_STRING,
       {small, 2, EFI_SUCCESS, {'h', 0}, 4},
       "(none)"},
      {"read fails", ZELM_SETTING_TYPE_STRING, {small, 2, EFI_DEVICE_ERROR, {'h', 0}, 2}, "(none)"},
      {"query claims success",
       ZELM_SETTING_TYPE_STRING,
       {EFI_SUCCESS, 2, EFI_SUCCESS, {'h', 0}, 2},
       "(none)"},
      {"query gives size 0",
       ZELM_SETTING_TYPE_STRING,
       {small, 0, EFI_SUCCESS, {'h', 0}, 2},
       "(none)"},
      {"binary shrank to one byte",
       ZELM_SETTING_TYPE_BINARY,
       {small, 3, EFI_SUCCESS, {'a'}, 1},
       "YQ=="},
      {"binary emptied", ZELM_SETTING_TYPE_BINARY, {small, 3, EFI_SUCCESS, {}, 0}, "(none)"},
      {"binary longest",
       ZELM_SETTING_TYPE_BINARY,
       {small, 0x6000, EFI_SUCCESS, std::vector<UINT8>(0x6000, 0xFF), 0x6000},
       std::string(0x8000, '/')},
      {"certificate emptied", ZELM_SETTING_TYPE_CERT, {small, 3, EFI_SUCCESS, {}, 0}, ""},
      {"certificate query gives size 0",
       ZELM_SETTING_TYPE_CERT,
       {small, 0, EFI_SUCCESS, {}, 0},
       ""},
      {"certificate query fails",
       ZELM_SETTING_TYPE_CERT,
       {EFI_DEVICE_ERROR, 0, EFI_SUCCESS, {}, 0},
       "(none)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    script = row.read;
    ZELM_SETTING_PROVIDER provider = FakeProvider("Test.Scripted", row.type);
    provider.GetSettingValue = ScriptedGet;
    size_t live = firmware->BootPool().Stats().liveCount;
    std::string shown = Shown(provider);
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live); // the read buffer was freed
    EXPECT_EQ(shown, row.text);
  }
}

// A size query that gives no usable size: no text, and a status that says
// the value cannot be shown, not that the pool ran out.
TEST_F(ValueConversionTest, UnusableSizeQueriesAreUnsupported) {
  const EFI_STATUS small = EFI_BUFFER_TOO_SMALL;
  const struct {
    UINT32 type;
    EFI_STATUS queryStatus;
    UINTN querySize;
  } queries[] = {
      {ZELM_SETTING_TYPE_STRING, EFI_SUCCESS, 2}, {ZELM_SETTING_TYPE_STRING, small, 0},
      {ZELM_SETTING_TYPE_STRING, small, 0x6001},  {ZELM_SETTING_TYPE_BINARY, EFI_SUCCESS, 2},
      {ZELM_SETTING_TYPE_BINARY, small, 0x6001},  {ZELM_SETTING_TYPE_CERT, small, 0x6001},
  };
  for (const auto &query : queries) {
    SCOPED_TRACE(testing::Message() << "type " << query.type << " size " << query.querySize);
    script = {query.queryStatus, query.querySize, EFI_SUCCESS, {'h', 0}, 2};
    ZELM_SETTING_PROVIDER provider = FakeProvider("Test.Scripted", query.type);
    provider.GetSettingValue = ScriptedGet;
    EFI_STATUS status = EFI_SUCCESS;
    EXPECT_EQ(Shown(provider, FALSE, &status), "(none)");
    EXPECT_EQ(status, EFI_UNSUPPORTED);
  }
}

// No pool for the value or for its text: no text, and nothing left allocated.
TEST_F(ValueConversionTest, ValuesWithoutPoolGiveNoText) {
  const struct {
    UINT32 type;
    std::vector<UINT8> bytes;
    size_t allocations; // that a full conversion makes
  } rows[] = {
      {ZELM_SETTING_TYPE_STRING, {'h', 'i', 0}, 2},
      {ZELM_SETTING_TYPE_BINARY, {'a', 'b', 'c'}, 2},
      {ZELM_SETTING_TYPE_CERT, {}, 1},
      {ZELM_SETTING_TYPE_ENABLE, {1}, 1},
  };
  for (const auto &row : rows) {
    for (size_t n = 1; n <= row.allocations; n++) {
      SCOPED_TRACE(row.type * 10 + n);
      size_t live = firmware->BootPool().Stats().liveCount;
      firmware->BootPool().FailNth(n);
      EXPECT_EQ(TextOf(row.type, row.bytes), "(none)");
      firmware->BootPool().ClearFaults();
      EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
    }
  }
}

// A read that fails gives no text; one that fails for want of pool says
// so, for the caller must not take the value for one that cannot be shown.
TEST_F(ValueConversionTest, FailingReadsGiveNoText) {
  for (EFI_STATUS failure : {EFI_DEVICE_ERROR, EFI_OUT_OF_RESOURCES}) {
    for (UINT32 type : {0u, 2u, 3u, 4u, 5u, 6u, 7u}) {
      SCOPED_TRACE(testing::Message() << "type " << type << " failure " << failure);
      ids_.push_back("Test.Failing." + std::to_string(type) + "." + std::to_string(failure));
      FakeValues()[ids_.back()].getStatus = failure;
      ZELM_SETTING_PROVIDER provider = FakeProvider(ids_.back().c_str(), type);
      for (BOOLEAN useDefault : {FALSE, TRUE}) {
        EFI_STATUS status = EFI_SUCCESS;
        EXPECT_EQ(Shown(provider, useDefault, &status), "(none)");
        EXPECT_TRUE(EFI_ERROR(status));
        EXPECT_EQ(status == EFI_OUT_OF_RESOURCES, failure == EFI_OUT_OF_RESOURCES);
      }
    }
  }
  ZELM_SETTING_PROVIDER provider = FakeProvider("Test.Failing.0");
  EXPECT_EQ(SettingValueToText(&provider, FALSE, nullptr), EFI_INVALID_PARAMETER);
  CHAR8 *text = reinterpret_cast<CHAR8 *>(1);
  EXPECT_EQ(SettingValueToText(nullptr, FALSE, &text), EFI_INVALID_PARAMETER);
  EXPECT_EQ(text, nullptr);
}

// The authentication component's certificate description: it describes
// the certificates {1, 2} and {7}.
std::string certText;
EFI_STATUS certStatus = EFI_SUCCESS;
BOOLEAN certNoText = FALSE;  // succeeds without a text
CHAR8 certStale[] = "stale"; // left in the out value by a failing call
EFI_STATUS EFIAPI GetCertInfo(ZELM_AUTHENTICATION_PROTOCOL *, VOID *, const VOID *cert, UINTN size,
                              UINT32 s1, UINT32 s2, CHAR8 **text, UINTN *textSize) {
  const auto *bytes = static_cast<const UINT8 *>(cert);
  BOOLEAN known = (size == 2 && bytes[1] == 2) || (size == 1 && bytes[0] == 7);
  if (EFI_ERROR(certStatus) || !known || s1 != 2 || s2 != 3) {
    *text = certStale;
    return EFI_ERROR(certStatus) ? certStatus : EFI_INVALID_PARAMETER;
  }
  if (certNoText) {
    return EFI_SUCCESS;
  }
  VOID *buffer = nullptr;
  host::Firmware::Current()->BootServices()->AllocatePool(EfiBootServicesData, certText.size(),
                                                          &buffer);
  memcpy(buffer, certText.data(), certText.size()); // deliberately without a terminator
  *text = static_cast<CHAR8 *>(buffer);
  *textSize = certText.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI NoEnrolment(ZELM_AUTHENTICATION_PROTOCOL *, UINT8 *) {
  return EFI_DEVICE_ERROR;
}

TEST_F(ValueConversionTest, CertificatesAreDescribedByTheAuthenticationComponent) {
  ZELM_AUTHENTICATION_PROTOCOL auth = {};
  auth.GetEnrolledIdentities = NoEnrolment;
  auth.GetCertInfo = GetCertInfo;
  ASSERT_EQ(firmware->InstallProtocol(gZelmAuthenticationProtocolGuid, &auth), EFI_SUCCESS);
  certText = "CN=Owner";
  certStatus = EFI_SUCCESS;
  size_t live = firmware->BootPool().Stats().liveCount;
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {1, 2}), "CN=Owner");
  EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);    // the component's text was freed
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {7}), "CN=Owner"); // a one-byte certificate
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {8}), "No Cert information available");
  certNoText = TRUE;
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {1, 2}), "No Cert information available");
  certNoText = FALSE;
  certStatus = EFI_NOT_FOUND;
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {1, 2}), "No Cert information available");
  // A component out of pool could describe the certificate another time.
  certStatus = EFI_OUT_OF_RESOURCES;
  EXPECT_EQ(TextOf(ZELM_SETTING_TYPE_CERT, {1, 2}), "(none)");
  EXPECT_EQ(firmware->BootPool().Stats().liveCount, live); // and nothing was freed twice
}

// Each accepted text reaches the provider as exactly these bytes, and
// those bytes read back as the canonical text; every other text is refused
// and nothing is set.
TEST_F(ValueConversionTest, PacketTextsBecomeTheseStoredBytesAndBack) {
  host::Authentication &auth = firmware->InstallAuthentication();
  ZELM_AUTH_TOKEN token = auth.IssueToken(ZELM_IDENTITY_LOCAL);
  struct Row {
    UINT32 type;
    std::string text;
    EFI_STATUS status;
    std::vector<UINT8> bytes; // stored when accepted
    std::string back;         // text of the stored bytes; "" means the same text
  };
  const std::string longest(0x6000, 's');
  std::vector<UINT8> longestBytes(longest.begin(), longest.end());
  longestBytes.push_back(0);
  const std::string longestPassword = std::string(0x5FFE, 'a') + "eb";
  const std::vector<UINT8> longestPasswordBytes(0x2FFF, 0xAA);
  const std::vector<Row> rows = {
      {ZELM_SETTING_TYPE_ENABLE, "Enabled", EFI_SUCCESS, {1}, ""},
      {ZELM_SETTING_TYPE_ENABLE, "Disabled", EFI_SUCCESS, {0}, ""},
      {ZELM_SETTING_TYPE_ENABLE, "enabled", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_ENABLE, "", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, "KvOnly", EFI_SUCCESS, {0}, ""},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, "KvPlus3rdParty", EFI_SUCCESS, {1}, ""},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, "None", EFI_SUCCESS, {2}, ""},
      {ZELM_SETTING_TYPE_SECUREBOOTKEYS, "Custom", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_USBPORT, "UsbPortEnabled", EFI_SUCCESS, {0x00}, ""},
      {ZELM_SETTING_TYPE_USBPORT, "UsbPortHwDisabled", EFI_SUCCESS, {0xF0}, ""},
      {ZELM_SETTING_TYPE_USBPORT, "UsbPortDataDisabled", EFI_SUCCESS, {0xF1}, ""},
      {ZELM_SETTING_TYPE_USBPORT, "UnsupportedValue", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_PASSWORD, "0aeb", EFI_SUCCESS, {0x0A}, "System Password Set"},
      {ZELM_SETTING_TYPE_PASSWORD, "0AFFEB", EFI_SUCCESS, {0x0A, 0xFF}, "System Password Set"},
      {ZELM_SETTING_TYPE_PASSWORD, "00Eb", EFI_SUCCESS, {0x00}, "No System Password"},
      {ZELM_SETTING_TYPE_PASSWORD, "0a0eb", EFI_INVALID_PARAMETER, {}, ""}, // odd length
      {ZELM_SETTING_TYPE_PASSWORD, "0a0b", EFI_INVALID_PARAMETER, {}, ""},  // no suffix
      {ZELM_SETTING_TYPE_PASSWORD, "eb", EFI_INVALID_PARAMETER, {}, ""},    // too short
      {ZELM_SETTING_TYPE_PASSWORD, "0geb", EFI_INVALID_PARAMETER, {}, ""},  // not hexadecimal
      {ZELM_SETTING_TYPE_PASSWORD, "0aEB", EFI_SUCCESS, {0x0A}, "System Password Set"},
      {ZELM_SETTING_TYPE_PASSWORD, "0aeB", EFI_SUCCESS, {0x0A}, "System Password Set"},
      {ZELM_SETTING_TYPE_PASSWORD, "0abb", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_PASSWORD, "0aee", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_PASSWORD, longestPassword, EFI_SUCCESS, longestPasswordBytes,
       "System Password Set"}, // 0x6000 characters
      {ZELM_SETTING_TYPE_PASSWORD, "a" + longestPassword + "a", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_STRING, "", EFI_SUCCESS, {0}, ""},
      {ZELM_SETTING_TYPE_STRING, "a<b", EFI_SUCCESS, {'a', '<', 'b', 0}, ""},
      {ZELM_SETTING_TYPE_STRING, longest, EFI_SUCCESS, longestBytes, "(none)"}, // 0x6001 bytes
      {ZELM_SETTING_TYPE_STRING, std::string(0x6001, 's'), EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_BINARY, "YWJj", EFI_SUCCESS, {'a', 'b', 'c'}, ""},
      {ZELM_SETTING_TYPE_BINARY, "YW Jj", EFI_SUCCESS, {'a', 'b', 'c'}, "YWJj"},
      {ZELM_SETTING_TYPE_BINARY, "AP8=", EFI_SUCCESS, {0x00, 0xFF}, ""},
      {ZELM_SETTING_TYPE_BINARY, "", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_BINARY, "  ", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_CERT, "AQI=", EFI_SUCCESS, {1, 2}, "CN=Zelm Test Certificate"},
      {ZELM_SETTING_TYPE_CERT, "YWJ", EFI_INVALID_PARAMETER, {}, ""},
      {ZELM_SETTING_TYPE_CERT, "Y!Jj", EFI_INVALID_PARAMETER, {}, ""},
      {1, "Enabled", EFI_INVALID_PARAMETER, {}, ""},
      {8, "Enabled", EFI_INVALID_PARAMETER, {}, ""},
  };
  const std::vector<UINT8> untouched = {0xEE, 0xEE};
  int n = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text.substr(0, 40));
    ids_.push_back("Test.Text." + std::to_string(n++));
    FakeValues()[ids_.back()].bytes = untouched;
    ASSERT_EQ(Register(FakeProvider(ids_.back().c_str(), row.type)), EFI_SUCCESS);
    ZELM_SETTING_PROVIDER provider = FakeProvider(ids_.back().c_str(), row.type);
    UINT64 flags = 0;
    size_t live = firmware->BootPool().Stats().liveCount;
    EXPECT_EQ(SetSettingFromText(&provider, row.text.c_str(), &token, &flags), row.status);
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live); // temporary buffers freed
    if (EFI_ERROR(row.status)) {
      EXPECT_EQ(FakeValues()[ids_.back()].bytes, untouched);
      continue;
    }
    EXPECT_EQ(FakeValues()[ids_.back()].bytes, row.bytes);
    if (row.type == ZELM_SETTING_TYPE_PASSWORD) {
      FakeValues()[ids_.back()].bytes = {static_cast<UINT8>(row.bytes[0] != 0)};
    }
    EXPECT_EQ(Shown(provider), row.back.empty() ? row.text : row.back);
  }
  ZELM_SETTING_PROVIDER provider = FakeProvider("Test.Text.0");
  UINT64 flags = 0;
  EXPECT_EQ(SetSettingFromText(nullptr, "Enabled", &token, &flags), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetSettingFromText(&provider, nullptr, &token, &flags), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetSettingFromText(&provider, "Disabled", nullptr, &flags), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SetSettingFromText(&provider, "Disabled", &token, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FakeValues()["Test.Text.0"].bytes, std::vector<UINT8>{1}); // still "Enabled"
  // No pool for the decoded bytes: nothing is set.
  const struct {
    const char *id;
    UINT32 type;
    const char *text;
  } unallocated[] = {
      {"Test.NoPool.Binary", ZELM_SETTING_TYPE_BINARY, "YWJj"},
      {"Test.NoPool.Password", ZELM_SETTING_TYPE_PASSWORD, "0AFFEB"},
  };
  for (const auto &row : unallocated) {
    SCOPED_TRACE(row.text);
    FakeValues()[row.id].bytes = untouched;
    ZELM_SETTING_PROVIDER p = FakeProvider(row.id, row.type);
    ASSERT_EQ(Register(p), EFI_SUCCESS);
    size_t live = firmware->BootPool().Stats().liveCount;
    firmware->BootPool().FailNth(1);
    EXPECT_EQ(SetSettingFromText(&p, row.text, &token, &flags), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(FakeValues()[row.id].bytes, untouched);
    EXPECT_EQ(firmware->BootPool().Stats().liveCount, live);
  }
}

// Without the authentication component nothing can be changed yet.
TEST_F(ValueConversionTest, AcceptedTextsWaitForThePermissionStore) {
  ids_.push_back("Test.Waiting");
  FakeValues()[ids_.back()].bytes = {0};
  ASSERT_EQ(Register(FakeProvider(ids_.back().c_str())), EFI_SUCCESS);
  ZELM_SETTING_PROVIDER provider = FakeProvider(ids_.back().c_str());
  ZELM_AUTH_TOKEN token = 1;
  UINT64 flags = 0;
  EXPECT_EQ(SetSettingFromText(&provider, "Enabled", &token, &flags), EFI_NOT_READY);
  EXPECT_EQ(FakeValues()[ids_.back()].bytes, std::vector<UINT8>{0});
}

} // namespace
