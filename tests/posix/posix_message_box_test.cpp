// Message boxes on the POSIX platform: a host's handler, a question on the controlling
// terminal (driven through a pseudo-terminal), and the headless answer on standard error.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "PosixTestSupport.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {
namespace {

constexpr Long kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7, kContinue = 11;

TEST(MessageBoxes, AHostHandlerAnswersEveryBox) {
  struct Seen {
    String prompt, title;
    Long style = 0;
  } seen;
  auto previous = posix::SetMessageBoxHandler([&](const String& prompt, Long style, const String& title) {
    seen = {prompt, title, style};
    return kNo;
  });
  EXPECT_EQ(SystemPlatform().ShowMessageBox(u"Save changes?", 4 + 32 + 0x100, u"Editor", u"help.chm", 7), kNo);
  EXPECT_EQ(seen.prompt, u"Save changes?");
  EXPECT_EQ(seen.title, u"Editor");
  EXPECT_EQ(seen.style, 4 + 32 + 0x100);
  EXPECT_EQ(SystemPlatform().ShowMessageBox(u"x", 0, u"", u"", 0), kNo);
  EXPECT_EQ(seen.title, u"") << "the handler sees the title as given";

  auto mine = posix::SetMessageBoxHandler(std::move(previous));
  EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(MessageBoxes, WithoutATerminalTheDefaultButtonAnswers) {
  ScopedEnv headless("VX380_MSGBOX", "stderr");
  const struct {
    Long style, answer;
  } cases[] = {
      {0, kOk},
      {1, kOk},
      {1 + 0x100, kCancel},
      {2, kAbort},
      {2 + 0x100, kRetry},
      {2 + 0x200, kIgnore},
      {3 + 0x100, kNo},
      {3 + 0x200, kCancel},
      {4, kYes},
      {4 + 0x100, kNo},
      {4 + 0x200, kYes},  // beyond the last button: the first
      {5 + 0x100, kCancel},
      {6 + 0x200, kContinue},
      {16 + 0x4000, kOk},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    const Long answer = SystemPlatform().ShowMessageBox(u"prompt", c.style, u"title", u"", 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, c.answer) << "style " << c.style;
  }

  ::testing::internal::CaptureStderr();
  SystemPlatform().ShowMessageBox(u"Disk full\r\nTry again later", 4 + 48 + 0x100, u"", u"", 0);
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("ErrorLogging [Warning]"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Disk full\nTry again later\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[Yes / No] -> No"), std::string::npos) << shown;
}

// Runs a box in a child whose controlling terminal is a pseudo-terminal, types each input
// when the question appears, and returns the child's answer and what the terminal showed.
Long AskOnTerminal(Long style, const std::vector<std::string>& inputs, std::string& screen) {
  int master = -1;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (child < 0) return -1;
  if (child == 0) {
    ::unsetenv("VX380_MSGBOX");
    posix::SetMessageBoxHandler(nullptr);
    ::_exit(SystemPlatform().ShowMessageBox(u"Save changes?", style, u"Editor", u"", 0));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t typed = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      char buffer[512];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the child has gone
      screen.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t questions = 0;
    for (std::size_t at = screen.find("]? "); at != std::string::npos; at = screen.find("]? ", at + 1)) ++questions;
    if (typed < inputs.size() && questions > typed) {
      if (::write(master, inputs[typed].data(), inputs[typed].size()) < 0) break;
      ++typed;
    }
  }
  int status = 0;
  if (::waitpid(child, &status, WNOHANG) == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ::close(master);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MessageBoxes, OnATerminalTheUserAnswers) {
  std::string screen;
  EXPECT_EQ(AskOnTerminal(3, {"n\n"}, screen), kNo);
  EXPECT_NE(screen.find("--- Editor ---"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Save changes?"), std::string::npos) << screen;
  EXPECT_NE(screen.find("(Y)es  (N)o  (C)ancel [Yes]? "), std::string::npos) << screen;

  screen.clear();
  EXPECT_EQ(AskOnTerminal(4 + 0x100, {"\n"}, screen), kNo) << "Enter takes the default button";
  screen.clear();
  EXPECT_EQ(AskOnTerminal(2, {"maybe\n", "2\n"}, screen), kRetry) << "a wrong answer asks again";
  screen.clear();
  EXPECT_EQ(AskOnTerminal(3, {"\x04"}, screen), kCancel) << "end of input cancels";
  screen.clear();
  EXPECT_EQ(AskOnTerminal(0, {"\x04"}, screen), kOk);
}

}  // namespace
}  // namespace vx380::testing
