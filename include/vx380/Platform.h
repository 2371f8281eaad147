// The platform seam: every service the core takes from the operating system.
// One implementation per system (src/platform/posix, src/platform/win32); tests
// install their own. Failures of file services come back as classic runtime
// error numbers (0 = success) so the core raises them unchanged.
//
// What the core keeps:
// - Lines: every WriteDebugLine and WriteDiagnosticLine gets one whole line ending in "\n".
// - Calls: any member may be called from any thread, several at once; the core never calls
//   one member from inside another.
//
// What a host that installs a platform keeps:
// - Lifetime: a platform given to SetPlatform lives until another has replaced it and every
//   call into it has returned (in practice: until no thread of the host traces, logs or
//   reports any more). The core keeps no other pointer to it; what it caches per thread it
//   keys by the installation, so a platform rebuilt at the same address is asked afresh.
//
// What every implementation keeps:
// - Threads: every member is safe to call from several threads at once, and from a thread
//   that is ending. No member calls back into the core (ErrorLog, CurrentPlatform, SetPlatform).
// - Handles: a file handle is honoured from the OpenTextFile that returned it until its
//   CloseTextFile; any other value (stale, made up) makes WriteTextFile return
//   rt::kBadFileName and CloseTextFile do nothing. A settings key is one of the roots below or a
//   handle from OpenSettingsKey not yet closed; a module handle is 0 or one from LoadResourceModule
//   not yet freed.
// - Null pointers: QuerySettingsValue takes a null `data` as a size query; a null `size` fails.
// - Units: times in milliseconds; registry data in bytes; resource buffers in characters
//   (the terminating NUL included).
//
// Changing this class: a new member comes with a default that keeps today's behaviour, so
// platforms written against an earlier release still build. A new virtual member still
// changes the table of members that compiled platforms carry, so it either comes in a class
// derived from this one (which the core looks for) or with a SONAME bump; so does removing,
// reordering or changing a member. make test compares the library with its ABI baseline.
#pragma once

#include <cstdint>
#include <string>

#include "vx380/Automation.h"

namespace vx380 {

using RegKeyHandle = std::intptr_t;
using ModuleHandle = std::intptr_t;  // 0 = no module
using FileHandle = std::intptr_t;

// The predefined roots of the settings store, as the registry numbers them.
constexpr Long kHKeyCurrentUser = static_cast<Long>(0x80000001u);
constexpr Long kHKeyLocalMachine = static_cast<Long>(0x80000002u);

// What a message box shows as its title when it is given none.
inline const String kDefaultBoxTitle = u"ErrorLogging";

class VX380_API Platform {
 public:
  virtual ~Platform() = default;

  // Settings store, mirroring RegOpenKeyExA (KEY_QUERY_VALUE) / RegQueryValueExA / RegCloseKey.
  // Texts are in the ANSI code page. Query fills at most *size bytes of data and sets *size
  // to the bytes stored; data that do not fit fail. Closing a root or an unknown key does nothing.
  virtual bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) = 0;
  virtual bool QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                                  std::uint32_t* size) = 0;
  virtual void CloseSettingsKey(RegKeyHandle key) = 0;
  // A number that changes whenever the values under key\subKey may have changed, so a value
  // read under the same number need not be read again; 0 means "cannot tell: read again".
  // It must have moved by the time the call that changed a value returns, in this process or
  // another: a platform that learns of changes later answers 0.
  virtual std::uint64_t SettingsGeneration(Long key, const std::string& subKey) {
    (void)key;
    (void)subKey;
    return 0;
  }

  // One line of ANSI text to the debugger output channel, in one call. Never fails.
  virtual void WriteDebugLine(const std::string& ansi) = 0;
  // A line about the component's own trouble (an error log it cannot start) for the debug
  // channel, where the system wants that said; by default it is dropped. Never fails.
  virtual void WriteDiagnosticLine(const std::string& ansi) { (void)ansi; }

  // A modal message box; returns the button pressed (1 OK ... 7 No).
  virtual Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                              Long helpContext) = 0;

  // Milliseconds since the system started, truncated to 32 bits, read as signed.
  virtual Long TickCount() = 0;

  // Text files. A "\" in a path names a directory separator. Each returns 0 or a runtime error number.
  virtual Long OpenTextFile(const String& path, bool truncate, FileHandle& file) = 0;
  virtual Long WriteTextFile(FileHandle file, const std::string& ansiBytes) = 0;
  virtual void CloseTextFile(FileHandle file) = 0;

  // String resources of a module loaded as a data file.
  virtual ModuleHandle LoadResourceModule(const String& path) = 0;  // 0 on failure
  virtual void FreeResourceModule(ModuleHandle module) = 0;         // 0 does nothing
  // Like LoadStringA with a buffer of bufferChars: at most bufferChars - 1 bytes, "" when none.
  // Module 0 reads the host program's own strings where the system has them (Windows).
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

// A platform that can tell when nobody hears the debugger output channel, so that the core
// need not even build a line. The core looks for it once per installation (SetPlatform); a
// platform that is not one is taken to be heard always.
class VX380_API ListenerAwarePlatform : public Platform {
 public:
  // False while the platform knows that nobody hears the channel; true when someone may. A
  // listener that starts is heard again as soon as the system tells of it, at most one tick of
  // the system's coarse clock where it cannot. Cheap: it is asked before every line.
  virtual bool DebugOutputHeard() = 0;
};

// The platform the core uses: the operating system's own unless a host or test installs another.
VX380_API Platform& CurrentPlatform();
// Installs a platform (nullptr restores the system's); returns the one it replaces.
VX380_API Platform* SetPlatform(Platform* platform);
// The operating system's implementation.
VX380_API Platform& SystemPlatform();

}  // namespace vx380
