// The user's folders and environment: home, XDG configuration and desktop folders, "TEMP".
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

namespace {

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

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

}  // namespace

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir && *result->pw_dir)
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
  if (path == lastPath && !lastNative.empty()) return lastNative;
  lastNative = ToUtf8(path);
  for (char& c : lastNative)
    if (c == '\\') c = '/';
  lastPath = path;
  return lastNative;
}

bool PosixPlatform::DesktopFolder(String& path) {
  const std::string home = HomeDirectory();
  std::string desktop = XdgDesktopDir(home);
  if (desktop.empty()) {
    if (home.empty()) return false;
    desktop = StripTrailingSlashes(home) + "/Desktop";
  }
  path = FromUtf8(desktop);
  return true;
}

bool PosixPlatform::GetEnvironment(const String& name, String& value) {
  const std::string key = ToUtf8(name);
  if (key.empty() || key.find('=') != std::string::npos || key.find('\0') != std::string::npos)
    return false;
  if (const char* v = std::getenv(key.c_str())) {
    value = FromUtf8(v);
    return true;
  }
  // Every Windows session has a TEMP; here it is the POSIX temporary folder.
  if (key == "TEMP") {
    const char* tmp = std::getenv("TMPDIR");
    value = FromUtf8(tmp && *tmp ? StripTrailingSlashes(tmp) : std::string("/tmp"));
    return true;
  }
  return false;
}

}  // namespace vx380::posix
