// What every platform keeps, checked the same way against each: the recording fake, the POSIX
// platform and the Windows platform. A suite instantiates it with a Place that says where the
// platform may make a file and how a settings value is stored.
//
//   struct Place {
//     Platform& Under();                      // the platform under test
//     String ScratchFile();                   // a file name the platform may create
//     void StoreString(const std::string& key, const std::string& name, const std::string& text);
//     static constexpr bool kThreadSafe;      // false for a recorder meant for one thread
//   };
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "vx380/Platform.h"

namespace vx380::testcases {

inline const std::string kContractKey = "Software\\VX380Test\\Contract";

template <class Place>
class PlatformContract : public ::testing::Test {
 protected:
  Place place;
  Platform& platform() { return place.Under(); }
};

TYPED_TEST_SUITE_P(PlatformContract);

TYPED_TEST_P(PlatformContract, AFileHandleIsHonouredUntilItIsClosedAndNoOtherValueIs) {
  Platform& p = this->platform();
  FileHandle file = 0;
  ASSERT_EQ(p.OpenTextFile(this->place.ScratchFile(), true, file), 0);
  EXPECT_EQ(p.WriteTextFile(file, "line\r\n"), 0);
  p.CloseTextFile(file);
  EXPECT_EQ(p.WriteTextFile(file, "late\r\n"), rt::kBadFileName) << "a closed handle";
  p.CloseTextFile(file);  // twice: nothing happens
  constexpr FileHandle kMadeUp = 0x5eed1234;
  EXPECT_EQ(p.WriteTextFile(kMadeUp, "x"), rt::kBadFileName) << "a made-up handle";
  p.CloseTextFile(kMadeUp);
  FileHandle again = 0;
  ASSERT_EQ(p.OpenTextFile(this->place.ScratchFile(), false, again), 0) << "the file is free again";
  EXPECT_EQ(p.WriteTextFile(again, "more\r\n"), 0);
  p.CloseTextFile(again);
}

TYPED_TEST_P(PlatformContract, SettingsAreReadAsTheRegistryReadsThem) {
  Platform& p = this->platform();
  this->place.StoreString(kContractKey, "Greeting", "hello");
  RegKeyHandle key = 0;
  ASSERT_TRUE(p.OpenSettingsKey(kHKeyCurrentUser, kContractKey, key));
  std::uint32_t size = 0;
  ASSERT_TRUE(p.QuerySettingsValue(key, "Greeting", nullptr, &size)) << "a null buffer asks the size";
  EXPECT_EQ(size, 6u) << "the text and its NUL";
  unsigned char small[3] = {};
  std::uint32_t smallSize = sizeof small;
  EXPECT_FALSE(p.QuerySettingsValue(key, "Greeting", small, &smallSize)) << "data that do not fit fail";
  unsigned char data[16] = {};
  std::uint32_t dataSize = sizeof data;
  ASSERT_TRUE(p.QuerySettingsValue(key, "Greeting", data, &dataSize));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataSize), std::string("hello", 6));
  EXPECT_FALSE(p.QuerySettingsValue(key, "Greeting", data, nullptr)) << "a null size fails";
  EXPECT_FALSE(p.QuerySettingsValue(key, "Absent", data, &dataSize));
  p.CloseSettingsKey(key);
  p.CloseSettingsKey(kHKeyCurrentUser);  // a root: nothing happens
  p.CloseSettingsKey(0x5eed1234);        // unknown: nothing happens
  RegKeyHandle missing = 0;
  EXPECT_FALSE(p.OpenSettingsKey(kHKeyCurrentUser, kContractKey + "\\Absent", missing));
}

TYPED_TEST_P(PlatformContract, NoModuleIsNoModuleAndTheCodePageMarksWhatItCannotHold) {
  Platform& p = this->platform();
  EXPECT_EQ(p.LoadResourceModule(u"no-such-folder\\no-such-module.dll"), ModuleHandle{0});
  p.FreeResourceModule(0);  // nothing happens
  EXPECT_EQ(p.ToAnsi(u"plain text"), "plain text");
  EXPECT_EQ(p.FromAnsi("plain text"), u"plain text");
  EXPECT_EQ(p.ToAnsi(u"\u4e2d"), "?");
  const char16_t separator = p.DecimalSeparator();
  EXPECT_TRUE(separator == u'.' || separator == u',') << static_cast<int>(separator);
  EXPECT_FALSE(p.CurrentDateTimeText().empty());
}

// Every member may be called from several threads at once, debug lines included.
TYPED_TEST_P(PlatformContract, ThreadsMayCallAtOnce) {
  if constexpr (!TypeParam::kThreadSafe) GTEST_SKIP() << "a recorder for one thread";
  Platform& p = this->platform();
  this->place.StoreString(kContractKey, "Shared", "1");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        RegKeyHandle key = 0;
        unsigned char data[8];
        std::uint32_t size = sizeof data;
        if (!p.OpenSettingsKey(kHKeyCurrentUser, kContractKey, key)) ++failures;
        else if (!p.QuerySettingsValue(key, "Shared", data, &size) || size != 2) ++failures;
        p.CloseSettingsKey(key);
        p.WriteDebugLine("contract " + std::to_string(t) + " " + std::to_string(i) + "\n");
        if (p.ToAnsi(u"abc") != "abc") ++failures;
        p.TickCount();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, AFileHandleIsHonouredUntilItIsClosedAndNoOtherValueIs,
                            SettingsAreReadAsTheRegistryReadsThem,
                            NoModuleIsNoModuleAndTheCodePageMarksWhatItCannotHold, ThreadsMayCallAtOnce);

}  // namespace vx380::testcases
