// A platform that can tell nobody hears the debug channel spares the core the line; one that
// cannot is always written to. Which kind is installed is looked at again at every installation.
#include <gtest/gtest.h>

#include <new>

#include "CoreTest.h"
#include "FakePlatform.h"
#include "vx380/ErrorLog.h"

namespace vx380::testing {
namespace {

class AwareFake : public ListenerAwarePlatform {
 public:
  bool heard = true;
  int asked = 0;
  FakePlatform inner;
  bool DebugOutputHeard() override {
    ++asked;
    return heard;
  }
  void WriteDebugLine(const std::string& ansi) override { inner.WriteDebugLine(ansi); }
  bool OpenSettingsKey(Long key, const std::string& subKey, RegKeyHandle& opened) override {
    return inner.OpenSettingsKey(key, subKey, opened);
  }
  bool QuerySettingsValue(RegKeyHandle key, const std::string& name, unsigned char* data,
                          std::uint32_t* size) override {
    return inner.QuerySettingsValue(key, name, data, size);
  }
  void CloseSettingsKey(RegKeyHandle key) override { inner.CloseSettingsKey(key); }
  Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                      Long helpContext) override {
    return inner.ShowMessageBox(prompt, style, title, helpFile, helpContext);
  }
  Long TickCount() override { return inner.TickCount(); }
  Long OpenTextFile(const String& path, bool truncate, FileHandle& file) override {
    return inner.OpenTextFile(path, truncate, file);
  }
  Long WriteTextFile(FileHandle file, const std::string& bytes) override { return inner.WriteTextFile(file, bytes); }
  void CloseTextFile(FileHandle file) override { inner.CloseTextFile(file); }
  ModuleHandle LoadResourceModule(const String& path) override { return inner.LoadResourceModule(path); }
  void FreeResourceModule(ModuleHandle module) override { inner.FreeResourceModule(module); }
  std::string LoadResourceString(ModuleHandle module, Long id, int chars) override {
    return inner.LoadResourceString(module, id, chars);
  }
  bool DesktopFolder(String& path) override { return inner.DesktopFolder(path); }
  bool GetEnvironment(const String& name, String& value) override { return inner.GetEnvironment(name, value); }
  String CurrentDateText() override { return inner.CurrentDateText(); }
  String CurrentTimeText() override { return inner.CurrentTimeText(); }
  String CurrentDateTimeText() override { return inner.CurrentDateTimeText(); }
  char16_t DecimalSeparator() override { return inner.DecimalSeparator(); }
  std::string ToAnsi(const String& text) override { return inner.ToAnsi(text); }
  String FromAnsi(const std::string& bytes) override { return inner.FromAnsi(bytes); }
};

TEST(ListenerAware, NobodyHearingSparesTheLinesAndAPlatformThatCannotTellIsAlwaysWritten) {
  ErrorLog log;
  AwareFake aware;
  Platform* previous = SetPlatform(&aware);
  aware.heard = false;
  log.DebugTrace(u"unheard");
  log.RBDEBUGENTER(u"Routine");
  log.RBDEBUGEXIT();
  EXPECT_TRUE(aware.inner.debugLines.empty());
  EXPECT_GE(aware.asked, 3);
  aware.heard = true;
  log.DebugTrace(u"heard");
  EXPECT_EQ(aware.inner.debugLines, std::vector<std::string>{"heard\n"});
  SetPlatform(previous);
}

TEST(ListenerAware, APlainPlatformMadeWhereAnAwareOneLivedIsWrittenTo) {
  ErrorLog log;
  alignas(AwareFake) alignas(FakePlatform) unsigned char storage[sizeof(AwareFake) + sizeof(FakePlatform)];
  auto* aware = new (storage) AwareFake;
  aware->heard = false;
  Platform* previous = SetPlatform(aware);
  log.DebugTrace(u"unheard");
  SetPlatform(previous);
  aware->~AwareFake();
  auto* plain = new (storage) FakePlatform;
  SetPlatform(plain);
  log.DebugTrace(u"written");
  EXPECT_EQ(plain->debugLines, std::vector<std::string>{"written\n"});
  SetPlatform(previous);
  plain->~FakePlatform();
}

}  // namespace
}  // namespace vx380::testing
