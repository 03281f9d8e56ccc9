#include "host/TypicalMachine.h"

#include <platform/PlatformGuids.h>

#include <vector>

namespace host {

void AddSetupBlock(Platform &platform) {
  std::vector<UINT8> setup(0x100, 0);
  setup[0x64] = 10;
  setup[0x6F] = 1;
  setup[0x80] = 4;
  platform.PutVariable(u"Setup", gPlatformSetupVariableGuid, 7, setup);
}

void AddSystemInformation(Platform &platform, const std::string &manufacturer,
                          const std::string &product, const std::string &serial) {
  // Strings 1, 2 and 4 (version unset): manufacturer, product, serial.
  std::vector<UINT8> formatted = {1, 2, 0, 3};
  formatted.resize(0x1B - 4, 0);
  platform.AddSmbiosRecord(1, formatted, {manufacturer, product, serial});
}

} // namespace host
