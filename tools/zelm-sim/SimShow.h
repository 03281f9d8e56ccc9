// How the simulator shows variables: XML indented for reading, result
// variables decoded, anything else as a hex dump.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_SHOW_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_SHOW_H_

#include <string>
#include <vector>

#include <uefi/UefiBaseType.h>

namespace sim {

// One element per line, children indented by two spaces.
std::string IndentXml(const std::string &xml);
std::string HexDump(const std::vector<UINT8> &bytes);
// The variable's content for a reader.
std::string ShowVariable(const std::vector<UINT8> &bytes);
std::string GuidText(const EFI_GUID &guid);

} // namespace sim

#endif
