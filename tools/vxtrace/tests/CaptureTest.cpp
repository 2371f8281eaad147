// Live capture: the real vxtrace binary on a socket of its own, fed datagrams the
// way the component sends them.
#include <gtest/gtest.h>

#include "ExampleTrace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "CaptureFixture.h"

namespace {

using namespace vxtrace_test;

const char* const kExampleTree =
    "┌ Startup  [start]\n"
    "│ · L5  +40 ms\n"
    "│ ┌ Load\n"
    "│ │ · L120  +9 ms  [x]\n"
    "│ └ Load  16 ms\n"
    "└ Startup  250 ms  [done]\n";

TEST_F(Capture, DrawsTheTreeOfWhatArrivesAndRecordsIt) {
  pid_t pid =
      Start({"--socket", socket_, "--count", "6", "--timeout", "20", "--color=never", "--out", dir_ / "record.txt"});
  ASSERT_TRUE(AppearsSoon(socket_));
  for (const char* line : kExample) Send(std::string(line) + "\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(), kExampleTree);
  // The recording replays as the same tree.
  EXPECT_EQ(Finish(Start({"--read", dir_ / "record.txt"}, "replay")), 0) << Err("replay");
  EXPECT_EQ(Out("replay"), kExampleTree);
  EXPECT_FALSE(fs::exists(socket_)) << "the socket path is given back at exit";
}

TEST_F(Capture, RawModeShowsEachLineAndTheSendingProcess) {
  pid_t pid = Start({"--socket", socket_, "--raw", "--pids", "--count", "2", "--timeout", "20"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send("RBDEBUG: one\nRBDEBUG: two\n");  // one call that holds two lines
  Send("\n");                            // an empty trace line
  EXPECT_EQ(Finish(pid), 0) << Err();
  std::string tag = "[" + std::to_string(getpid()) + "] ";
  EXPECT_EQ(Out(), tag + "RBDEBUG: one\n" + tag + "RBDEBUG: two\n" + tag + "\n");
}

TEST_F(Capture, FindsTheSocketThroughTheEnvironment) {
  setenv("VX380_DEBUG_SOCKET", socket_.c_str(), 1);
  pid_t pid = Start({"--count", "1", "--timeout", "20", "--summary"});
  unsetenv("VX380_DEBUG_SOCKET");
  ASSERT_TRUE(AppearsSoon(socket_));
  Send(std::string(kExample[5]) + "\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_NE(Out().find("Startup       1        250       250      250     250.0      250\n"), std::string::npos)
      << Out();
}

TEST_F(Capture, RefusesWhileAnotherListenerHoldsTheSocket) {
  pid_t first = Start({"--socket", socket_, "--count", "1", "--timeout", "20"}, "first");
  ASSERT_TRUE(AppearsSoon(socket_));
  pid_t second = Start({"--socket", socket_, "--timeout", "20"}, "second");
  EXPECT_EQ(Finish(second), 3);
  EXPECT_NE(Err("second").find("already holds"), std::string::npos) << Err("second");
  ASSERT_TRUE(fs::exists(socket_)) << "the refused one must not take the path away";
  Send("RBDEBUG: still mine\n");
  EXPECT_EQ(Finish(first), 0);
  EXPECT_EQ(Out("first"), "» still mine\n");
}

TEST_F(Capture, TakesOverASocketLeftByADeadListener) {
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);  // the file stays behind, as after a crash
  ASSERT_TRUE(fs::exists(socket_));

  pid_t pid = Start({"--socket", socket_, "--count", "1", "--timeout", "20", "--ascii"});
  ASSERT_TRUE(ErrorHolds("run", "listening on")) << Err();
  Send("RBDEBUG Stack is empty\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(), "! RBDEBUG Stack is empty\n");
  EXPECT_NE(Err().find("replaced a stale socket"), std::string::npos) << Err();
}

TEST_F(Capture, LeavesAFileThatIsNotASocketAlone) {
  std::ofstream(socket_) << "precious";
  pid_t pid = Start({"--socket", socket_, "--timeout", "5"});
  EXPECT_EQ(Finish(pid), 1);
  EXPECT_EQ(Slurp(socket_), "precious");
}

TEST_F(Capture, ReportsATimeoutBeforeTheCountCame) {
  pid_t pid = Start({"--socket", socket_, "--count", "2", "--timeout", "0.3"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send("RBDEBUG: only one\n");
  EXPECT_EQ(Finish(pid), 4);
  EXPECT_EQ(Out(), "» only one\n");
  EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(Capture, CtrlCEndsCleanlyWithASummary) {
  pid_t pid = Start({"--socket", socket_, "--ascii"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send(std::string(kExample[0]) + "\n");
  Send(std::string(kExample[2]) + "\n");
  Send(std::string(kExample[4]) + "\n");
  ASSERT_TRUE(OutputHolds("run", "\\ Load  16 ms\n")) << Out();
  kill(pid, SIGINT);
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(),
            "/ Startup  [start]\n"
            "| / Load\n"
            "| \\ Load  16 ms\n"
            "\n"
            "routine   calls   total ms   self ms   min ms    avg ms   max ms\n"
            "Load          1         16        16       16      16.0       16\n"
            "Startup       1          -         -        -         -        -\n"
            "3 lines, 0 errors, 0 warnings, 0 unrecognised, 0 unbalanced\n"
            "still open: Startup\n");
  EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(Capture, RendersACapturedFileWithWindowsLineEnds) {
  std::string crlf;
  for (const char* line : kExample) crlf += std::string(line) + "\r\n";
  std::ofstream(dir_ / "capture.txt", std::ios::binary) << crlf;
  EXPECT_EQ(Finish(Start({"--read", dir_ / "capture.txt"})), 0) << Err();
  EXPECT_EQ(Out(), kExampleTree);

  // From standard input, with the last line end missing.
  std::ofstream(dir_ / "stdin.txt", std::ios::binary) << "RBDEBUG: a\r\nRBDEBUG: b";
  EXPECT_EQ(Finish(Start({"--read", "-", "--ascii"}, "run", dir_ / "stdin.txt")), 0);
  EXPECT_EQ(Out(), "> a\n> b\n");

  EXPECT_EQ(Finish(Start({"--read", dir_ / "missing.txt"})), 1);
}

}  // namespace

namespace {

using namespace vxtrace_test;

// Two processes of two threads each, every thread tracing nested routines and a
// recursive one, with a multi-line message and an error.
class TracedHosts : public Capture {
 protected:
  std::vector<std::string> View() {
    return {"--tree", "--pids", "--summary", "--by-thread", "--time", "--color=never", "--ascii"};
  }
  void CaptureRun(int processes) {
    std::vector<std::string> args = {"--socket",  socket_, "--count", std::to_string(processes * 2 * 13),
                                     "--timeout", "30",    "--out",   dir_ / "rec.jsonl"};
    for (const std::string& a : View()) args.push_back(a);
    pid_t pid = Start(args, "live");
    ASSERT_TRUE(AppearsSoon(socket_));
    std::vector<pid_t> senders;
    for (int p = 0; p < processes; ++p)
      senders.push_back(Spawn({SENDER_EXE, socket_, "2", "nested"}, "sender" + std::to_string(p)));
    for (pid_t s : senders) ASSERT_EQ(Finish(s), 0);
    ASSERT_EQ(Finish(pid), 0) << Err("live");
  }
};

TEST_F(TracedHosts, EachThreadGetsItsOwnTreeAndTheTimesAddUp) {
  CaptureRun(1);
  const std::string out = Out("live");
  // Whole run: two threads' worth; the recursive routine's total counts its outermost calls.
  EXPECT_NE(out.find("Main          2         60        22       30      30.0       30\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Fib           6         18        18        2       5.3        9\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Load          2         20        20       10      10.0       10\n"), std::string::npos) << out;
  // Per thread: self times add up to the root's total (22/2 + 18/2 + 20/2 = 30).
  size_t threads = 0;
  for (size_t at = out.find("\nthread "); at != std::string::npos; at = out.find("\nthread ", at + 1)) {
    ++threads;
    EXPECT_NE(out.find("Main          1         30        11       30      30.0       30\n", at), std::string::npos);
  }
  EXPECT_EQ(threads, 2u) << out;
  EXPECT_NE(out.find("26 lines, 2 errors, 0 warnings, 0 unrecognised, 0 unbalanced\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("still open"), std::string::npos) << out;
  // Every line is tagged with its thread, and each thread's tree closes at its own level.
  size_t closes = 0;
  for (size_t at = out.find("\\ Main  30 ms"); at != std::string::npos; at = out.find("\\ Main  30 ms", at + 1)) {
    const size_t bol = out.rfind('\n', at) + 1;
    EXPECT_NE(out.substr(bol, at - bol).find('/'), std::string::npos)
        << "no pid/tid tag: " << out.substr(bol, at - bol);
    EXPECT_EQ(out.substr(at - 2, 2), "] ") << "Main closes at the root of its thread's tree";
    ++closes;
  }
  EXPECT_EQ(closes, 2u);
}

TEST_F(TracedHosts, TheRecordingReplaysExactlyWhatWasShownLive) {
  CaptureRun(2);
  std::vector<std::string> args = {"--read", dir_ / "rec.jsonl"};
  for (const std::string& a : View()) args.push_back(a);
  EXPECT_EQ(Finish(Start(args, "replay")), 0) << Err("replay");
  EXPECT_EQ(Out("replay"), Out("live"));
  EXPECT_NE(Out("live").find("|   | 1 , 0 |\n"), std::string::npos) << "a multi-line message stays one";

  // One JSON object per message, each naming its process and thread.
  std::ifstream rec(dir_ / "rec.jsonl");
  std::string line;
  int objects = 0;
  while (std::getline(rec, line)) {
    ++objects;
    EXPECT_EQ(line.find("\"tid\":0,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"process\":\"vxtrace_channel"), std::string::npos) << line;
  }
  EXPECT_EQ(objects, 2 * 2 * 13);

  // Filters apply to a replay as they do live.
  EXPECT_EQ(Finish(Start({"--read", dir_ / "rec.jsonl", "--errors", "--ascii", "--pids"}, "errors")), 0);
  const std::string errors = Out("errors");
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 8) << errors;  // 4 times Main, then its error
  EXPECT_EQ(errors.find("Load"), std::string::npos) << errors;
}

TEST_F(Capture, KeepsEveryLineOfFourBusyProcessesInOrder) {
  constexpr int kProcesses = 4, kThreads = 2, kLines = 10000;
  pid_t pid = Start({"--socket", socket_, "--raw", "--pids", "--count", std::to_string(kProcesses * kThreads * kLines),
                     "--timeout", "100"});
  ASSERT_TRUE(AppearsSoon(socket_));
  std::vector<pid_t> senders;
  for (int p = 0; p < kProcesses; ++p)
    senders.push_back(Spawn({SENDER_EXE, socket_, std::to_string(kThreads), "numbered", std::to_string(kLines)},
                            "sender" + std::to_string(p)));
  for (pid_t s : senders) ASSERT_EQ(Finish(s), 0);
  ASSERT_EQ(Finish(pid), 0) << Err();

  std::map<std::string, long> next;  // "[pid/tid] <thread>" -> the number expected next
  std::istringstream out(Out());
  std::string line;
  long total = 0;
  while (std::getline(out, line)) {
    const size_t close = line.find("] RBDEBUG: ");
    ASSERT_NE(close, std::string::npos) << line;
    const std::string rest = line.substr(close + 11);
    const size_t blank = rest.find(' ');
    long& expected = next[line.substr(0, close) + " " + rest.substr(0, blank)];
    ASSERT_EQ(std::stol(rest.substr(blank + 1)), expected) << line;
    ++expected;
    ++total;
  }
  EXPECT_EQ(total, kProcesses * kThreads * kLines);
  EXPECT_EQ(next.size(), static_cast<size_t>(kProcesses * kThreads));
  for (const auto& [writer, count] : next) EXPECT_EQ(count, kLines) << writer;
}

// Credentials are asked for before the socket can receive anything: datagrams that arrive
// while vxtrace starts are its own user's like any other.
TEST_F(Capture, NoLineOfItsOwnUserIsRefusedWhileTheListenerStarts) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> flood;
  for (int t = 0; t < 2; ++t) {
    flood.emplace_back([&] {
      int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::strcpy(addr.sun_path, socket_.c_str());
      const std::string line = "RBDEBUG: early\n";
      while (!stop) sendto(fd, line.data(), line.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      close(fd);
    });
  }
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    const std::string tag = "round" + std::to_string(round);
    EXPECT_EQ(Finish(Start({"--socket", socket_, "--raw", "--count", "50", "--timeout", "120"}, tag)), 0) << Err(tag);
    EXPECT_EQ(Err(tag).find("from other users"), std::string::npos) << "round " << round << ": " << Err(tag);
  }
  stop = true;
  for (std::thread& t : flood) t.join();
}

// An output slower than the senders holds the socket back: senders wait for room, and
// vxtrace never reads a line only to throw it away.
TEST_F(Capture, ASlowPipeHoldsTheSendersBackAndLosesNothing) {
  constexpr int kProcesses = 4, kLines = 50000;
  constexpr long kTotal = long{kProcesses} * 2 * kLines;
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t pid = Start({"--socket", socket_, "--no-ring", "--raw", "--count", std::to_string(kTotal), "--timeout", "200"},
                    "run", "", {-1, out[1]});
  close(out[1]);
  SlowReader reader(out[0], 4ms);  // about 4 MB/s, far below what the senders offer
  ASSERT_TRUE(AppearsSoon(socket_));
  std::vector<pid_t> senders;
  for (int p = 0; p < kProcesses; ++p)
    senders.push_back(
        Spawn({SENDER_EXE, socket_, "2", "numbered", std::to_string(kLines)}, "sender" + std::to_string(p)));
  for (pid_t s : senders) ASSERT_EQ(Finish(s), 0);
  EXPECT_EQ(Finish(pid), 0) << Err();
  reader.Join();
  EXPECT_EQ(CountLines(reader.Text(), "RBDEBUG: "), kTotal);
  EXPECT_EQ(Err().find("lost"), std::string::npos) << Err();
}

TEST_F(Capture, StandardInputIsShownAsItArrives) {
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  pid_t pid = Start({"--read", "-", "--ascii"}, "run", "", {in[0], -1});
  close(in[0]);
  ASSERT_EQ(write(in[1], "RBDEBUG: first\n", 15), 15);
  EXPECT_TRUE(OutputHolds("run", "> first\n")) << "shown before the input ends";
  ASSERT_EQ(write(in[1], "RBDEBUG: second\n", 16), 16);
  close(in[1]);
  EXPECT_EQ(Finish(pid), 0);
  EXPECT_EQ(Out(), "> first\n> second\n");
}

TEST_F(Capture, FollowShowsWhatAGrowingFileGains) {
  const fs::path file = dir_ / "growing.txt";
  std::ofstream(file) << "RBDEBUG: one\n";
  pid_t pid = Start({"--read", file, "--follow", "--ascii"});
  EXPECT_TRUE(OutputHolds("run", "> one\n"));
  std::ofstream(file, std::ios::app) << "RBDEBUG: two\n";
  EXPECT_TRUE(OutputHolds("run", "> two\n"));
  kill(pid, SIGINT);
  EXPECT_EQ(Finish(pid), 0);
}

}  // namespace

namespace {

using namespace vxtrace_test;

TEST_F(Capture, WritesThePicturesOfARecordingAtTheEnd) {
  std::ofstream(dir_ / "run.txt")
      << "RBDEBUG , BEG>>> , ........ , A ,  , EOL \nRBDEBUG , END<<< ,        5 , A ,  , EOL \n";
  EXPECT_EQ(Finish(Start(
                {"--read", dir_ / "run.txt", "--summary", "--chrome", dir_ / "run.json", "--html", dir_ / "run.html"})),
            0)
      << Err();
  EXPECT_EQ(Slurp(dir_ / "run.json").substr(0, 1), "{");
  EXPECT_FALSE(Slurp(dir_ / "run.html").empty());
  EXPECT_NE(Out().find("A             1          5"), std::string::npos) << Out();

  EXPECT_EQ(Finish(Start({"--read", dir_ / "run.txt", "--chrome", dir_ / "missing" / "run.json"}, "bad")), 1);
  EXPECT_NE(Err("bad").find("cannot write"), std::string::npos) << Err("bad");
}

}  // namespace
