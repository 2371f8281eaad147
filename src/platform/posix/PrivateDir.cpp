// The user's private directory for what would otherwise land in a folder every user can
// write: the debug socket and the message log when nothing else names a place for them.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/PosixServices.h"
#include "vx380/PosixPlatform.h"

namespace vx380::posix {

namespace {

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : std::string();
}

// A directory only this user can change: not a symlink, owned by us, no write for others.
bool OnlyOursToChange(const std::string& dir, std::string& why) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) why = "it is a symbolic link";
  else if (!S_ISDIR(st.st_mode)) why = "it is not a directory";
  else if (st.st_uid != ::geteuid()) why = "it belongs to another user";
  else if (st.st_mode & (S_IWGRP | S_IWOTH)) why = "others can write to it";
  else return true;
  return false;
}

}  // namespace

std::string TemporaryFolder() {
  const std::string tmp = NonEmptyEnv("TMPDIR");
  return tmp.empty() ? std::string("/tmp") : StripTrailingSlashes(tmp);
}

namespace {

std::string PrivateRuntimeDirName() {
  const std::string runtime = NonEmptyEnv("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return StripTrailingSlashes(runtime);
  return TemporaryFolder() + "/vx380-" + std::to_string(::geteuid());
}

}  // namespace

bool PrivateRuntimeDir(std::string& dir, std::string& why) {
  dir = PrivateRuntimeDirName();
  if (NonEmptyEnv("XDG_RUNTIME_DIR").empty()) {
    if (::mkdir(dir.c_str(), 0700) == 0) {
      ::chmod(dir.c_str(), 0700);  // whatever the umask took away, the owner needs it all
    } else if (errno != EEXIST) {
      why = std::strerror(errno);
      return false;
    }
  }
  why.clear();
  return OnlyOursToChange(dir, why);
}

bool ExistingPrivateRuntimeDir(std::string& dir) {
  std::string why;
  dir = PrivateRuntimeDirName();
  return OnlyOursToChange(dir, why);
}

bool PrivateDirOrSaySo(std::string& dir) {
  std::string why;
  if (PrivateRuntimeDir(dir, why)) return true;
  static std::atomic<bool> said{false};
  if (!said.exchange(true))
    std::fprintf(stderr, "vx380: not using %s as a private directory: %s\n", dir.c_str(), why.c_str());
  dir.clear();
  return false;
}

}  // namespace vx380::posix
