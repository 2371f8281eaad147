// A platform for the benchmarks: the system's, with a ring writer tried first for debug
// output, as the channel does; `ring` off takes the channel as it was before the ring, where
// the platform has it apart (the system's own channel would find the listener's ring too).
#pragma once

#include <string_view>

#include "vx380/Platform.h"

namespace vx380::bench {

class RingFirstPlatform final : public vx380::Platform {
 public:
  using RingWrite = bool (*)(std::string_view line);
  using ChannelWrite = void (*)(const std::string& line);
  // `withoutRing`: the system's channel without its ring, for `ring` off.
  explicit RingFirstPlatform(RingWrite write, ChannelWrite withoutRing = nullptr)
      : write_(write), withoutRing_(withoutRing) {}
  bool ring = true;
  void WriteDebugLine(const std::string& ansi) override {
    if (!ring && withoutRing_) return withoutRing_(ansi);
    if (ring && write_(ansi)) return;
    sys_.WriteDebugLine(ansi);
  }
  bool OpenSettingsKey(vx380::Long key, const std::string& subKey, vx380::RegKeyHandle& opened) override {
    return sys_.OpenSettingsKey(key, subKey, opened);
  }
  bool QuerySettingsValue(vx380::RegKeyHandle key, const std::string& name, unsigned char* data,
                     std::uint32_t* size) override {
    return sys_.QuerySettingsValue(key, name, data, size);
  }
  void CloseSettingsKey(vx380::RegKeyHandle key) override { sys_.CloseSettingsKey(key); }
  std::uint64_t SettingsGeneration(vx380::Long key, const std::string& subKey) override {
    return sys_.SettingsGeneration(key, subKey);
  }
  vx380::Long ShowMessageBox(const String& p, vx380::Long s, const String& t, const String& h, vx380::Long c) override {
    return sys_.ShowMessageBox(p, s, t, h, c);
  }
  vx380::Long TickCount() override { return sys_.TickCount(); }
  vx380::Long OpenTextFile(const String& path, bool truncate, vx380::FileHandle& file) override {
    return sys_.OpenTextFile(path, truncate, file);
  }
  vx380::Long WriteTextFile(vx380::FileHandle file, const std::string& bytes) override {
    return sys_.WriteTextFile(file, bytes);
  }
  void CloseTextFile(vx380::FileHandle file) override { sys_.CloseTextFile(file); }
  vx380::ModuleHandle LoadResourceModule(const String& path) override { return sys_.LoadResourceModule(path); }
  void FreeResourceModule(vx380::ModuleHandle module) override { sys_.FreeResourceModule(module); }
  std::string LoadResourceString(vx380::ModuleHandle m, vx380::Long id, int chars) override {
    return sys_.LoadResourceString(m, id, chars);
  }
  bool DesktopFolder(String& path) override { return sys_.DesktopFolder(path); }
  bool GetEnvironment(const String& name, String& value) override { return sys_.GetEnvironment(name, value); }
  String CurrentDateText() override { return sys_.CurrentDateText(); }
  String CurrentTimeText() override { return sys_.CurrentTimeText(); }
  String CurrentDateTimeText() override { return sys_.CurrentDateTimeText(); }
  char16_t DecimalSeparator() override { return sys_.DecimalSeparator(); }
  std::string ToAnsi(const String& text) override { return sys_.ToAnsi(text); }
  String FromAnsi(const std::string& bytes) override { return sys_.FromAnsi(bytes); }

 private:
  RingWrite write_;
  ChannelWrite withoutRing_;
  vx380::Platform& sys_ = vx380::SystemPlatform();
};

}  // namespace vx380::bench
