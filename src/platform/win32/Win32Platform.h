// The Win32 services behind vx380::Platform. Internal to src/platform/win32.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "vx380/Platform.h"

namespace vx380::win32 {

class Win32Platform final : public Platform {
 public:
  bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) override;
  bool QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                          std::uint32_t* size) override;
  void CloseSettingsKey(RegKeyHandle key) override;

  void WriteDebugLine(const std::string& ansi) override;
  Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                      Long helpContext) override;
  Long TickCount() override;

  Long OpenTextFile(const String& path, bool truncate, FileHandle& file) override;
  Long WriteTextFile(FileHandle file, const std::string& ansiBytes) override;
  void CloseTextFile(FileHandle file) override;

  ModuleHandle LoadResourceModule(const String& path) override;
  void FreeResourceModule(ModuleHandle module) override;
  std::string LoadResourceString(ModuleHandle module, Long id, int bufferChars) override;

  bool DesktopFolder(String& path) override;
  bool GetEnvironment(const String& name, String& value) override;

  String CurrentDateText() override;
  String CurrentTimeText() override;
  String CurrentDateTimeText() override;
  char16_t DecimalSeparator() override;

  std::string ToAnsi(const String& text) override;
  String FromAnsi(const std::string& bytes) override;
};

// String has the layout of a wide string on Windows (wchar_t is 16 bits there).
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* Wide(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline String FromWide(const wchar_t* s, std::size_t n) { return String(reinterpret_cast<const char16_t*>(s), n); }

// A classic runtime error number for a failed file operation's GetLastError code.
Long RuntimeErrorForWin32(DWORD error);

}  // namespace vx380::win32
