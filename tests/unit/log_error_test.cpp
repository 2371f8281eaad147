// LogError: box, debugger line, error log and raise by reporting level; the pending error;
// the banner; files that cannot be opened or written.
#include <gtest/gtest.h>

#include <thread>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

const String kLog = u"C:\\logs\\app.log";
const std::string kBanner =
    "==============================\r\n3/5/2021 - 2:07:09 PM\r\n==============================\r\n";
const std::string kFullLine = "ERROR: App1 - SaveFile described as: Disk full, Error Number is: 1000";

class LogErrorTest : public testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    log.Initialize(u"App", u"");
    log.LogFilename(kLog);
  }
  // The full call: source App1, procedure SaveFile, number 1000, help file and context.
  void FullCall(Boolean raise) {
    log.LogError(u"App1", u"Disk full", u"help.chm", 77, 1000, u"SaveFile", 48, 0, raise);
  }
  std::string LogText() { return fake.files.count(kLog) ? fake.files[kLog] : std::string("<no file>"); }
  void ForgetOutput() {
    fake.debugLines.clear();
    fake.boxes.clear();
  }

  ErrorLog log;
};

// ---- One call, by reporting level -------------------------------------------------------

struct LevelRow {
  mxReportingLevelConstants level;
  bool raise;
  bool box;
};

void PrintTo(const LevelRow& row, std::ostream* os) {
  *os << "level " << row.level << (row.raise ? ", raise" : ", no raise");
}

class ByReportingLevel : public LogErrorTest, public ::testing::WithParamInterface<std::tuple<LevelRow, bool>> {};

TEST_P(ByReportingLevel, BoxDebugLineLogLineAndRaise) {
  const auto [row, startedEarlier] = GetParam();
  const bool logs = row.level == mxReportingLevelLog || row.level == mxReportingLevelLogAndDisplay;
  std::string expectedLog;
  if (startedEarlier) {
    log.ReportingLevel(mxReportingLevelLog);
    log.LogError(u"Pre", u"earlier", u"", 0, 1);
    expectedLog = LogText();
    ForgetOutput();
  }
  log.ReportingLevel(row.level);
  if (startedEarlier || logs) {
    if (!startedEarlier) expectedLog = kBanner;
    expectedLog += kFullLine + "\r\n";
  } else {
    expectedLog = "<no file>";
  }

  bool raised = false;
  try {
    FullCall(row.raise ? kTrue : kFalse);
  } catch (const AutomationError& e) {
    raised = true;
    EXPECT_EQ(e.error(), (ErrObject{1000, u"App1", u"Disk full", u"help.chm", 77}));
  }

  EXPECT_EQ(raised, row.raise);
  ASSERT_EQ(fake.boxes.size(), row.box ? 1u : 0u);
  if (row.box) {
    EXPECT_EQ(fake.boxes[0].prompt, u"Disk full");
    EXPECT_EQ(fake.boxes[0].style, 48);
    EXPECT_EQ(fake.boxes[0].title, u"App1");
    EXPECT_EQ(fake.boxes[0].helpFile, u"");  // the box gets no help reference
    EXPECT_EQ(fake.boxes[0].helpContext, 0);
  }
  EXPECT_EQ(fake.debugLines, (std::vector<std::string>{kFullLine + "\n"}));
  EXPECT_EQ(LogText(), expectedLog);
}

std::string LevelRowName(const ::testing::TestParamInfo<std::tuple<LevelRow, bool>>& info) {
  const LevelRow& row = std::get<0>(info.param);
  static const char* const names[] = {"Off", "Log", "Display", "LogAndDisplay"};
  return std::string(names[row.level]) + (row.raise ? "_Raise" : "_NoRaise") +
         (std::get<1>(info.param) ? "_LogStartedEarlier" : "_FreshLog");
}

INSTANTIATE_TEST_SUITE_P(Table, ByReportingLevel,
                         ::testing::Combine(::testing::Values(LevelRow{mxReportingLevelOff, false, false},
                                                              LevelRow{mxReportingLevelOff, true, false},
                                                              LevelRow{mxReportingLevelLog, false, false},
                                                              LevelRow{mxReportingLevelLog, true, false},
                                                              LevelRow{mxReportingLevelDisplay, false, true},
                                                              LevelRow{mxReportingLevelDisplay, true, false},
                                                              LevelRow{mxReportingLevelLogAndDisplay, false, true},
                                                              LevelRow{mxReportingLevelLogAndDisplay, true, false}),
                                            ::testing::Bool()),
                         LevelRowName);

// Records the order of the visible effects of one call.
class OrderRecordingPlatform : public testing::FakePlatform {
 public:
  std::vector<std::string> events;
  Long ShowMessageBox(const String& prompt, Long style, const String& title, const String& helpFile,
                      Long helpContext) override {
    events.push_back("box");
    return FakePlatform::ShowMessageBox(prompt, style, title, helpFile, helpContext);
  }
  void WriteDebugLine(const std::string& ansi) override {
    events.push_back("debug");
    FakePlatform::WriteDebugLine(ansi);
  }
  Long WriteTextFile(FileHandle file, const std::string& bytes) override {
    events.push_back(bytes.rfind("=====", 0) == 0 ? "banner" : "line");
    return FakePlatform::WriteTextFile(file, bytes);
  }
};

