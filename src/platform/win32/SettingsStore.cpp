// Settings store: the registry through its ANSI calls, as the component always used it.
// Nothing is cached: a change notification arrives after the writer's call has returned, so a
// value kept until then answers from before a change the caller has already made, and any
// exact check of a kept key costs a call into the system, as a read does.
#include "Win32Platform.h"

namespace vx380::win32 {

bool Win32Platform::OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) {
  // Predefined roots are negative 32-bit values; on x64 they must sign-extend,
  // exactly as HKEY_CURRENT_USER itself is defined.
  HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(key)));
  HKEY result = nullptr;
  if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &result) != ERROR_SUCCESS) return false;
  opened = reinterpret_cast<RegKeyHandle>(result);
  return true;
}

bool Win32Platform::QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                                       std::uint32_t* size) {
  if (!size) return false;
  DWORD type = 0;  // preset and never looked at: any type is read as bytes
  DWORD count = *size;
  LONG rc = ::RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.c_str(), nullptr, &type, data, &count);
  if (rc != ERROR_SUCCESS) return false;
  *size = count;
  return true;
}

void Win32Platform::CloseSettingsKey(RegKeyHandle key) { ::RegCloseKey(reinterpret_cast<HKEY>(key)); }

}  // namespace vx380::win32
