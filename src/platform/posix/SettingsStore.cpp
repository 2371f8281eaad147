// Settings store: the registry calls served from .reg files, one file per root. Each open
// looks at the file again, so settings changed while a host runs take effect; an unchanged
// file is not parsed twice.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/Ansi1252.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/RegFile.h"
#include "vx380/PosixPlatform.h"

namespace vx380::posix {

namespace {

constexpr auto kCurrentUser = static_cast<std::uint32_t>(kHKeyCurrentUser);
constexpr auto kLocalMachine = static_cast<std::uint32_t>(kHKeyLocalMachine);
// A larger file is read up to here: the settings store is not a database.
constexpr std::size_t kMaxFileBytes = 64u << 20;
// A file up to this size is kept, so that one read again unchanged is not parsed again; a
// larger one is parsed a piece at a time as it is read, and kept only as parsed.
constexpr std::size_t kKeptFileBytes = 1u << 20;

struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};
  timespec ctime{};

  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct Hive {
  std::string path;
  FileIdentity identity;
  // File times are coarse (a clock tick), so two writes in a row can leave the same identity.
  // Only an identity older than that is trusted without reading the file again.
  bool settled = false;
  bool kept = false;  // contents are the bytes file was parsed from
  std::string contents;
  std::shared_ptr<const RegFile> file;
  std::string told;  // the last word said about what was left unread, said once
};

struct OpenKey {
  std::shared_ptr<const RegFile> file;
  RegRoot root;
  std::u16string path;
};

// Never destroyed: thread and process exit code may still close keys.
struct Store {
  std::mutex mutex;
  Hive hives[2];
  std::map<RegKeyHandle, OpenKey> open;
  RegKeyHandle lastHandle = 0;
};

Store& TheStore() {
  static Store* store = new Store;
  return *store;
}

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HivePath(RegRoot root) {
  if (root == RegRoot::kCurrentUser) {
    std::string path = EnvOrEmpty("VX380_HKCU");
    if (!path.empty()) return path;
    const std::string config = ConfigHome();
    return config.empty() ? std::string() : config + "/vx380/user.reg";
  }
  std::string path = EnvOrEmpty("VX380_HKLM");
  return path.empty() ? std::string("/etc/vx380/machine.reg") : path;
}

int OpenRegular(const std::string& path, FileIdentity& identity) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    identity = IdentityOf(st);
    return fd;
  }
  ::close(fd);
  return -1;
}

// The file's first kMaxFileBytes, fetched as the reader asks; a file cut short meanwhile ends early.
RegBytes FileBytes(int fd) {
  return [fd](std::uint64_t offset, char* to, std::size_t n) -> std::size_t {
    if (offset >= kMaxFileBytes) return 0;
    n = std::min<std::size_t>(n, kMaxFileBytes - static_cast<std::size_t>(offset));
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd, to + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  };
}

// What was left unread, on standard error once for each thing left.
void SayWhatWasSkipped(Hive& hive, const std::string& path, const FileIdentity& identity) {
  std::string said;
  if (identity.size > static_cast<off_t>(kMaxFileBytes))
    said = path + " is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB: only its start is read";
  if (const char* bound = hive.file->StoppedBy()) {
    const std::size_t most = std::string_view(bound) == "keys" ? RegFile::kMaxKeys : RegFile::kMaxValues;
    said = path + " holds more than " + std::to_string(most) + " " + bound + ": line " +
           std::to_string(hive.file->StoppedAtLine()) + " and the rest are not read";
  }
  if (!said.empty() && said != hive.told) std::fprintf(stderr, "vx380: settings file %s\n", said.c_str());
  hive.told = std::move(said);
}

// Parses the file unless it is the one parsed last time, byte for byte.
void ParseHive(Hive& hive, int fd, RegRoot root, const FileIdentity& identity) {
  const auto size = static_cast<std::uint64_t>(identity.size);
  if (fd >= 0 && size > kKeptFileBytes) {
    hive.file = std::make_shared<const RegFile>(RegFile::Read(FileBytes(fd), root));
    hive.kept = false;
    std::string().swap(hive.contents);
    return;
  }
  std::string contents(fd >= 0 ? size : 0, '\0');
  if (fd >= 0) contents.resize(ReadFully(fd, contents.data(), contents.size()));
  if (hive.file && hive.kept && hive.contents == contents) return;
  hive.file = std::make_shared<const RegFile>(RegFile::Parse(contents, root));
  hive.kept = true;
  hive.contents = std::move(contents);
}

