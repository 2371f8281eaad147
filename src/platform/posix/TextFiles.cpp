// Text files for the logs: opened for appending (O_APPEND, so concurrent writers never tear
// each other's lines), written one whole buffer at a time, failures as runtime error numbers.
//
// A thread keeps the descriptor of the last log it closed, and takes it again for the same
// path while a no-follow look at the path still finds that very file: a log line then costs a
// look and a write instead of an open, a check, a write and a close. A file renamed, replaced
// or made a link meanwhile is opened afresh, with every check; so is a log to be emptied.
//
// A log may sit in a folder other users can write (such as /tmp): there it is never reached
// through a symbolic link and never another user's file, and what is made there is for the
// user only. No open waits: a FIFO, a socket or anything but a regular file or a character
// device is an error at once. No log is made in the root folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

namespace {

Long OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return rt::kPathNotFound;
    case EACCES:
    case EPERM:
      return rt::kPermissionDenied;
    case ENOSPC:
    case EDQUOT:
      return rt::kDiskFull;
    case ENAMETOOLONG:
      return rt::kBadFileName;
    default:
      return rt::kPathFileAccessError;  // EISDIR, EROFS, ETXTBSY, ...
  }
}

Long WriteError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return rt::kDiskFull;
    case EACCES:
    case EPERM:
      return rt::kPermissionDenied;
    case EBADF:
      return rt::kBadFileName;
    default:
      return rt::kPathFileAccessError;
  }
}

constexpr int kLogFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder where someone else may put things: writable by group or others (so also /tmp), or
// another user's own.
bool OthersCanWrite(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (st.st_uid != ::geteuid() && st.st_uid != 0);
}

// Whether `owner` is the process's user. The effective uid is kept from the last look: a log
// is opened for every line, and a uid the process had before is never an attacker's.
bool Ours(uid_t owner) {
  static std::atomic<uid_t> known{::geteuid()};
  if (owner == known.load(std::memory_order_relaxed)) return true;
  const uid_t now = ::geteuid();
  known.store(now, std::memory_order_relaxed);
  return owner == now;
}

bool InRootFolder(const std::string& path) { return path.find_last_of('/') == 0; }

bool OthersThing(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && (S_ISLNK(st.st_mode) || !Ours(st.st_uid));
}

// The descriptor is a log we may write: a regular file or a character device, in a folder
// others can write only our own. Clears O_NONBLOCK where it matters (devices).
Long CheckOpened(int fd, const std::string& path, bool truncate) {
  // Only type and owner: asking for the times would make the file system keep finer ones,
  // at a cost on every later write.
  struct statx st {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_UID, &st) != 0) return OpenError(errno);
  if (!S_ISREG(st.stx_mode) && !S_ISCHR(st.stx_mode)) return rt::kPathFileAccessError;
  if (!Ours(st.stx_uid) && OthersCanWrite(Folder(path))) return rt::kPermissionDenied;
  if (S_ISCHR(st.stx_mode)) return ::fcntl(fd, F_SETFL, O_APPEND) == 0 ? 0 : OpenError(errno);  // writes may wait
  if (truncate && ::ftruncate(fd, 0) != 0) return WriteError(errno);
  return 0;
}

// Opens without following a final symbolic link, and makes a missing file with O_EXCL, so
// that what was checked is what gets written; a link is followed only outside shared folders.
int OpenUnchecked(const std::string& path, int& error) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = OpenRetrying(path.c_str(), kLogFlags | O_NOFOLLOW);
    if (fd >= 0) return fd;
    error = errno;
    if (error == ELOOP) {
      if (OthersCanWrite(Folder(path))) {
        error = EACCES;
        return -1;
      }
      fd = OpenRetrying(path.c_str(), kLogFlags | O_CREAT, 0666);
      if (fd < 0) error = errno;
      return fd;
    }
    if (error != ENOENT) {
      if (OthersCanWrite(Folder(path)) && OthersThing(path)) error = EACCES;
      return -1;
    }
    const mode_t mode = OthersCanWrite(Folder(path)) ? 0600 : 0666;
    fd = OpenRetrying(path.c_str(), kLogFlags | O_NOFOLLOW | O_CREAT | O_EXCL, mode);
    if (fd >= 0) return fd;
    error = errno;
    if (error != EEXIST) return -1;
    // Someone made it meanwhile: look again.
  }
  return -1;
}

