// Every file the simulator reads or keeps goes through here: whole-file
// reads of regular files only, and one writer that replaces a file through
// a temporary file of a unique name, flushed to disk before the rename, so
// an interrupted run leaves the old file or the new one and two runs never
// write the same temporary file.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_FILES_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_FILES_H_

#include <sys/types.h>

#include <string>

namespace sim {

// Files the simulator reads are at most this large; a packet file beyond
// it is no packet any driver would take.
constexpr size_t kMaxFileSize = 64u << 20;

// The whole of the regular file Path. FALSE with *Error naming the problem
// when it is missing, not a regular file (a directory, a device, a dangling
// link), unreadable or above kMaxFileSize. Without FollowLink a symbolic
// link named as Path is refused as well. MaxSize lowers the limit.
bool ReadFile(const std::string &path, std::string *bytes, std::string *error,
              bool followLink = true, size_t maxSize = kMaxFileSize);

enum class Written { Done, AlreadyThere, Failed };

// Writes Bytes as Path with Mode: a temporary file beside it (mkstemp),
// written whole and fsync'd, then renamed over Path and the directory
// synced. With Replace false an existing Path is kept (AlreadyThere): the
// file another run made first wins. Failed sets *Error; Path is untouched
// and no temporary file stays behind.
Written WriteFile(const std::string &path, const std::string &bytes, mode_t mode, bool replace,
                  std::string *error);

// WriteFile with Replace, mode 0644; TRUE when written.
bool ReplaceFile(const std::string &path, const std::string &bytes, std::string *error);

} // namespace sim

#endif
