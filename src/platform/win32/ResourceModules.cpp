// String resources of a module loaded as a data file.
#include "Win32Platform.h"

namespace vx380::win32 {

ModuleHandle Win32Platform::LoadResourceModule(const String& path) {
  HMODULE module = ::LoadLibraryExA(ToAnsi(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return reinterpret_cast<ModuleHandle>(module);
}

void Win32Platform::FreeResourceModule(ModuleHandle module) {
  if (module) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

// Module 0 is passed on as it is: LoadStringA then reads the host program's own
// string table, as the component always did when no resource DLL was loaded.
std::string Win32Platform::LoadResourceString(ModuleHandle module, Long id, int bufferChars) {
  if (bufferChars <= 0) return {};
  std::string buffer(static_cast<std::size_t>(bufferChars), '\0');
  int n = ::LoadStringA(reinterpret_cast<HINSTANCE>(module), static_cast<UINT>(id), buffer.data(), bufferChars);
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

}  // namespace vx380::win32
