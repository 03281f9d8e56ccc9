// The simulator's store directory: the platform's non-volatile variables
// and which identities are enrolled ("store.bin", replaced atomically), the
// packet history ("history.log") and the keys (kept by the authentication
// component under "keys/").
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_STORE_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_STORE_H_

#include <zelm/ZelmAuthentication.h>

#include <string>

#include "host/HostPlatform.h"

namespace sim {

class SimStore {
public:
  explicit SimStore(std::string dir) : dir_(std::move(dir)) {}

  const std::string &Dir() const { return dir_; }

  // Creates the directory when missing and loads what it holds into
  // Platform. FALSE with *Error naming the problem (the store is then left
  // exactly as it was: a corrupt file is never overwritten).
  bool Open(host::Platform &platform, std::string *error);

  // Writes the variables and the enrolment (a temporary file, then a
  // rename). FALSE with *Error on failure.
  bool Save(const host::Platform &platform, std::string *error) const;

  // Appends one line to the history.
  void AppendHistory(const std::string &line) const;
  std::string History() const;

private:
  std::string Path(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// Writes Bytes to Path through a temporary file and a rename.
bool WriteFileAtomically(const std::string &path, const std::string &bytes);
// The whole file, or FALSE.
bool ReadFile(const std::string &path, std::string *bytes);

} // namespace sim

#endif