Long OpenLog(const std::string& path, bool truncate, int& fd) {
  if (InRootFolder(path)) return rt::kPathNotFound;  // a log without a folder of its own
  int error = 0;
  fd = OpenUnchecked(path, error);
  if (fd < 0) return OpenError(error);
  if (const Long rc = CheckOpened(fd, path, truncate)) {
    ::close(fd);
    fd = -1;
    return rc;
  }
  return 0;
}

// Handles are the descriptors, but only those opened here are honoured, so a stale or
// made-up handle can never write to some other file of the process. One bit per descriptor:
// a log line opens and closes a file, and this must not allocate each time.
struct OpenFiles {
  std::mutex mutex;
  std::vector<bool> fds;
  std::vector<bool> kept;  // a thread keeps it open for its next line: only that thread closes it

  bool Kept(int fd) const { return static_cast<std::size_t>(fd) < kept.size() && kept[static_cast<std::size_t>(fd)]; }
  void SetKept(int fd, bool on) {
    if (static_cast<std::size_t>(fd) >= kept.size()) kept.resize(static_cast<std::size_t>(fd) * 2 + 64);
    kept[static_cast<std::size_t>(fd)] = on;
  }

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

// ---- the thread's kept log ----

// The identity of a regular file, asked without its times: a look at the times makes the file
// system keep finer ones, and every later write then pays for updating them.
bool StatRegularFile(int dirfd, const char* path, int flags, dev_t& dev, ino_t& ino) {
  struct statx st {};
  if (::statx(dirfd, path, flags, STATX_TYPE | STATX_INO, &st) != 0 || !S_ISREG(st.stx_mode)) return false;
  dev = makedev(st.stx_dev_major, st.stx_dev_minor);
  ino = static_cast<ino_t>(st.stx_ino);
  return true;
}

bool IsRegularFile(int dirfd, const char* path, int flags, dev_t dev, ino_t ino) {
  dev_t seenDev = 0;
  ino_t seenIno = 0;
  return StatRegularFile(dirfd, path, flags, seenDev, seenIno) && seenDev == dev && seenIno == ino;
}

std::atomic<unsigned> g_forkGeneration{0};

// Trivially destructible, so that it stays usable until the thread's very end; the closer
// below closes the descriptor when the thread ends, after which nothing is kept.
struct KeptLog {
  std::string* path = nullptr;  // owned; null while nothing is kept
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  unsigned generation = 0;
  bool lent = false;  // handed out by OpenTextFile and not closed yet
  bool gone = false;  // the thread is ending
};
thread_local KeptLog t_kept;

// Closes what the thread keeps, unless another thread closed its handle meanwhile.
void Forget(KeptLog& kept) {
  if (kept.fd >= 0) {
    OpenFiles& files = Files();
    std::lock_guard lock(files.mutex);
    if (files.Kept(kept.fd)) files.SetKept(kept.fd, false), ::close(kept.fd);
  }
  delete kept.path;
  kept = KeptLog{nullptr, -1, 0, 0, 0, false, kept.gone};
}

struct KeptLogCloser {
  void Arm() {}
  ~KeptLogCloser() {
    Forget(t_kept);
    t_kept.gone = true;
  }
};
thread_local KeptLogCloser t_keptCloser;

// The kept descriptor, counted among the open files, when it is for `path` and the path still
// names its file; else none, and what was kept for another path, process or file is closed.
int TakeKept(const std::string& path) {
  static const bool registered =
      ::pthread_atfork(nullptr, nullptr, [] { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }) == 0;
  (void)registered;
  KeptLog& kept = t_kept;
  if (kept.fd < 0 || kept.lent) return -1;
  const bool same = kept.generation == g_forkGeneration.load(std::memory_order_relaxed) && *kept.path == path &&
                    IsRegularFile(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, kept.dev, kept.ino);
  {
    OpenFiles& files = Files();
    std::lock_guard lock(files.mutex);
    if (!files.Kept(kept.fd)) {
      kept.fd = -1;  // closed through its handle by another thread
    } else if (same) {
      files.Insert(kept.fd);
      kept.lent = true;
      return kept.fd;
    }
  }
  Forget(kept);
  return -1;
}

// Keeps a log just opened and checked for the thread, in place of what it kept before.
void Keep(const std::string& path, int fd) {
  KeptLog& kept = t_kept;
  dev_t dev = 0;
  ino_t ino = 0;
  if (kept.gone || (kept.fd >= 0 && kept.lent) || !StatRegularFile(fd, "", AT_EMPTY_PATH, dev, ino)) return;
  Forget(kept);
  {
    OpenFiles& files = Files();
    std::lock_guard lock(files.mutex);
    files.SetKept(fd, true);
  }
  kept = {new std::string(path), fd, dev, ino, g_forkGeneration.load(std::memory_order_relaxed), true, false};
  t_keptCloser.Arm();
}

// True when `fd` is the calling thread's kept log: it stays open for the next line. Called
// with the table locked; a kept log another thread closes is closed and kept no more.
bool GiveBack(OpenFiles& files, int fd, bool failed) {
  KeptLog& kept = t_kept;
  const bool mine = kept.fd == fd && kept.lent && !failed;
  if (kept.fd == fd) kept.lent = false;
  if (!mine && files.Kept(fd)) files.SetKept(fd, false);
  return mine;
}

}  // namespace

