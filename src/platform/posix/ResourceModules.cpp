// Resource modules: a PE file's string table loaded under a small handle, as a module loaded
// as a data file. Handles are never reused, so a freed one stays dead.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/Ansi1252.h"
#include "platform/posix/PeResources.h"
#include "platform/posix/PosixServices.h"

namespace vx380::posix {

namespace {

// Resource DLLs are small; the string table of a bigger file is looked for in its start.
constexpr std::size_t kMaxModuleBytes = 256u << 20;

struct Modules {
  std::mutex mutex;
  std::map<ModuleHandle, std::shared_ptr<const StringTable>> loaded;
  ModuleHandle last = 0;
};

Modules& TheModules() {
  static Modules* modules = new Modules;  // never destroyed: thread exit may free modules late
  return *modules;
}

// Read, not mapped: a file cut short while it is being read must not bring the process down.
std::optional<StringTable> ReadModule(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<StringTable> table;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    std::vector<unsigned char> image(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kMaxModuleBytes));
    image.resize(ReadFully(fd, image.data(), image.size()));
    table = StringTable::FromImage(image);
  }
  ::close(fd);
  return table;
}

}  // namespace

ModuleHandle PosixPlatform::LoadResourceModule(const String& path) {
  if (path.empty() || path.find(u'\0') != String::npos) return 0;
  const std::string& native = NativePath(path);
  auto table = ReadModule(native);
  // A module name without an extension means a DLL, as for LoadLibrary.
  const std::size_t name = native.rfind('/');
  if (!table && native.find('.', name == std::string::npos ? 0 : name + 1) == std::string::npos)
    table = ReadModule(native + ".dll");
  if (!table) return 0;

  Modules& modules = TheModules();
  std::lock_guard lock(modules.mutex);
  if (modules.last == INTPTR_MAX) return 0;
  const ModuleHandle handle = ++modules.last;
  modules.loaded.emplace(handle, std::make_shared<const StringTable>(std::move(*table)));
  return handle;
}

void PosixPlatform::FreeResourceModule(ModuleHandle module) {
  Modules& modules = TheModules();
  std::lock_guard lock(modules.mutex);
  modules.loaded.erase(module);
}

std::string PosixPlatform::LoadResourceString(ModuleHandle module, Long id, int bufferChars) {
  if (bufferChars <= 1) return {};
  std::shared_ptr<const StringTable> table;
  {
    Modules& modules = TheModules();
    std::lock_guard lock(modules.mutex);
    const auto it = modules.loaded.find(module);
    if (it == modules.loaded.end()) return {};
    table = it->second;
  }
  const std::u16string* text = table->Find(static_cast<std::uint32_t>(id));
  if (!text) return {};
  std::string ansi = ToAnsi1252(*text);
  if (ansi.size() > static_cast<std::size_t>(bufferChars - 1)) ansi.resize(static_cast<std::size_t>(bufferChars - 1));
  return ansi;
}

}  // namespace vx380::posix
