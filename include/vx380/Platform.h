// The platform seam: every service the core takes from the operating system.
// One implementation per system (src/platform/posix, src/platform/win32); tests
// install their own. Failures of file services come back as classic runtime
// error numbers (0 = success) so the core raises them unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "vx380/Automation.h"

namespace vx380 {

using RegKeyHandle = std::intptr_t;
using ModuleHandle = std::intptr_t;  // 0 = no module
using FileHandle = std::intptr_t;

class Platform {
 public:
  virtual ~Platform() = default;

  // Settings store, mirroring RegOpenKeyExA (KEY_QUERY_VALUE) / RegQueryValueExA / RegCloseKey.
  // Texts are in the ANSI code page. Query fills at most *size bytes of data and sets *size
  // to the bytes stored; data that do not fit fail.
  virtual bool RegOpenKey(Long key, const std::string& subKey, RegKeyHandle& opened) = 0;
  virtual bool RegQueryValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                             std::uint32_t* size) = 0;
  virtual void RegCloseKey(RegKeyHandle key) = 0;

  // One line of ANSI text to the debugger output channel, in one call. Never fails.
  virtual void OutputDebugString(const std::string& ansi) = 0;
  // A line about the component's own trouble (an error log it cannot start) for the debug
  // channel, where the system wants that said; by default it is dropped. Never fails.
  virtual void OutputDiagnostic(const std::string& ansi) { (void)ansi; }

  // A modal message box; returns the button pressed (1 OK ... 7 No).
  virtual Long MessageBox(const String& prompt, Long style, const String& title,
                          const String& helpFile, Long helpContext) = 0;

  // Milliseconds since the system started, truncated to 32 bits, read as signed.
  virtual Long TickCount() = 0;

  // Text files. A "\" in a path names a directory separator. Each returns 0 or a runtime error number.
  virtual Long OpenTextFile(const String& path, bool truncate, FileHandle& file) = 0;
  virtual Long WriteTextFile(FileHandle file, const std::string& ansiBytes) = 0;
  virtual void CloseTextFile(FileHandle file) = 0;

  // String resources of a module loaded as a data file.
  virtual ModuleHandle LoadResourceModule(const String& path) = 0;  // 0 on failure
  virtual void FreeResourceModule(ModuleHandle module) = 0;
  // Like LoadStringA with a buffer of bufferChars: at most bufferChars - 1 bytes, "" when none.
  virtual std::string LoadResourceString(ModuleHandle module, Long id, int bufferChars) = 0;

  // File-system path of the user's desktop folder; false when the shell cannot give one.
  virtual bool DesktopFolder(String& path) = 0;

  // An environment variable; false when it is not set.
  virtual bool GetEnvironment(const String& name, String& value) = 0;

  // The current local date, time and both, in the user's short date and time formats.
  virtual String CurrentDateText() = 0;
  virtual String CurrentTimeText() = 0;
  virtual String CurrentDateTimeText() = 0;
  // The user's decimal separator for number texts.
  virtual char16_t DecimalSeparator() = 0;

  // ANSI code page conversion; characters the code page cannot hold become "?".
  virtual std::string ToAnsi(const String& text) = 0;
  virtual String FromAnsi(const std::string& bytes) = 0;
};

// The platform the core uses: the operating system's own unless a host or test installs another.
Platform& CurrentPlatform();
// Installs a platform (nullptr restores the system's); returns the one it replaces.
Platform* SetPlatform(Platform* platform);
// The operating system's implementation.
Platform& SystemPlatform();

}  // namespace vx380
