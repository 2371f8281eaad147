// vxtrace as a command-line tool: its messages and exit codes, through the real binary.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>

#include "CaptureFixture.h"
#include "ExampleTrace.h"

namespace {

using namespace vxtrace_test;

class CommandLine : public Capture {
 protected:
  // The example run as a plain text capture, and as a recording of two writers.
  fs::path ExampleFile() {
    std::ofstream file(dir_ / "example.txt");
    for (const char* line : kExample) file << line << "\n";
    return dir_ / "example.txt";
  }
  fs::path TwoWriters() {
    std::ofstream file(dir_ / "two.jsonl");
    file << R"({"time":0,"pid":41,"tid":1,"process":"alpha","text":"RBDEBUG: from alpha\n"})"
         << "\n"
         << R"({"time":0,"pid":42,"tid":2,"process":"beta","text":"RBDEBUG: from beta\n"})"
         << "\n";
    return dir_ / "two.jsonl";
  }
  static long Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }
};

TEST_F(CommandLine, AnUnwritableOutputEndsTheRunBeforeItListens) {
  fs::create_directory(dir_ / "folder");
  const fs::path missing = dir_ / "missing" / "file";
  for (const char* option : {"--out", "--chrome", "--html"}) {
    for (const auto& [path, reason] :
         {std::pair{missing, "No such file or directory"}, std::pair{dir_ / "folder", "Is a directory"}}) {
      // No --timeout: a run that listened anyway would only end when killed.
      EXPECT_EQ(Finish(Start({"--socket", socket_, option, path})), 1) << option << " " << path;
      EXPECT_NE(Err().find("cannot write " + path.string() + ": " + reason), std::string::npos) << Err();
      EXPECT_EQ(Err().find("listening"), std::string::npos) << Err();
      EXPECT_FALSE(fs::exists(socket_));
    }
  }
  // A replay is not read either.
  EXPECT_EQ(Finish(Start({"--read", ExampleFile(), "--html", missing})), 1);
  EXPECT_EQ(Out(), "");
}

TEST_F(CommandLine, AUsageErrorTakesTwoLinesAndStatusTwo) {
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--count"}, {"--raw", "--tree"}, {"--color", "blue"}, {"--follow"}}) {
    EXPECT_EQ(Finish(Start(bad)), 2) << bad[0];
    EXPECT_EQ(Out(), "");
    EXPECT_EQ(Lines(Err()), 2) << Err();
    EXPECT_EQ(Err().rfind("vxtrace: ", 0), 0u) << Err();
    EXPECT_NE(Err().find("\nTry 'vxtrace --help' for more information.\n"), std::string::npos) << Err();
  }
  EXPECT_EQ(Finish(Start({"--help"})), 0);
  EXPECT_EQ(Out().rfind("usage: vxtrace", 0), 0u);
  EXPECT_EQ(Err(), "");
}

TEST_F(CommandLine, TheVersionIsTheProjects) {
  EXPECT_EQ(Finish(Start({"--version"})), 0);
  EXPECT_EQ(Out(), std::string("vxtrace ") + VXTRACE_PROJECT_VERSION + "\n");
}

TEST_F(CommandLine, ByThreadAloneGivesTheSummaryAndATablePerThread) {
  EXPECT_EQ(Finish(Start({"--read", ExampleFile(), "--by-thread"})), 0) << Err();
  const std::string out = Out();
  EXPECT_EQ(out.rfind("routine ", 0), 0u) << "the summary alone, as with --summary: " << out;
  EXPECT_NE(out.find("\nthread 0\nroutine "), std::string::npos) << out;
  EXPECT_NE(out.find("6 lines, 0 errors"), std::string::npos) << out;
}

TEST_F(CommandLine, AFilterThatMatchesNothingIsNamed) {
  const fs::path run = TwoWriters();
  EXPECT_EQ(Finish(Start({"--read", run, "--raw", "--pid", "41", "--pid", "999999", "--process", "gamma"})), 0);
  EXPECT_EQ(Out(), "") << "alpha is pid 41 but not named gamma";
  EXPECT_NE(Err().find("vxtrace: --pid 999999 matched no line\n"), std::string::npos) << Err();
  EXPECT_NE(Err().find("vxtrace: --process gamma matched no line\n"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("--pid 41 "), std::string::npos) << Err();

  EXPECT_EQ(Finish(Start({"--read", run, "--raw", "--include", "from", "--include", "delta", "--exclude", "beta",
                          "--exclude", "omega", "--errors"})),
            0);
  EXPECT_NE(Err().find("--include delta matched no line\n"), std::string::npos) << Err();
  EXPECT_NE(Err().find("--exclude omega hid no line\n"), std::string::npos) << Err();
  EXPECT_NE(Err().find("--errors: no error line came\n"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("from"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("beta"), std::string::npos) << Err();
  EXPECT_EQ(Lines(Err()), 3) << Err();

  // Filters that all matched say nothing.
  EXPECT_EQ(Finish(Start({"--read", run, "--raw", "--process", "beta", "--include", "from"})), 0);
  EXPECT_EQ(Out(), "RBDEBUG: from beta\n");
  EXPECT_EQ(Err(), "");
}

TEST_F(CommandLine, AnExcludedEntryHidesItsExitLine) {
  // "start" is in Startup's entry line only; its exit line says "done".
  EXPECT_EQ(Finish(Start({"--read", ExampleFile(), "--ascii", "--exclude", "start"})), 0) << Err();
  EXPECT_EQ(Out(),
            "| . L5  +40 ms\n"
            "| / Load\n"
            "| | . L120  +9 ms  [x]\n"
            "| \\ Load  16 ms\n");
}

TEST_F(CommandLine, TheReplayOfAnInterruptedCaptureClosesWithTheSameTable) {
  pid_t pid = Start({"--socket", socket_, "--ascii", "--color=never", "--out", dir_ / "rec.jsonl"}, "live");
  ASSERT_TRUE(AppearsSoon(socket_));
  for (int i : {0, 2, 4}) Send(std::string(kExample[i]) + "\n");
  ASSERT_TRUE(OutputHolds("live", "\\ Load  16 ms\n")) << Out("live");
  kill(pid, SIGINT);
  ASSERT_EQ(Finish(pid), 0) << Err("live");
  ASSERT_NE(Out("live").find("still open: Startup\n"), std::string::npos) << Out("live");

  EXPECT_EQ(Finish(Start({"--read", dir_ / "rec.jsonl", "--ascii"}, "replay")), 0) << Err("replay");
  EXPECT_EQ(Out("replay"), Out("live"));
  // A run that ended by itself replays without the table, as it was shown.
  pid = Start({"--socket", socket_, "--ascii", "--count", "1", "--out", dir_ / "counted.jsonl"}, "counted");
  ASSERT_TRUE(AppearsSoon(socket_));
  Send(std::string(kExample[4]) + "\n");
  ASSERT_EQ(Finish(pid), 0) << Err("counted");
  EXPECT_EQ(Finish(Start({"--read", dir_ / "counted.jsonl", "--ascii"}, "recount")), 0);
  EXPECT_EQ(Out("recount"), Out("counted"));
  EXPECT_EQ(Out("recount"), "| \\ Load  16 ms\n");
}

}  // namespace