TEST_F(LogErrorTest, EffectsComeInOrderBannerBoxDebugLineLogLine) {
  OrderRecordingPlatform ordered;
  Platform* previous = SetPlatform(&ordered);
  log.ReportingLevel(mxReportingLevelLogAndDisplay);
  FullCall(kFalse);
  SetPlatform(previous);
  EXPECT_EQ(ordered.events, (std::vector<std::string>{"banner", "box", "debug", "line"}));
}

// ---- The thread's pending error ---------------------------------------------------------

TEST_F(LogErrorTest, PendingErrorIsRestoredExactly) {
  const ErrObject pending{53, u"HostApp", u"File not found", u"host.hlp", 1234};
  log.ReportingLevel(mxReportingLevelLogAndDisplay);
  Err() = pending;
  log.LogError(u"App1", u"Disk full", u"help.chm", 77, 61, u"SaveFile");
  EXPECT_EQ(Err(), pending);

  // bRaise without a positive number raises nothing and restores too.
  log.LogError(u"App1", u"Disk full", u"", 0, 0, u"", 48, 0, kTrue);
  EXPECT_EQ(Err(), pending);
  log.LogError(u"App1", u"Disk full", u"", 0, -1, u"", 48, 0, kTrue);
  EXPECT_EQ(Err(), pending);
}

TEST_F(LogErrorTest, RaisedErrorIsTheThreadsError) {
  Err() = ErrObject{53, u"HostApp", u"File not found", u"", 0};
  EXPECT_THROW(FullCall(kTrue), AutomationError);
  EXPECT_EQ(Err(), (ErrObject{1000, u"App1", u"Disk full", u"help.chm", 77}));
}

// ---- The error line ---------------------------------------------------------------------

TEST_F(LogErrorTest, LinePieces) {
  log.LogError(u"App1", u"Disk full");
  log.LogError(u"App1", u"Disk full", u"", 0, -1, u"Proc");
  log.LogError(u"App1", u"");
  log.LogError(u"", u"no source");
  testing::ClearApplicationName();
  log.LogError(u"", u"no name at all");
  EXPECT_EQ(fake.Lines(), (std::vector<String>{
                              u"ERROR: App1 - described as: Disk full, Error Number is: 0",
                              u"ERROR: App1 - Proc described as: Disk full",
                              u"ERROR: App1 - described as: Unknown error, Error Number is: 0",
                              u"ERROR: App - described as: no source, Error Number is: 0",
                              u"ERROR: Error - described as: no name at all, Error Number is: 0",
                          }));
}

TEST_F(LogErrorTest, EmptyDescriptionIsUnknownErrorEverywhere) {
  log.ReportingLevel(mxReportingLevelDisplay);
  log.LogError(u"S", u"");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"Unknown error");
  try {
    log.LogError(u"S", u"", u"", 0, 9, u"", 48, 0, kTrue);
    FAIL() << "expected a raise";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.error().description, u"Unknown error");
  }
}

// ---- Defaults on a thread that has not been initialised ---------------------------------

TEST_F(LogErrorTest, UninitialisedThreadGetsTheDefaults) {
  testing::FreshThread();
  log.ReportingLevel(mxReportingLevelLogAndDisplay);  // lost at the first LogError
  log.LogFilename(kLog);                              // kept
  log.LogError(u"", u"first");
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.openCount, 0);
  EXPECT_EQ(fake.Lines(), (std::vector<String>{u"ERROR: VeltrixPFD - described as: first, Error Number is: 0"}));
  EXPECT_EQ(log.ApplicationName(), u"VeltrixPFD");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelOff);
  EXPECT_EQ(log.LogFilename(), kLog);

  // A level set after the defaults stays in force; Initialize changes nothing any more.
  log.ReportingLevel(mxReportingLevelDisplay);
  log.Initialize(u"Later", u"");
  log.LogError(u"", u"second");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].title, u"VeltrixPFD");
}

// ---- User texts from the resource module ------------------------------------------------

TEST_F(LogErrorTest, UserTextBecomesTheBoxPrompt) {
  testing::FreshThread();
  fake.resourceFiles[u"C:\\res.dll"][42] = "Please save your work and restart.";
  fake.resourceFiles[u"C:\\res.dll"][43] = std::string(600, 'u');
  log.Initialize(u"App", u"C:\\res.dll");
  log.ReportingLevel(mxReportingLevelLogAndDisplay);
  log.LogFilename(kLog);

  log.LogError(u"S", u"Disk full", u"", 0, 61, u"", 48, 42);
  log.LogError(u"S", u"No text behind it", u"", 0, 61, u"", 48, 99);
  log.LogError(u"S", u"Long text", u"", 0, 61, u"", 48, 43);
  ASSERT_EQ(fake.boxes.size(), 3u);
  EXPECT_EQ(fake.boxes[0].prompt, u"Please save your work and restart.");
  EXPECT_EQ(fake.boxes[1].prompt, u"No text behind it");
  EXPECT_EQ(fake.boxes[2].prompt, String(511, u'u'));
  EXPECT_EQ(fake.Lines()[0], u"ERROR: S - described as: Disk full, Error Number is: 61");
  EXPECT_NE(LogText().find("described as: Disk full"), std::string::npos);

  try {
    log.LogError(u"S", u"Disk full", u"", 0, 61, u"", 48, 42, kTrue);
    FAIL() << "expected a raise";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.error().description, u"Disk full");
  }
}

