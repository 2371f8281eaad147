// vxtrace --read and --follow against inputs no capture would give: endless lines, and a
// followed file that is truncated, replaced or removed under it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>

#include "CaptureFixture.h"
#include "Message.h"
#include "Recording.h"

namespace {

using namespace vxtrace_test;

constexpr long kMiB = 1 << 20;
#ifdef __SANITIZE_ADDRESS__
constexpr long kRuntimeKiB = 16 * 1024;  // the sanitizer's shadow memory and the freed blocks it holds
#else
constexpr long kRuntimeKiB = 0;
#endif

// Appends `bytes` of `c` without holding them, so the test's own memory stays small.
void AppendRun(const fs::path& file, long bytes, char c) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  const std::string piece(kMiB, c);
  for (long done = 0; done < bytes; done += kMiB) out.write(piece.data(), std::min<long>(kMiB, bytes - done));
}

std::vector<vxtrace::Message> Recorded(const fs::path& file) {
  std::vector<vxtrace::Message> messages;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    vxtrace::Message m;
    EXPECT_TRUE(vxtrace::FromJsonLine(line, m)) << line.substr(0, 80) << "...";
    messages.push_back(m);
  }
  return messages;
}

class InputBounds : public Capture {
 protected:
  // Runs vxtrace to its end; its exit status and peak memory.
  int RunMeasured(std::vector<std::string> args, const std::string& tag, long& peakKiB) {
    const pid_t pid = Start(std::move(args), tag);
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid) return -1;
    running_.erase(std::find(running_.begin(), running_.end(), pid));
    peakKiB = use.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

TEST_F(InputBounds, ReadCutsEndlessLinesAtTheCaptureBoundAndCountsThem) {
  const fs::path small = dir_ / "small.txt", big = dir_ / "big.txt";
  std::ofstream(small) << "RBDEBUG: before\nRBDEBUG: after\n";
  long baselineKiB = 0, peakKiB = 0;
  ASSERT_EQ(RunMeasured({"--read", small, "--raw", "--out", dir_ / "small.jsonl"}, "small", baselineKiB), 0);
  EXPECT_EQ(Err("small"), "") << "nothing cut, nothing said";

  std::ofstream(big) << "RBDEBUG: before\n";
  AppendRun(big, 100 * kMiB, 'x');
  std::ofstream(big, std::ios::app) << "\n{\"text\":\"" << std::string(vxtrace::kMaxMessageBytes + 1, 'j')
                                    << "\"}\nRBDEBUG: after\n";
  ASSERT_EQ(RunMeasured({"--read", big, "--raw", "--out", dir_ / "big.jsonl"}, "big", peakKiB), 0) << Err("big");
  EXPECT_LE(peakKiB - baselineKiB, 8 * 1024 + kRuntimeKiB) << "KiB over reading a small file";
  std::printf("peak memory of vxtrace --read, a 100 MiB line: %ld KiB, a small file: %ld KiB\n", peakKiB, baselineKiB);

  const auto messages = Recorded(dir_ / "big.jsonl");
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].text, "RBDEBUG: before");
  // Compared as truths: a failure shows sizes, not megabytes of text.
  EXPECT_TRUE(messages[1].text == std::string(vxtrace::kMaxMessageBytes, 'x'))
      << "its head, as a capture cuts it; " << messages[1].text.size() << " bytes";
  EXPECT_TRUE(messages[2].text == std::string(vxtrace::kMaxMessageBytes, 'j'))
      << "a recorded message is cut too; " << messages[2].text.size() << " bytes";
  EXPECT_EQ(messages[3].text, "RBDEBUG: after") << "the line after a cut one is whole";
  EXPECT_NE(Err("big").find("2 lines of " + big.string() +
                            " cut at 262144 bytes, the longest a capture passes "
                            "(the first at line 2)"),
            std::string::npos)
      << Err("big");
}

// A message as long as a capture passes, every byte of it escaped in the recording, reads
// back exactly; so does a line as long as that without a line end at the end of the input.
TEST_F(InputBounds, RecordingsOfTheLongestMessagesReadBackExactly) {
  vxtrace::Message longest;
  longest.text.assign(vxtrace::kMaxMessageBytes, '\x01');
  longest.pid = 42;
  const std::string last(vxtrace::kMaxMessageBytes, 'z');
  std::ofstream(dir_ / "rec.jsonl", std::ios::binary) << vxtrace::ToJsonLine(longest) << last;
  ASSERT_EQ(Finish(Start({"--read", dir_ / "rec.jsonl", "--raw", "--out", dir_ / "again.jsonl"})), 0);
  EXPECT_EQ(Err(), "");
  const auto messages = Recorded(dir_ / "again.jsonl");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].text == longest.text) << messages[0].text.size() << " bytes";
  EXPECT_EQ(messages[0].pid, 42u);
  EXPECT_TRUE(messages[1].text == last) << messages[1].text.size() << " bytes";
}

TEST_F(InputBounds, FollowGoesOnAcrossTruncationReplacementAndRemoval) {
  const fs::path file = dir_ / "growing.txt";
  std::ofstream(file) << "RBDEBUG: one\nRBDEBUG: two\n";
  const pid_t pid = Start({"--read", file, "--follow", "--ascii"});
  ASSERT_TRUE(OutputHolds("run", "> two\n"));

  std::ofstream(file, std::ios::trunc) << "RBDEBUG: cut\n";  // shorter than what was read
  EXPECT_TRUE(ErrorHolds("run", "vxtrace: " + file.string() + " was truncated; following from its start\n"));
  EXPECT_TRUE(OutputHolds("run", "> cut\n"));

  std::ofstream(dir_ / "new.txt") << "RBDEBUG: new\n";
  std::ofstream(file, std::ios::app) << "RBDEBUG: last of the old";  // no line end yet
  fs::rename(dir_ / "new.txt", file);
  EXPECT_TRUE(ErrorHolds("run", "vxtrace: " + file.string() + " was replaced; following the new file\n"));
  EXPECT_TRUE(OutputHolds("run", "> last of the old\n> new\n")) << "the old file's end comes first";

  fs::remove(file);
  EXPECT_TRUE(ErrorHolds("run", "vxtrace: " + file.string() + " is gone; waiting for a file of that name\n"));
  std::ofstream(file) << "RBDEBUG: back\n";
  EXPECT_TRUE(OutputHolds("run", "> back\n"));
  std::ofstream(file, std::ios::app) << "RBDEBUG: grows\n";
  EXPECT_TRUE(OutputHolds("run", "> grows\n"));

  kill(pid, SIGINT);
  EXPECT_EQ(Finish(pid), 0);
  const std::string shown = "> one\n> two\n> cut\n> last of the old\n> new\n> back\n> grows\n";
  EXPECT_EQ(Out().substr(0, shown.size()), shown) << "each line once, in order";
  const std::string said = Err();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 4) << "each change said once: " << said;
}

}  // namespace
