#include "tests/identity/DeviceIdentifierTestSupport.h"

#include <zelm/ZelmGuids.h>

namespace deviceidtest {

std::string Document(const Values &values) {
  static const char *const kNames[] = {"Manufacturer", "Product Name", "Serial Number"};
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><UEFIDeviceIdentifierPacket>"
                    "<Identifiers>";
  for (size_t i = 0; i < values.size(); i++) {
    out += std::string("<Identifier><Id>") + kNames[i] + "</Id>";
    out += values[i].empty() ? "<Value />" : "<Value>" + values[i] + "</Value>";
    out += "</Identifier>";
  }
  out += "</Identifiers><ZelmVersion>2</ZelmVersion></UEFIDeviceIdentifierPacket>";
  out.push_back('\0');
  return out;
}

std::vector<UINT8> SystemInfoFields(UINT8 manufacturer, UINT8 product, UINT8 serial) {
  std::vector<UINT8> fields(0x1B - 4, 0);
  fields[0] = manufacturer;
  fields[1] = product;
  fields[3] = serial;
  fields[0x18 - 4] = 6; // wake-up type: power switch
  return fields;
}

std::vector<UINT8> RawStructure(UINT8 type, UINT8 length, UINT16 handle,
                                const std::vector<UINT8> &formatted, std::string_view set) {
  std::vector<UINT8> bytes{type, length, static_cast<UINT8>(handle & 0xFF),
                           static_cast<UINT8>(handle >> 8)};
  bytes.insert(bytes.end(), formatted.begin(), formatted.end());
  bytes.insert(bytes.end(), set.begin(), set.end());
  return bytes;
}

void DeviceIdTest::SetUp() {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  platform.ClearSetVariableLog();
}

void DeviceIdTest::AddSystemInfo(const std::string &manufacturer, const std::string &product,
                                 const std::string &serial) {
  platform.AddSmbiosRecord(1, SystemInfoFields(1, 2, 3), {manufacturer, product, serial});
}

void DeviceIdTest::PutOld(UINT32 attributes) {
  platform.PutVariable(u"ZelmDeviceIdentifier", gZelmDeviceIdentifierVariableGuid, attributes,
                       kOldDocument);
}

std::optional<std::string> DeviceIdTest::Stored() const {
  const host::Variable *variable = Variable();
  if (variable == nullptr) {
    return std::nullopt;
  }
  return std::string(variable->data.begin(), variable->data.end());
}

const host::Variable *DeviceIdTest::Variable() const {
  return platform.FindVariable(u"ZelmDeviceIdentifier", gZelmDeviceIdentifierVariableGuid);
}

} // namespace deviceidtest
