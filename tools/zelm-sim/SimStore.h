// The simulator's store directory: the platform's non-volatile variables
// and which identities are enrolled ("store.bin", one file replaced at
// once and checked by its SHA-256), the packet history ("history.log"),
// the keys (kept by the key store under "keys/") and the lock ("lock").
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_STORE_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_STORE_H_

#include <zelm/ZelmAuthentication.h>

#include <string>

#include "host/HostPlatform.h"
#include "tools/zelm-sim/SimLock.h"

namespace sim {

class SimStore {
public:
  explicit SimStore(std::string dir) : dir_(std::move(dir)) {}

  const std::string &Dir() const { return dir_; }

  // Creates the directory when missing, locks it (Mode, for as long as the
  // store lives) and loads what it holds into Platform. FALSE with *Error
  // naming the problem; the store is then left exactly as it was: a corrupt
  // file is never overwritten.
  bool Open(host::Platform &platform, LockMode mode, bool wait, std::string *error);

  // Writes the variables and the enrolment as one file. Needs the store
  // opened exclusively. FALSE with *Error on failure.
  bool Save(const host::Platform &platform, std::string *error) const;

  // Adds one line to the history (the whole file replaced). Every field
  // is escaped (EscapeHistoryField) by the caller.
  bool AppendHistory(const std::string &line, std::string *error) const;
  bool History(std::string *text, std::string *error) const;

private:
  std::string Path(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
  StoreLock lock_;
  bool exclusive_ = false;
};

// Text from a packet or a result, made safe for one field of a history
// line: bytes outside printable ASCII and the separators (space, '=', '/',
// '%') are written as %XX, so no field can start a line or a field.
std::string EscapeHistoryField(const std::string &text);

} // namespace sim

#endif
