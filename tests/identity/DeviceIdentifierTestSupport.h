// A booted driver with SMBIOS structures made by hand, and the documents
// "ZelmDeviceIdentifier" must hold.
#ifndef ZELM_TESTS_IDENTITY_DEVICE_IDENTIFIER_TEST_SUPPORT_H_
#define ZELM_TESTS_IDENTITY_DEVICE_IDENTIFIER_TEST_SUPPORT_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/driver/DriverTestSupport.h"

namespace deviceidtest {

// Manufacturer, product name, serial number as written in the document
// (already escaped); "" stands for an empty element.
using Values = std::array<std::string, 3>;

// The exact variable content for Values: the text and its NUL.
std::string Document(const Values &values);

// The formatted area after the header of a System Information structure
// of 0x1B bytes in all, with these string numbers (version, SKU and family
// name no string).
std::vector<UINT8> SystemInfoFields(UINT8 manufacturer, UINT8 product, UINT8 serial);

// A structure as given: the header (Type, Length, Handle), Formatted, then
// the bytes of the string set exactly as Set holds them.
std::vector<UINT8> RawStructure(UINT8 type, UINT8 length, UINT16 handle,
                                const std::vector<UINT8> &formatted, std::string_view set);

// The content of "ZelmDeviceIdentifier" before a publication.
inline const std::string kOldDocument = std::string("earlier identifier") + '\0';

class DeviceIdTest : public drivertest::DriverTest {
protected:
  void SetUp() override;
  // A System Information structure whose strings are numbered 1, 2, 3.
  void AddSystemInfo(const std::string &manufacturer, const std::string &product,
                     const std::string &serial);
  // Stores kOldDocument with Attributes.
  void PutOld(UINT32 attributes = 7);
  // The variable's bytes, or nothing when it does not exist.
  std::optional<std::string> Stored() const;
  const host::Variable *Variable() const;
};

} // namespace deviceidtest

#endif