Long PosixPlatform::OpenTextFile(const String& path, bool truncate, FileHandle& file) {
  if (path.empty()) return rt::kBadFileName;
  const std::string& native = NativePath(path);  // the thread's own, until its next call
  if (native.find('\0') != std::string::npos) return rt::kBadFileName;
  int fd = truncate ? -1 : TakeKept(native);
  if (fd >= 0) {
    file = fd;  // already among the open files
    return 0;
  }
  if (truncate && t_kept.fd >= 0 && !t_kept.lent) Forget(t_kept);
  if (const Long error = OpenLog(native, truncate, fd)) return error;
  Keep(native, fd);
  OpenFiles& files = Files();
  std::lock_guard lock(files.mutex);
  files.Insert(fd);
  file = fd;
  return 0;
}

namespace {
thread_local int t_failedFd = -1;  // a write to it failed: it is not kept
}  // namespace

std::size_t ReadFully(int fd, void* into, std::size_t want) {
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, static_cast<char*>(into) + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

Long PosixPlatform::WriteTextFile(FileHandle file, const std::string& ansiBytes) {
  if (!Files().Contains(file)) return rt::kBadFileName;
  const int fd = static_cast<int>(file);
  std::size_t done = 0;
  while (done < ansiBytes.size()) {
    const ssize_t n = ::write(fd, ansiBytes.data() + done, ansiBytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      t_failedFd = fd;
      return WriteError(errno);
    }
    if (n == 0) {
      t_failedFd = fd;
      return rt::kDiskFull;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

void PosixPlatform::CloseTextFile(FileHandle file) {
  OpenFiles& files = Files();
  const int fd = static_cast<int>(file);
  const bool failed = t_failedFd == fd;
  t_failedFd = -1;
  {
    std::lock_guard lock(files.mutex);
    if (!files.Erase(file)) return;
    if (GiveBack(files, fd, failed)) return;
  }
  ::close(fd);
}

}  // namespace vx380::posix
