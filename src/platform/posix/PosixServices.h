// The POSIX implementation of the platform seam. Its members are defined in one file per
// area (SettingsStore.cpp, DebugChannel.cpp, MessageBoxPosix.cpp, ...); this header also
// carries the few helpers those files share.
#pragma once

#include <string>

#include "vx380/Platform.h"

namespace vx380::posix {

// True while nobody is known to listen: until the listener watch sees a change at the socket, or
// for one coarse clock tick after the thread's last line found nobody where it cannot watch.
bool DebugChannelQuiet();

class PosixPlatform final : public ListenerAwarePlatform {
 public:
  bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) override;
  bool QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                          std::uint32_t* size) override;
  void CloseSettingsKey(RegKeyHandle key) override;

  void WriteDebugLine(const std::string& ansi) override;
  void WriteDiagnosticLine(const std::string& ansi) override { WriteDebugLine(ansi); }
  bool DebugOutputHeard() override { return !DebugChannelQuiet(); }

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

// The debug channel's socket alone, without the ring that WriteDebugLine tries first.
void WriteDebugSocketLine(std::string_view ansi);
// Waits, a bounded while, until the listener has read the lines this thread sent on the socket:
// a line of the thread's that goes into the ring next must not overtake them.
void AwaitSocketLinesRead();

// A file name as the file system takes it: "\" becomes "/", UTF-8.
// The result stays valid until the thread's next call.
const std::string& NativePath(const String& path);

// Reads up to `want` bytes into `into`, going on after interruptions: the count read, short
// only at the end of the file or on an error.
std::size_t ReadFully(int fd, void* into, std::size_t want);

// $HOME, else the password database; "" when neither knows.
std::string HomeDirectory();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; "" without a home.
std::string ConfigHome();
// $XDG_STATE_HOME/vx380 when that is an absolute path, else ~/.local/state/vx380; "" without
// a home. `base`: the folder below which the state folder may be made (never a home itself).
std::string StateFolder(std::string* base = nullptr);
std::string StripTrailingSlashes(std::string path);

// $TMPDIR when set, else /tmp.
std::string TemporaryFolder();
// PrivateRuntimeDir; when it fails, one line on standard error (once per process) says why,
// and `dir` is "".
bool PrivateDirOrSaySo(std::string& dir);
// The same directory when it already exists and passes the same checks; never makes it.
bool ExistingPrivateRuntimeDir(std::string& dir);

}  // namespace vx380::posix
