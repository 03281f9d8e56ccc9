#include "tools/zelm-sim/SimFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sim {

namespace {

std::string SystemError(const std::string &what, const std::string &path, int code) {
  return what + " " + path + ": " + std::strerror(code);
}

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// A rename is durable once the directory holding it is; a file system that
// cannot sync a directory loses nothing by the attempt.
void SyncDirectoryOf(const std::string &path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

} // namespace

bool ReadFile(const std::string &path, std::string *bytes, std::string *error, bool followLink,
              size_t maxSize) {
  // Non-blocking: a FIFO named as a file does not hang the run.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    int code = errno;
    *error = code == ELOOP ? path + " is a symbolic link, not a file"
                           : SystemError("cannot read", path, code);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? "cannot read " + path + ": it is a directory"
                                   : "cannot read " + path + ": not a regular file";
    ::close(fd);
    return false;
  }
  if (static_cast<unsigned long long>(info.st_size) > maxSize) {
    *error = "cannot read " + path + ": larger than " + std::to_string(maxSize) + " bytes";
    ::close(fd);
    return false;
  }
  std::string content;
  content.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n > 0) {
      content.append(buffer, static_cast<size_t>(n));
      if (content.size() > maxSize) {
        *error = "cannot read " + path + ": larger than " + std::to_string(maxSize) + " bytes";
        ::close(fd);
        return false;
      }
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      *error = SystemError("cannot read", path, errno);
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  *bytes = std::move(content);
  return true;
}

Written WriteFile(const std::string &path, const std::string &bytes, mode_t mode, bool replace,
                  std::string *error) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *error = SystemError("cannot create a file beside", path, errno);
    return Written::Failed;
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int code = errno;
  if (::close(fd) != 0 && ok) {
    code = errno;
    ok = false;
  }
  if (!ok) {
    *error = SystemError("cannot write", temp, code);
    ::unlink(temp.c_str());
    return Written::Failed;
  }
  int moved = replace
                  ? ::rename(temp.c_str(), path.c_str())
                  : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
  bool linked = false;
  if (moved != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without no-replace renames: a hard link refuses an
    // existing name the same way.
    moved = ::link(temp.c_str(), path.c_str());
    linked = true;
  }
  code = errno;
  // After a rename the temporary name is gone; after a link or a failure
  // it must not stay behind.
  if (moved != 0 || linked) {
    ::unlink(temp.c_str());
  }
  if (moved != 0 && code == EEXIST && !replace) {
    return Written::AlreadyThere;
  }
  if (moved != 0) {
    *error = SystemError("cannot rename into", path, code);
    return Written::Failed;
  }
  SyncDirectoryOf(path);
  return Written::Done;
}

bool ReplaceFile(const std::string &path, const std::string &bytes, std::string *error) {
  return WriteFile(path, bytes, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, true, error) ==
         Written::Done;
}

} // namespace sim
