// vxtrace on a machine shared with other users: its socket is its user's alone,
// other users' datagrams are not shown, a path held by another user is named as
// such, and a blocked output costs bounded memory, never silently lost lines.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "CaptureFixture.h"

namespace {

using namespace vxtrace_test;

constexpr uid_t kNobody = 65534;

class SharedMachine : public Capture {
 protected:
  // Runs the sender as an unprivileged user, as another account on the machine would.
  int SendAsNobody(const std::string& text) {
    const std::string id = std::to_string(kNobody);
    return Finish(
        Spawn({"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", SENDER_EXE, socket_, "0", "once", text},
              "nobody"));
  }
  long PeakKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
  }
};

TEST_F(SharedMachine, TheSocketIsTheUsersAloneWhateverTheUmask) {
  const mode_t previous = umask(0);
  pid_t pid = Start({"--socket", socket_, "--timeout", "20", "--count", "1"});
  umask(previous);
  ASSERT_TRUE(ErrorHolds("run", "listening on")) << Err();
  struct stat st;
  ASSERT_EQ(lstat(socket_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  Send("RBDEBUG: done\n");
  EXPECT_EQ(Finish(pid), 0);
  // So are the recordings and pictures it writes.
  umask(0);
  pid = Start({"--read", "/dev/null", "--out", dir_ / "rec.jsonl", "--chrome", dir_ / "run.json"}, "files");
  umask(previous);
  EXPECT_EQ(Finish(pid), 0) << Err("files");
  for (const char* file : {"rec.jsonl", "run.json"}) {
    ASSERT_EQ(stat((dir_ / file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
}

TEST_F(SharedMachine, AnotherUsersDatagramIsNotShown) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user (CI runs as root)";
  pid_t pid = Start({"--socket", socket_, "--timeout", "20", "--count", "1", "--ascii"});
  ASSERT_TRUE(ErrorHolds("run", "listening on")) << Err();
  // Opened up as a careless older listener might have left it, so only the check on
  // the sender stands in the way.
  chmod(dir_.c_str(), 0755);
  chmod(socket_.c_str(), 0666);
  ASSERT_EQ(SendAsNobody("ERROR: Bank - described as: send your password, Error Number is: 1\n"), 0) << Err("nobody");
  Send("RBDEBUG: mine\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(), "> mine\n");
  EXPECT_NE(Err().find("1 datagrams from other users were not shown"), std::string::npos) << Err();

  pid = Start({"--socket", socket_, "--timeout", "20", "--count", "1", "--ascii", "--any-user"}, "any");
  ASSERT_TRUE(ErrorHolds("any", "listening on")) << Err("any");
  chmod(socket_.c_str(), 0666);
  ASSERT_EQ(SendAsNobody("RBDEBUG: from a service\n"), 0);
  EXPECT_EQ(Finish(pid), 0) << Err("any");
  EXPECT_EQ(Out("any"), "> from a service\n");
}

TEST_F(SharedMachine, APathHeldByAnotherUserIsNamedAndLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's socket (CI runs as root)";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(chown(socket_.c_str(), kNobody, kNobody), 0);
  pid_t pid = Start({"--socket", socket_, "--timeout", "5"});
  EXPECT_EQ(Finish(pid), 3);
  EXPECT_NE(Err().find("is held by another user (uid 65534)"), std::string::npos) << Err();
  close(fd);  // now only a stale file of that user remains
  pid = Start({"--socket", socket_, "--timeout", "5"});
  EXPECT_EQ(Finish(pid), 3);
  EXPECT_NE(Err().find("is a stale socket of another user (uid 65534)"), std::string::npos) << Err();
  EXPECT_TRUE(fs::exists(socket_));
}

// A blocked output holds the senders back at bounded memory; every line a sender got
// through is shown once the output moves again.
TEST_F(SharedMachine, ABlockedOutputHoldsTheSendersBackAtBoundedMemory) {
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string savedAsan = asan ? asan : "";
  setenv("ASAN_OPTIONS", "quarantine_size_mb=0", 1);  // freed memory is free, as in a normal build
  pid_t pid = Start({"--socket", socket_, "--raw"}, "run", "", {-1, pipeFds[1]});
  if (asan) setenv("ASAN_OPTIONS", savedAsan.c_str(), 1);
  else unsetenv("ASAN_OPTIONS");
  close(pipeFds[1]);
  ASSERT_TRUE(AppearsSoon(socket_));
  // 200 MB offered while nobody reads the output; a send that finds no room is given up
  // at once (the library would wait a while first).
  const std::string big = "RBDEBUG: " + std::string(50000, 'x') + "\n";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  long accepted = 0;
  for (int i = 0; i < 4000; ++i)
    if (send(fd, big.data(), big.size(), MSG_DONTWAIT) == static_cast<ssize_t>(big.size())) ++accepted;
  close(fd);
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 4000) << "the senders were held back";
  std::this_thread::sleep_for(300ms);  // the reader thread takes what the queue has room for
  const long peak = PeakKilobytes(pid);
  EXPECT_GT(peak, 0);
#ifdef __SANITIZE_ADDRESS__
  const long runtime = 48 * 1024;  // the sanitizer's shadow memory and its own heap
#else
  const long runtime = 0;
#endif
  EXPECT_LT(peak, 48 * 1024 + runtime) << "a 32 MiB queue, a 1 MiB batch, buffers and the program itself";
  std::printf("peak memory of vxtrace with its output blocked, 200 MB offered: %ld KiB\n", peak);
  SlowReader reader(pipeFds[0], 0ms);
  EXPECT_TRUE(Eventually([&] { return CountLines(reader.Text(), "RBDEBUG: ") == accepted; }))
      << CountLines(reader.Text(), "RBDEBUG: ") << " of " << accepted;
  kill(pid, SIGINT);
  EXPECT_EQ(Finish(pid), 0) << Err();
  reader.Join();
  EXPECT_EQ(Err().find("lost"), std::string::npos) << Err();
}

}  // namespace

namespace {

using namespace vxtrace_test;

TEST_F(Capture, AThreadNameIsBelievedOnlyFromItsOwnProcess) {
  pid_t pid =
      Start({"--socket", socket_, "--timeout", "20", "--count", "2", "--raw", "--pids", "--out", dir_ / "rec.jsonl"});
  ASSERT_TRUE(AppearsSoon(socket_));
  // Anybody may bind any abstract name: one naming another process is not taken at its word.
  ASSERT_EQ(Finish(Spawn({SENDER_EXE, socket_, "0", "as", "1", "77", "RBDEBUG: claims to be init\n"}, "liar")), 0);
  pid_t honest = Spawn({SENDER_EXE, socket_, "1", "nested"}, "honest");
  ASSERT_EQ(Finish(honest), 0);
  ASSERT_EQ(Finish(pid), 0) << Err();
  const std::string out = Out();
  EXPECT_EQ(out.find("/77]"), std::string::npos) << out;
  EXPECT_EQ(out.find("[1]"), std::string::npos) << out;
  EXPECT_NE(out.find("/"), std::string::npos) << "the honest thread is known: " << out;
  const std::string rec = Slurp(dir_ / "rec.jsonl");
  EXPECT_NE(rec.find("\"tid\":0,"), std::string::npos) << rec;
  EXPECT_EQ(rec.find("\"pid\":1,"), std::string::npos) << rec;
}

}  // namespace
