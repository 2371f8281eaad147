// Text files for the logs: opened for appending (O_APPEND, so concurrent writers never tear
// each other's lines), written one whole buffer at a time, failures as runtime error numbers.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

namespace {

Long OpenError(int error) {
  switch (error) {
    case ENOENT: case ENOTDIR: case ELOOP: return rt::kPathNotFound;
    case EACCES: case EPERM: return rt::kPermissionDenied;
    case ENOSPC: case EDQUOT: return rt::kDiskFull;
    case ENAMETOOLONG: return rt::kBadFileName;
    default: return rt::kPathFileAccessError;  // EISDIR, EROFS, ETXTBSY, ...
  }
}

Long WriteError(int error) {
  switch (error) {
    case ENOSPC: case EDQUOT: case EFBIG: return rt::kDiskFull;
    case EACCES: case EPERM: return rt::kPermissionDenied;
    case EBADF: return rt::kBadFileName;
    default: return rt::kPathFileAccessError;
  }
}

// Handles are the descriptors, but only those opened here are honoured, so a stale or
// made-up handle can never write to some other file of the process. One bit per descriptor:
// a log line opens and closes a file, and this must not allocate each time.
struct OpenFiles {
  std::mutex mutex;
  std::vector<bool> fds;

  bool Contains(FileHandle file) {
    std::lock_guard lock(mutex);
    return file >= 0 && static_cast<std::size_t>(file) < fds.size() && fds[static_cast<std::size_t>(file)];
  }
  void Insert(int fd) {
    if (static_cast<std::size_t>(fd) >= fds.size()) fds.resize(static_cast<std::size_t>(fd) * 2 + 64);
    fds[static_cast<std::size_t>(fd)] = true;
  }
  bool Erase(FileHandle file) {
    if (file < 0 || static_cast<std::size_t>(file) >= fds.size() || !fds[static_cast<std::size_t>(file)]) return false;
    fds[static_cast<std::size_t>(file)] = false;
    return true;
  }
};

OpenFiles& Files() {
  static OpenFiles* files = new OpenFiles;
  return *files;
}

}  // namespace

Long PosixPlatform::OpenTextFile(const String& path, bool truncate, FileHandle& file) {
  if (path.empty() || path.find(u'\0') != String::npos) return rt::kBadFileName;
  const std::string& native = NativePath(path);
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | (truncate ? O_TRUNC : 0);
  int fd;
  do {
    fd = ::open(native.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenError(errno);
  OpenFiles& files = Files();
  std::lock_guard lock(files.mutex);
  files.Insert(fd);
  file = fd;
  return 0;
}

Long PosixPlatform::WriteTextFile(FileHandle file, const std::string& ansiBytes) {
  if (!Files().Contains(file)) return rt::kBadFileName;
  const int fd = static_cast<int>(file);
  std::size_t done = 0;
  while (done < ansiBytes.size()) {
    const ssize_t n = ::write(fd, ansiBytes.data() + done, ansiBytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WriteError(errno);
    }
    if (n == 0) return rt::kDiskFull;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

void PosixPlatform::CloseTextFile(FileHandle file) {
  OpenFiles& files = Files();
  {
    std::lock_guard lock(files.mutex);
    if (!files.Erase(file)) return;
  }
  ::close(static_cast<int>(file));
}

}  // namespace vx380::posix
