// A recording platform for unit tests: captures every debug line, message box and
// file write, answers boxes from a script, and serves registry values from memory.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "vx380/Platform.h"

namespace vx380::testing {

struct RecordedBox {
  String prompt;
  Long style;
  String title;
  String helpFile;
  Long helpContext;
};

class FakePlatform : public Platform {
 public:
  // Registry contents: root (0x80000001/0x80000002) -> key path (as given, case-insensitive) ->
  // value name -> raw bytes. A key with no values still exists.
  void SetRegistryString(Long root, const std::string& key, const std::string& name, const std::string& text);
  void SetRegistryBytes(Long root, const std::string& key, const std::string& name, std::vector<unsigned char> data);
  void AddRegistryKey(Long root, const std::string& key);
  void ClearRegistry() { registry_.clear(); }

  // Files live in memory, keyed by path. Paths in failingOpens fail to open with the given number.
  std::map<String, std::string> files;
  std::map<String, Long> failingOpens;
  std::map<String, Long> failingWrites;  // writes to these paths fail with the number
  int openCount = 0;
  int openFiles = 0;  // currently open handles

  // Debug lines as sent (with their line feed), and every box shown.
  std::vector<std::string> debugLines;
  std::vector<RecordedBox> boxes;
  std::deque<Long> boxAnswers;  // answers in order; 1 (OK) when empty

  Long tick = 0;  // the millisecond counter; advanced by tickStep at each read
  Long tickStep = 0;
  String desktop = u"C:\\Users\\user\\Desktop";
  bool desktopAvailable = true;
  std::map<String, String> environment;
  String dateText = u"3/5/2021";
  String timeText = u"2:07:09 PM";
  char16_t decimalSeparator = u'.';

  // Resource modules: path -> id -> text.
  std::map<String, std::map<Long, std::string>> resourceFiles;
  std::vector<ModuleHandle> freedModules;
  std::vector<std::pair<ModuleHandle, Long>> stringLoads;

  // Debug lines without their line feed, as UTF-16, for easy comparison.
  std::vector<String> Lines() const;

  bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) override;
  bool QuerySettingsValue(RegKeyHandle key, const std::string& valueName, unsigned char* data,
                          std::uint32_t* size) override;
  void CloseSettingsKey(RegKeyHandle key) override;
  int openRegKeys = 0;
  std::vector<std::string> registryReads;  // "root\key" of every successful open

  void WriteDebugLine(const std::string& ansi) override { debugLines.push_back(ansi); }
  Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                      Long helpContext) override;
  Long TickCount() override {
    Long t = tick;
    tick = static_cast<Long>(static_cast<std::uint32_t>(tick) + static_cast<std::uint32_t>(tickStep));
    return t;
  }
  Long OpenTextFile(const String& path, bool truncate, FileHandle& file) override;
  Long WriteTextFile(FileHandle file, const std::string& ansiBytes) override;
  void CloseTextFile(FileHandle file) override;
  ModuleHandle LoadResourceModule(const String& path) override;
  void FreeResourceModule(ModuleHandle module) override { freedModules.push_back(module); }
  std::string LoadResourceString(ModuleHandle module, Long id, int bufferChars) override;
  bool DesktopFolder(String& path) override {
    if (!desktopAvailable) return false;
    path = desktop;
    return true;
  }
  bool GetEnvironment(const String& name, String& value) override;
  String CurrentDateText() override { return dateText; }
  String CurrentTimeText() override { return timeText; }
  String CurrentDateTimeText() override { return dateText + u" " + timeText; }
  char16_t DecimalSeparator() override { return decimalSeparator; }
  std::string ToAnsi(const String& text) override;
  String FromAnsi(const std::string& bytes) override;

 private:
  struct Key {
    std::map<std::string, std::vector<unsigned char>> values;
  };
  std::map<std::pair<Long, std::string>, Key> registry_;
  std::map<RegKeyHandle, const Key*> openKeys_;
  RegKeyHandle nextKey_ = 100;
  std::map<FileHandle, String> openFileByHandle_;
  FileHandle nextFile_ = 1;
  std::vector<String> modules_;  // handle - 1000 indexes this
};

// Installs a fresh fake for the lifetime of the guard.
class ScopedFakePlatform {
 public:
  ScopedFakePlatform() : previous_(SetPlatform(&fake)) {}
  ~ScopedFakePlatform() { SetPlatform(previous_); }
  FakePlatform fake;

 private:
  Platform* previous_;
};

}  // namespace vx380::testing