bool Settled(const FileIdentity& id) {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const time_t newest = std::max(id.mtime.tv_sec, id.ctime.tv_sec);
  return now.tv_sec - newest > 2;
}

// The root's file as it is now. Called with the store's mutex held.
std::shared_ptr<const RegFile> LoadHive(RegRoot root) {
  Hive& hive = TheStore().hives[root == RegRoot::kCurrentUser ? 0 : 1];
  const std::string path = HivePath(root);
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    hive = Hive{};
    hive.path = path;
    // A missing file is an empty root; the shared empty file outlives static destruction.
    static const auto* empty =
        new std::shared_ptr<const RegFile>(std::make_shared<const RegFile>(RegFile::Parse("", root)));
    return *empty;
  }
  if (hive.file && hive.path == path && hive.settled && hive.identity == IdentityOf(st)) return hive.file;

  FileIdentity identity;
  const int fd = OpenRegular(path, identity);
  if (hive.path != path) hive = Hive{};
  hive.path = path;
  ParseHive(hive, fd, root, identity);
  if (fd >= 0) ::close(fd);
  SayWhatWasSkipped(hive, path, identity);
  hive.identity = identity;
  hive.settled = Settled(identity);
  return hive.file;
}

}  // namespace

std::string SettingsFilePath(Long root) {
  const auto r = static_cast<std::uint32_t>(root);
  if (r == kCurrentUser) return HivePath(RegRoot::kCurrentUser);
  if (r == kLocalMachine) return HivePath(RegRoot::kLocalMachine);
  return {};
}

bool PosixPlatform::OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) {
  std::u16string sub = FromAnsi1252(subKey);
  if (!sub.empty() && sub.front() == u'\\') return false;  // as the registry: a bad path
  if (!sub.empty() && sub.back() == u'\\') sub.pop_back();

  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  RegRoot root;
  std::u16string path;
  const auto k = static_cast<std::uint32_t>(key);
  if (k == kCurrentUser) {
    root = RegRoot::kCurrentUser;
  } else if (k == kLocalMachine) {
    root = RegRoot::kLocalMachine;
  } else {
    const auto parent = store.open.find(key);
    if (parent == store.open.end()) return false;
    root = parent->second.root;
    path = parent->second.path;
  }
  if (!sub.empty()) path = path.empty() ? sub : path + u"\\" + sub;

  auto file = LoadHive(root);
  if (!file->HasKey(path)) return false;

  // Handles are small positive numbers, so a host can pass one back as a Long key.
  do {
    store.lastHandle = store.lastHandle >= 0x7FFFFFFF ? 1 : store.lastHandle + 1;
  } while (store.open.contains(store.lastHandle));
  store.open.emplace(store.lastHandle, OpenKey{std::move(file), root, std::move(path)});
  opened = store.lastHandle;
  return true;
}

bool PosixPlatform::QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                                       std::uint32_t* size) {
  std::shared_ptr<const RegFile> file;
  std::u16string path;
  {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    const auto k = static_cast<std::uint32_t>(key);
    if (key == static_cast<Long>(k) && (k == kCurrentUser || k == kLocalMachine)) {
      // A predefined root is always open.
      file = LoadHive(k == kCurrentUser ? RegRoot::kCurrentUser : RegRoot::kLocalMachine);
    } else {
      const auto open = store.open.find(key);
      if (open == store.open.end()) return false;
      file = open->second.file;
      path = open->second.path;
    }
  }
  const RegFile::Data* value = file->FindValue(path, FromAnsi1252(valueName));
  if (!value) return false;
  const auto stored = static_cast<std::uint32_t>(value->size());
  if (data == nullptr) {  // a size query
    if (size) *size = stored;
    return size != nullptr;
  }
  if (size == nullptr) return false;
  const std::uint32_t room = *size;
  *size = stored;
  if (stored > room) return false;
  if (stored) std::memcpy(data, value->data(), stored);
  return true;
}

void PosixPlatform::CloseSettingsKey(RegKeyHandle key) {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  store.open.erase(key);
}

}  // namespace vx380::posix
