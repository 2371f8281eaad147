// The user's desktop folder and environment variables.
#include "Win32Platform.h"

#include <shlobj.h>

#include <vector>

namespace vx380::win32 {

bool Win32Platform::DesktopFolder(String& path) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &list)) || !list) return false;
  wchar_t buffer[MAX_PATH + 1] = {};
  BOOL ok = ::SHGetPathFromIDListW(list, buffer);
  ::CoTaskMemFree(list);
  if (!ok) return false;
  path = FromWide(buffer, wcslen(buffer));
  return true;
}

bool Win32Platform::GetEnvironment(const String& name, String& value) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableW(Wide(name), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      // 0 is also the length of a variable that is set to "".
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    if (n < buffer.size()) {
      value = FromWide(buffer.data(), n);
      return true;
    }
    buffer.resize(n);  // n counts the terminating NUL when the buffer was too small
  }
}

}  // namespace vx380::win32
