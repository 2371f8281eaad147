// The user's folders and environment: home, XDG configuration, desktop and state folders, "TEMP".
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

namespace {

// XDG_DESKTOP_DIR from user-dirs.dirs: "$HOME/..." or an absolute path, in shell quoting.
std::string XdgDesktopDir(const std::string& home) {
  const std::string config = ConfigHome();
  if (config.empty()) return {};
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line, found;
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 16, "XDG_DESKTOP_DIR=") != 0) continue;
    std::string raw = line.substr(start + 16);
    std::string value;
    if (!raw.empty() && raw.front() == '"') {
      for (std::size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
        value.push_back(raw[i]);
      }
    } else {
      value = raw.substr(0, raw.find_first_of(" \t#"));
    }
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      if (home.empty()) continue;
      value = home + value.substr(5);
    } else if (value.rfind("${HOME}", 0) == 0 && (value.size() == 7 || value[7] == '/')) {
      if (home.empty()) continue;
      value = home + value.substr(7);
    }
    if (!value.empty() && value.front() == '/') found = StripTrailingSlashes(value);  // the last one wins
  }
  return found;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes the missing folders of `path` below `base`, which must exist already (a home folder
// is never made); those it makes are for the user only.
void MakeFolders(const std::string& base, const std::string& path) {
  if (!IsDirectory(base)) return;
  for (std::size_t slash = path.find('/', base.size() + 1);; slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return;
    if (slash == std::string::npos) return;
  }
}

}  // namespace

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir &&
      *result->pw_dir)
    return result->pw_dir;
  return {};
}

std::string ConfigHome() {
  // The XDG rules ignore a relative $XDG_CONFIG_HOME.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
    return StripTrailingSlashes(config);
  const std::string home = HomeDirectory();
  return home.empty() ? std::string() : StripTrailingSlashes(home) + "/.config";
}

const std::string& NativePath(const String& path) {
  // A log is written under the same name line after line: keep the last conversion.
  thread_local String lastPath;
  thread_local std::string lastNative;
  if (path.size() == lastPath.size() && !lastNative.empty() &&
      std::memcmp(path.data(), lastPath.data(), path.size() * sizeof(char16_t)) == 0)  // not a unit at a time
    return lastNative;
  lastNative = ToUtf8(path);
  for (char& c : lastNative)
    if (c == '\\') c = '/';
  lastPath = path;
  return lastNative;
}

std::string StateFolder(std::string* base) {
  std::string root;
  // The XDG rules ignore a relative $XDG_STATE_HOME.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    root = StripTrailingSlashes(state);
    if (base) *base = root.substr(0, std::max<std::size_t>(root.find_last_of('/'), 1));
    return root + "/vx380";
  }
  const std::string home = HomeDirectory();
  if (home.empty()) return {};
  if (base) *base = StripTrailingSlashes(home);
  return StripTrailingSlashes(home) + "/.local/state/vx380";
}

// The folder for the default error log: the desktop where there is one (servers and
// containers have none), else the user's state folder, made when missing.
bool PosixPlatform::DesktopFolder(String& path) {
  const std::string home = HomeDirectory();
  std::string folder = XdgDesktopDir(home);
  if (folder.empty() && !home.empty()) folder = StripTrailingSlashes(home) + "/Desktop";
  if (folder.empty() || !IsDirectory(folder)) {
    std::string base;
    folder = StateFolder(&base);
    if (folder.empty()) return false;
    MakeFolders(base, folder);
  }
  path = FromUtf8(folder);
  return true;
}

bool PosixPlatform::GetEnvironment(const String& name, String& value) {
  const std::string key = ToUtf8(name);
  if (key.empty() || key.find('=') != std::string::npos || key.find('\0') != std::string::npos) return false;
  const char* v = std::getenv(key.c_str());
  if (key != "TEMP") {
    if (v) value = FromUtf8(v);
    return v != nullptr;
  }
  // Every Windows session has a TEMP; here an empty one counts as unset, and the fallback is
  // $TMPDIR, else a folder of the user's own rather than one every user can write.
  std::string temp = v && *v ? std::string(v) : std::string();
  if (temp.empty()) {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) temp = StripTrailingSlashes(tmp);
    else if (!PrivateDirOrSaySo(temp)) return false;
  }
  value = FromUtf8(temp);
  return true;
}

}  // namespace vx380::posix
