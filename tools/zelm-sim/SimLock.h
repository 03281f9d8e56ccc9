// The lock on a store directory: one command that can write holds it
// exclusively from reading the store to the last file it writes, commands
// that only read share it. A POSIX record lock on DIR/lock, so the kernel
// drops it when a run ends in any way and can name the process holding it.
#ifndef ZELM_TOOLS_ZELM_SIM_SIM_LOCK_H_
#define ZELM_TOOLS_ZELM_SIM_SIM_LOCK_H_

#include <string>

namespace sim {

enum class LockMode { Shared, Exclusive };

class StoreLock {
public:
  StoreLock() = default;
  ~StoreLock();
  StoreLock(const StoreLock &) = delete;
  StoreLock &operator=(const StoreLock &) = delete;

  // Locks Dir (which must exist). With Wait the run waits for the holder,
  // saying so once on stderr; without it a held lock fails at once. FALSE
  // with *Error naming the holder or the problem.
  bool Acquire(const std::string &dir, LockMode mode, bool wait, std::string *error);
  void Release();
  bool Held() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

} // namespace sim

#endif
