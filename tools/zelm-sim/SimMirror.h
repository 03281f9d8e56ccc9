// A simulator store that decides as a real machine does, built from what
// the machine publishes for its operating system: the permissions from
// "ZelmPermissionCurrent", the settings and their version floor from
// "ZelmSettingsCurrent", the device from "ZelmDeviceIdentifier". What the
// operating system cannot see (the enrolled keys, the permissions-packet
// floor, published as 0) is given by the caller.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_MIRROR_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_MIRROR_H_

#include <string>
#include <utility>
#include <vector>

#include "host/HostPlatform.h"
#include "tools/zelm-sim/SimKeys.h"
#include "tools/zelm-sim/SimWhy.h"

namespace sim {

struct MachineState {
  std::string dir;
  PublishedPermissions permissions;
  std::vector<std::pair<std::string, std::string>> settings; // in published order
  UINT32 settingsFloor = 0;                                  // "LSV"
  // (Id, Value) of the device identifier, in published order; empty when
  // the machine publishes none.
  std::vector<std::pair<std::string, std::string>> device;
};

// Reads the published variables of the efivarfs directory Dir with the
// driver's rules: each must have attributes 7 and parse whole; an entry the
// driver would not load (an id that is empty, begins with a digit or is
// over 96 characters, a mask that is no decimal byte) is refused, named.
// "ZelmPermissionCurrent" and "ZelmSettingsCurrent" are needed. FALSE
// with a one-line *Error.
bool ReadMachine(const std::string &dir, MachineState *machine, std::string *error);

struct MirrorOptions {
  UINT8 enrolled = 0;          // ZELM_IDENTITY_OWNER, ZELM_IDENTITY_ZERO_TOUCH
  UINT32 permissionsFloor = 0; // the permission store's LowestSupportedVersion
};

struct MirrorReport {
  std::vector<std::string> standIns; // settings of other drivers
  // Settings the simulator provides that the machine does not publish (its
  // provider gave no value there, or it has none): the mirror decides them
  // from the simulator's value, which the machine may not share.
  std::vector<std::string> unpublished;
  std::vector<std::string> notes; // what could not be mirrored, and why
};

// Makes Platform (fresh) the machine's: the driver's providers set to the
// published values, a stand-in for each setting of another driver, "_SPP"
// and "_SMID" as the published documents and the options say, the device's
// SMBIOS strings. The published documents themselves are left for the
// next boot to write. FALSE with *Error when a value is refused by its
// provider or the permissions do not fit the driver's store.
bool BuildMirror(const MachineState &machine, const MirrorOptions &options,
                 host::Platform &platform, KeyStore &keys, MirrorReport *report,
                 std::string *error);

} // namespace sim

#endif
