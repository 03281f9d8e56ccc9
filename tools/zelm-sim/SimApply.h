// Applying one packet as the transport does, and what the user sees of it.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_APPLY_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_APPLY_H_

#include <zelm/ZelmApplyPacket.h>

#include <string>
#include <vector>

#include "host/Transport.h"
#include "tools/zelm-sim/SimBoot.h"

namespace sim {

struct ApplyOptions {
  host::PacketKind kind = host::PacketKind::Settings;
  UINT32 sessionId = 0;
  bool noAppend = false;
};

struct ApplyOutcome {
  UINT32 state = 0;
  EFI_STATUS status = EFI_SUCCESS;
  bool resetRequired = false;
  std::string result; // the ResultsPacket text, or empty
  // Per element: id and result text ("0x0" when it succeeded).
  std::vector<std::pair<std::string, std::string>> elements;

  bool Applied() const { return state == ZELM_PACKET_STATE_APPLIED && !EFI_ERROR(status); }
  bool AnyElementFailed() const;
};

// Delivers Packet through the mailbox variable and runs the apply protocol
// of its kind in Boot (permissions: ApplyPacket, ReportResult, then
// CompletePacket 2 when ApplyPacket succeeded, 1 otherwise). The result
// text is read back from the result variable, as the transport does; the
// elements are left to ReadElements.
ApplyOutcome ApplyPacket(SimBoot &boot, std::vector<UINT8> packet, const ApplyOptions &options);

// Fills Outcome's elements from its ResultsPacket with the project's XML
// parser. Call it once the boot has ended.
void ReadElements(ApplyOutcome *outcome);

// Status text as packets write it: "0x" and upper-case hexadecimal digits.
std::string StatusHex(EFI_STATUS status);
// A readable name for a status ("Access Denied").
std::string StatusName(EFI_STATUS status);

// The outcome as one JSON object; Extra (", \"key\": value...") is added
// before its closing brace.
std::string OutcomeJson(const ApplyOutcome &outcome, const std::string &extra = "");

// Text as the inside of a JSON string.
std::string JsonEscape(const std::string &text);

} // namespace sim

#endif
