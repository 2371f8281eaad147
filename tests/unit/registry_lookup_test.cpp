// LookUpValueForKey: registry data as text, byte for byte, with the key closed on every path.
#include <gtest/gtest.h>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using testing::kHKLM;

const std::string kKey = "SOFTWARE\\Meridox\\Applications\\Sample.Application\\ErrorReporting\\ReportingLevel";
const String kKeyW = u"SOFTWARE\\Meridox\\Applications\\Sample.Application\\ErrorReporting\\ReportingLevel";
const String k255Spaces(255, u' ');

class RegistryLookup : public testing::CoreTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(fake.openRegKeys, 0) << "a key was left open";
    CoreTest::TearDown();
  }

  // The lookup as the component's callers make it: the default value, named "".
  Boolean LookUpDefault(String& value, Long root = kHKeyCurrentUser) {
    return log.LookUpValueForKey(root, kKeyW, value, Variant(String{}));
  }

  ErrorLog log;
};

TEST_F(RegistryLookup, StringValueIsReadWithoutItsNul) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "", "Log");
  String value = u"before";
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, u"Log");
}

TEST_F(RegistryLookup, EmptyStringIsTrueAndEmpty) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "", "");
  String value = u"before";
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, u"");
}

TEST_F(RegistryLookup, BufferHolds255Bytes) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "", std::string(254, 'x'));
  String value;
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, String(254, u'x'));

  // 255 characters and the NUL do not fit: the work buffer of blanks is left behind.
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "", std::string(255, 'y'));
  value = u"before";
  EXPECT_EQ(LookUpDefault(value), kFalse);
  EXPECT_EQ(value.size(), 255u);
}

TEST_F(RegistryLookup, ValueIsTheDataLessItsLastByte) {
  fake.SetRegistryBytes(kHKeyCurrentUser, kKey, "", {'A', 'B', 'C'});  // stored without a NUL
  String value;
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, u"AB");

  // A double word of 1: four bytes give three characters, U+0001 and two NULs.
  fake.SetRegistryBytes(kHKeyCurrentUser, kKey, "", {1, 0, 0, 0});
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, String(u"\x01\0\0", 3));
}

TEST_F(RegistryLookup, AnsiBytesAreConvertedToText) {
  fake.SetRegistryBytes(kHKeyCurrentUser, kKey, "", {'C', 'a', 'f', 0xE9, 0});
  String value;
  EXPECT_EQ(LookUpDefault(value), kTrue);
  EXPECT_EQ(value, u"Caf\u00e9");
}

TEST_F(RegistryLookup, ValueWithoutDataIsFalse) {
  fake.SetRegistryBytes(kHKeyCurrentUser, kKey, "", {});
  String value = u"before";
  EXPECT_EQ(LookUpDefault(value), kFalse);
  EXPECT_EQ(value, k255Spaces);
}

TEST_F(RegistryLookup, KeyWithoutDefaultValueIsFalseWithBlanks) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "Other", "Log");
  String value = u"before";
  EXPECT_EQ(LookUpDefault(value), kFalse);
  EXPECT_EQ(value, k255Spaces);
}

TEST_F(RegistryLookup, MissingKeyLeavesValueUntouched) {
  String value = u"before";
  EXPECT_EQ(LookUpDefault(value), kFalse);
  EXPECT_EQ(value, u"before");
  // The other hive is another key.
  fake.SetRegistryString(kHKLM, kKey, "", "Log");
  EXPECT_EQ(LookUpDefault(value, kHKeyCurrentUser), kFalse);
  EXPECT_EQ(value, u"before");
  EXPECT_EQ(LookUpDefault(value, kHKLM), kTrue);
  EXPECT_EQ(value, u"Log");
}

TEST_F(RegistryLookup, OmittedValueNameReadsNothing) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "", "Log");
  String value = u"before";
  EXPECT_EQ(log.LookUpValueForKey(kHKeyCurrentUser, kKeyW, value), kFalse);
  EXPECT_EQ(value, k255Spaces);
  EXPECT_EQ(fake.registryReads.size(), 1u);  // the key was opened, and closed again (TearDown)
}

TEST_F(RegistryLookup, NamedValueIsRead) {
  fake.SetRegistryString(kHKeyCurrentUser, kKey, "Extra", "42");
  String value;
  EXPECT_EQ(log.LookUpValueForKey(kHKeyCurrentUser, kKeyW, value, Variant(u"Extra")), kTrue);
  EXPECT_EQ(value, u"42");
}

}  // namespace
}  // namespace vx380
