#include "tools/zelm-sim/SimLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/zelm-sim/SimFiles.h"

namespace sim {

namespace {

// "process N (its command line)", as far as the system tells.
std::string Holder(pid_t pid) {
  std::string text = "process " + std::to_string(pid);
  std::string cmdline;
  std::string ignored;
  if (pid > 0 && ReadFile("/proc/" + std::to_string(pid) + "/cmdline", &cmdline, &ignored) &&
      !cmdline.empty()) {
    std::string shown;
    for (char c : cmdline) {
      shown.push_back(c == '\0' ? ' ' : (c >= 0x20 && c < 0x7F ? c : '?'));
    }
    while (!shown.empty() && shown.back() == ' ') {
      shown.pop_back();
    }
    if (shown.size() > 200) {
      shown = shown.substr(0, 200) + "...";
    }
    text += " (" + shown + ")";
  }
  return text;
}

struct flock Request(LockMode mode) {
  struct flock request {};
  request.l_type = mode == LockMode::Exclusive ? F_WRLCK : F_RDLCK;
  request.l_whence = SEEK_SET;
  request.l_start = 0;
  request.l_len = 0;
  return request;
}

} // namespace

StoreLock::~StoreLock() {
  Release();
}

void StoreLock::Release() {
  if (fd_ >= 0) {
    // Closing the descriptor drops the process's locks on the file.
    ::close(fd_);
    fd_ = -1;
  }
}

bool StoreLock::Acquire(const std::string &dir, LockMode mode, bool wait, std::string *error) {
  Release();
  const std::string path = dir + "/lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && mode == LockMode::Shared && errno == EACCES) {
    // A store only readable to us can still be read under a shared lock.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0) {
    *error = "cannot open the lock " + path + ": " + std::strerror(errno);
    return false;
  }
  for (;;) {
    struct flock request = Request(mode);
    if (::fcntl(fd, F_SETLK, &request) == 0) {
      fd_ = fd;
      return true;
    }
    if (errno != EACCES && errno != EAGAIN) {
      *error = "cannot lock " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    struct flock holder = Request(mode);
    if (::fcntl(fd, F_GETLK, &holder) != 0) {
      holder.l_type = F_WRLCK;
      holder.l_pid = 0;
    }
    if (holder.l_type == F_UNLCK) {
      continue; // released in between
    }
    const std::string who = holder.l_pid > 0 ? Holder(holder.l_pid) : "another run";
    if (!wait) {
      *error = "the store " + dir + " is in use by " + who + " (--no-wait given)";
      ::close(fd);
      return false;
    }
    std::fprintf(stderr, "zelm-sim: waiting for the store %s, in use by %s\n", dir.c_str(),
                 who.c_str());
    request = Request(mode);
    int rc = 0;
    do {
      rc = ::fcntl(fd, F_SETLKW, &request);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
      fd_ = fd;
      return true;
    }
    *error = "cannot lock " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
}

} // namespace sim
