// Why a signer may or may not change a setting, told from the published
// documents with the driver's permission rule. The verdict itself always
// comes from the driver; this only explains it, and says so when the
// documents do not match it.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_WHY_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_WHY_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/zelm-sim/SimXml.h"

namespace sim {

struct PermissionEntry {
  std::string id;
  unsigned pMask = 0;
  unsigned dMask = 0;
};

// A CurrentPermissionsPacket: the defaults and the entries in their order.
struct PublishedPermissions {
  unsigned defaultPMask = 0;
  unsigned defaultDMask = 0;
  std::vector<PermissionEntry> entries;

  // The first entry of Id (the one the driver finds), or NULL.
  const PermissionEntry *Find(const std::string &id) const;
};

// The groups as the driver formed them, in its group order, each with its
// members in member order.
using GroupTable = std::vector<std::pair<std::string, std::vector<std::string>>>;

// The permissions of a CurrentPermissionsPacket document; empty when it is
// none.
std::optional<PublishedPermissions> ReadPermissions(const std::string &document);

struct Explanation {
  bool allowed = false; // what the documents say
  std::string rule;     // which entry decides, and how
};

// The permission rule over the published permissions: every group that
// lists Id and has an entry must share a bit with Identity (the first that
// does not refuses); when one or more such groups exist and none refuses,
// Id is allowed without looking at its own entry; otherwise its own entry,
// or the default PMask, decides.
Explanation ExplainSetting(const PublishedPermissions &permissions, const GroupTable &groups,
                           const std::string &id, unsigned identity);

// The members of group Id, or NULL when Id is no group.
const std::vector<std::string> *GroupMembers(const GroupTable &groups, const std::string &id);

} // namespace sim

#endif