// ---- The error log file -----------------------------------------------------------------

TEST_F(LogErrorTest, OneBannerPerThreadAndOneLinePerError) {
  log.ReportingLevel(mxReportingLevelLog);
  log.LogError(u"A", u"one");
  log.LogError(u"A", u"two");
  const std::string mainThread = kBanner + "ERROR: A - described as: one, Error Number is: 0\r\n" +
                                 "ERROR: A - described as: two, Error Number is: 0\r\n";
  EXPECT_EQ(LogText(), mainThread);
  EXPECT_EQ(fake.openFiles, 0);

  // The main thread waits in join while the other uses the fake.
  std::thread other([] {
    ErrorLog second;
    second.Initialize(u"B", u"");
    second.ReportingLevel(mxReportingLevelLog);
    second.LogFilename(kLog);
    second.LogError(u"B", u"three");
  });
  other.join();
  EXPECT_EQ(LogText(), mainThread + kBanner + "ERROR: B - described as: three, Error Number is: 0\r\n");
}

TEST_F(LogErrorTest, StartedLogKeepsReceivingLinesWithoutNewBanner) {
  log.ReportingLevel(mxReportingLevelLog);
  log.LogError(u"A", u"one");
  log.ReportingLevel(mxReportingLevelOff);
  log.LogError(u"A", u"two");
  EXPECT_EQ(LogText(), kBanner + "ERROR: A - described as: one, Error Number is: 0\r\n" +
                           "ERROR: A - described as: two, Error Number is: 0\r\n");

  // A new file name takes the lines, without a banner.
  log.LogFilename(u"C:\\logs\\new.log");
  log.LogError(u"A", u"three");
  EXPECT_EQ(fake.files[u"C:\\logs\\new.log"], "ERROR: A - described as: three, Error Number is: 0\r\n");
}

TEST_F(LogErrorTest, LogThatCannotBeOpenedIsTriedAgainAtTheNextCall) {
  const ErrObject pending{53, u"HostApp", u"File not found", u"", 0};
  log.ReportingLevel(mxReportingLevelLog);
  fake.failingOpens[kLog] = rt::kPathNotFound;
  Err() = pending;
  EXPECT_NO_THROW(log.LogError(u"A", u"one"));
  EXPECT_EQ(Err(), pending);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.debugLines.size(), 1u);
  EXPECT_EQ(fake.openCount, 1);

  EXPECT_NO_THROW(log.LogError(u"A", u"two"));
  EXPECT_EQ(fake.openCount, 2);

  fake.failingOpens.clear();
  log.LogError(u"A", u"three");
  EXPECT_EQ(LogText(), kBanner + "ERROR: A - described as: three, Error Number is: 0\r\n");
}

TEST_F(LogErrorTest, WriteFailureReachesTheCallerAndTheBannerFileIsClosed) {
  const ErrObject pending{53, u"HostApp", u"File not found", u"", 0};
  log.ReportingLevel(mxReportingLevelLog);
  fake.failingWrites[kLog] = rt::kDiskFull;
  Err() = pending;
  try {
    log.LogError(u"A", u"one", u"", 0, 5, u"", 48, 0, kTrue);
    FAIL() << "expected the write failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), rt::kDiskFull);  // the write failure, not the requested raise of 5
  }
  EXPECT_NE(Err(), pending);
  EXPECT_EQ(fake.openFiles, 0);
  EXPECT_EQ(fake.openCount, 2);  // banner and line
  EXPECT_EQ(fake.debugLines.size(), 1u);

  // The log counts as started: the next error adds its line without a banner.
  fake.failingWrites.clear();
  log.LogError(u"A", u"two");
  EXPECT_EQ(LogText(), "ERROR: A - described as: two, Error Number is: 0\r\n");
}

TEST_F(LogErrorTest, EmptyLogFilenameWritesNothingAndReportsNothing) {
  log.ReportingLevel(mxReportingLevelLogAndDisplay);
  log.LogFilename(u"");
  EXPECT_NO_THROW(log.LogError(u"A", u"one"));
  EXPECT_NO_THROW(log.LogError(u"A", u"two"));
  EXPECT_TRUE(fake.files.empty());
  EXPECT_EQ(fake.boxes.size(), 2u);  // the error boxes only
  EXPECT_EQ(fake.debugLines.size(), 2u);
}

}  // namespace
}  // namespace vx380
