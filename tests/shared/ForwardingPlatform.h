// A platform that hands every member on to another one (the system's, by default): tests and
// benchmarks derive from it and override only what they watch or replace. Base is Platform or
// a class derived from it.
#pragma once

#include <cstdint>
#include <string>

#include "vx380/Platform.h"

namespace vx380::testcases {

template <class Base = Platform>
class ForwardingPlatform : public Base {
 public:
  explicit ForwardingPlatform(Platform& to = SystemPlatform()) : to_(to) {}

  bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) override {
    return to_.OpenSettingsKey(key, subKey, opened);
  }
  bool QuerySettingsValue(RegKeyHandle key, const std::string& name, unsigned char* data,
                          std::uint32_t* size) override {
    return to_.QuerySettingsValue(key, name, data, size);
  }
  void CloseSettingsKey(RegKeyHandle key) override { to_.CloseSettingsKey(key); }
  std::uint64_t SettingsGeneration(Long key, const std::string& subKey) override {
    return to_.SettingsGeneration(key, subKey);
  }
  void WriteDebugLine(const std::string& ansi) override { to_.WriteDebugLine(ansi); }
  void WriteDiagnosticLine(const std::string& ansi) override { to_.WriteDiagnosticLine(ansi); }
  Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                      Long helpContext) override {
    return to_.ShowMessageBox(prompt, style, title, helpFile, helpContext);
  }
  Long TickCount() override { return to_.TickCount(); }
  Long OpenTextFile(const String& path, bool truncate, FileHandle& file) override {
    return to_.OpenTextFile(path, truncate, file);
  }
  Long WriteTextFile(FileHandle file, const std::string& bytes) override { return to_.WriteTextFile(file, bytes); }
  void CloseTextFile(FileHandle file) override { to_.CloseTextFile(file); }
  ModuleHandle LoadResourceModule(const String& path) override { return to_.LoadResourceModule(path); }
  void FreeResourceModule(ModuleHandle module) override { to_.FreeResourceModule(module); }
  std::string LoadResourceString(ModuleHandle module, Long id, int chars) override {
    return to_.LoadResourceString(module, id, chars);
  }
  bool DesktopFolder(String& path) override { return to_.DesktopFolder(path); }
  bool GetEnvironment(const String& name, String& value) override { return to_.GetEnvironment(name, value); }
  String CurrentDateText() override { return to_.CurrentDateText(); }
  String CurrentTimeText() override { return to_.CurrentTimeText(); }
  String CurrentDateTimeText() override { return to_.CurrentDateTimeText(); }
  char16_t DecimalSeparator() override { return to_.DecimalSeparator(); }
  std::string ToAnsi(const String& text) override { return to_.ToAnsi(text); }
  String FromAnsi(const std::string& bytes) override { return to_.FromAnsi(bytes); }

 protected:
  Platform& to_;
};

}  // namespace vx380::testcases
