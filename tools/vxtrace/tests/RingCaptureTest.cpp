// Capture through the trace ring: the real vxtrace, and a host of the real library writing
// from two threads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

#include <map>
#include <regex>
#include <sstream>

#include "CaptureFixture.h"
#include "Recording.h"
#include "channel/TraceRing.h"

namespace {

using namespace vxtrace_test;

// The ring's memory as any process of the user can get it, asked for at vxtrace's socket.
unsigned char* MapRingOf(const fs::path& ringSocket, std::size_t& bytes) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, ringSocket.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return nullptr;
  char byte;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (recvmsg(fd, &message, 0) != 1 || !CMSG_FIRSTHDR(&message)) return nullptr;
  int ring = -1;
  std::memcpy(&ring, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof ring);
  struct stat st {};
  if (fstat(ring, &st) != 0) return nullptr;
  bytes = static_cast<std::size_t>(st.st_size);
  void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, ring, 0);
  return base == MAP_FAILED ? nullptr : static_cast<unsigned char*>(base);
}

double Now() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

struct Writer {
  unsigned long pid = 0;
  unsigned long long tid = 0;
};

class RingCapture : public Capture {
 protected:
  fs::path Ring() const { return fs::path(socket_.string() + ".ring"); }
  fs::path Recording() const { return dir_ / "rec.jsonl"; }

  pid_t Host(const std::string& mode, long lines, const std::string& tag = "host", int threads = 2,
             const std::string& bytes = "0") {
    return Spawn({RING_SENDER_EXE, socket_, std::to_string(threads), mode, std::to_string(lines), bytes}, tag);
  }

  // "thread <t> <pid> <tid>" as the host printed them.
  std::map<int, Writer> Writers(const std::string& tag = "host") {
    std::map<int, Writer> writers;
    std::istringstream in(Out(tag));
    std::string word;
    int t = 0;
    Writer w;
    while (in >> word)
      if (word == "thread" && in >> t >> w.pid >> w.tid) writers[t] = w;
    return writers;
  }

  std::vector<vxtrace::Message> Recorded() {
    std::vector<vxtrace::Message> messages;
    std::istringstream in(Slurp(Recording()));
    std::string line;
    vxtrace::Message m;
    while (std::getline(in, line))
      if (vxtrace::FromJsonLine(line, m)) messages.push_back(m);
    return messages;
  }

  // Each thread's lines numbered from 0 without a gap, each from its own writer; returns
  // how many came per thread.
  std::map<int, long> CheckEveryThreadInOrder(const std::map<int, Writer>& writers) {
    std::map<int, long> next;
    for (const vxtrace::Message& m : Recorded()) {
      int t = -1;
      long i = -1;
      if (std::sscanf(m.text.c_str(), "RBDEBUG: %d %ld", &t, &i) != 2 || !writers.count(t)) {
        ADD_FAILURE() << "unexpected message: " << m.text;
        continue;
      }
      EXPECT_EQ(m.pid, writers.at(t).pid) << m.text;
      EXPECT_EQ(m.tid, writers.at(t).tid) << m.text;
      EXPECT_EQ(m.process, "vxtrace_ring_se") << m.text;  // /proc's name, cut at 15 bytes
      EXPECT_GT(m.time, 1.5e9) << "a time since the Unix epoch";
      if (i != next[t]) {
        ADD_FAILURE() << "thread " << t << ": line " << i << " came where " << next[t] << " was due";
        return next;
      }
      ++next[t];
    }
    return next;
  }
};

TEST_F(RingCapture, EveryLineComesThroughTheRingInEachThreadsOrderWithItsWriter) {
  constexpr long kLines = 20000;
  const double started = Now();
  pid_t vxtrace = Start({"--socket", socket_, "--summary", "--out", Recording(), "--count", std::to_string(2 * kLines),
                         "--timeout", "60"});
  ASSERT_TRUE(AppearsSoon(Ring())) << Err();
  struct stat st {};
  ASSERT_EQ(lstat(Ring().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(ErrorHolds("run", "offering the trace ring " + Ring().string())) << Err();
  // With the socket's name gone the ring is the only way in.
  ASSERT_TRUE(fs::remove(socket_));
  ASSERT_EQ(Finish(Host("numbered", kLines)), 0) << Err("host");
  ASSERT_EQ(Finish(vxtrace), 0) << Err();

  const std::map<int, long> counts = CheckEveryThreadInOrder(Writers());
  EXPECT_EQ(counts, (std::map<int, long>{{0, kLines}, {1, kLines}}));
  EXPECT_NE(Out().find("40000 lines came through the trace ring\n"), std::string::npos) << Out();
  const std::vector<vxtrace::Message> recorded = Recorded();
  ASSERT_FALSE(recorded.empty());
  // The writers' time stamps, on the clock the socket's arrival times use.
  EXPECT_GE(recorded.front().time, started - 1);
  EXPECT_LE(recorded.back().time, Now() + 1);
  EXPECT_FALSE(fs::exists(Ring())) << "the ring is withdrawn at the end";
  // The replay closes as the capture did, the ring's count included.
  EXPECT_EQ(Finish(Start({"--read", Recording(), "--summary"}, "replay")), 0) << Err("replay");
  EXPECT_EQ(Out("replay"), Out());
}

TEST_F(RingCapture, WithoutTheRingTheSocketCarriesEveryLine) {
  constexpr long kLines = 2000;
  pid_t vxtrace = Start({"--socket", socket_, "--no-ring", "--summary", "--out", Recording(), "--count",
                         std::to_string(2 * kLines), "--timeout", "60"});
  ASSERT_TRUE(AppearsSoon(socket_));
  ASSERT_EQ(Finish(Host("numbered", kLines)), 0) << Err("host");
  EXPECT_FALSE(fs::exists(Ring()));
  ASSERT_EQ(Finish(vxtrace), 0) << Err();
  const std::map<int, long> counts = CheckEveryThreadInOrder(Writers());
  EXPECT_EQ(counts, (std::map<int, long>{{0, kLines}, {1, kLines}}));
  EXPECT_EQ(Out().find("trace ring"), std::string::npos) << Out();
  EXPECT_EQ(Err().find("trace ring"), std::string::npos) << Err();
}

TEST_F(RingCapture, WhenTheRingCannotBeOfferedItSaysWhyAndTheSocketServes) {
  ASSERT_TRUE(fs::create_directory(Ring()));  // in the way: not replaced, not used
  pid_t vxtrace = Start({"--socket", socket_, "--summary", "--out", Recording(), "--count", "200", "--timeout", "60"});
  ASSERT_TRUE(AppearsSoon(socket_));
  ASSERT_EQ(Finish(Host("numbered", 100)), 0) << Err("host");
  ASSERT_EQ(Finish(vxtrace), 0) << Err();
  EXPECT_NE(Err().find("; no trace ring (cannot offer the trace ring at " + Ring().string()), std::string::npos)
      << Err();
  EXPECT_EQ(CheckEveryThreadInOrder(Writers()), (std::map<int, long>{{0, 100}, {1, 100}}));
  EXPECT_TRUE(fs::is_directory(Ring())) << "left alone";
}

TEST_F(RingCapture, AHostKilledMidBurstLosesNoLineItWroteBefore) {
  constexpr long kLines = 5000;
  pid_t vxtrace = Start({"--socket", socket_, "--raw", "--out", Recording()});
  ASSERT_TRUE(AppearsSoon(Ring()));
  ASSERT_TRUE(fs::remove(socket_));  // the ring alone
  pid_t host = Host("endless", kLines);
  ASSERT_TRUE(OutputHolds("host", "written\n")) << Err("host");
  kill(host, SIGKILL);
  Finish(host);
  // Everything up to the kill is in the ring; a record cut short is skipped after a while.
  const std::string last0 = "RBDEBUG: 0 " + std::to_string(kLines - 1) + "\\n";
  const std::string last1 = "RBDEBUG: 1 " + std::to_string(kLines - 1) + "\\n";
  EXPECT_TRUE(Eventually([&] {
    const std::string recorded = Slurp(Recording());
    return recorded.find(last0) != std::string::npos && recorded.find(last1) != std::string::npos;
  }));
  kill(vxtrace, SIGINT);
  ASSERT_EQ(Finish(vxtrace), 0) << Err();
  const std::map<int, long> counts = CheckEveryThreadInOrder(Writers());
  ASSERT_EQ(counts.size(), 2u);
  for (const auto& [thread, count] : counts) EXPECT_GE(count, kLines) << "thread " << thread;
}

// A host already writing when vxtrace starts sends its first lines by the socket, which comes
// first, and the next ones into the ring offered a moment later: each thread's lines are
// shown in the order it wrote them, whichever way each came.
TEST_F(RingCapture, AThreadMovingFromTheSocketToTheRingKeepsItsOrder) {
  const pid_t host = Host("endless", 1);
  for (int round = 0; round < 8 && !HasFailure(); ++round) {
    const std::string tag = "round" + std::to_string(round);
    fs::remove(Recording());
    ASSERT_EQ(Finish(Start({"--socket", socket_, "--raw", "--out", Recording(), "--count", "20000", "--timeout", "300"},
                           tag)),
              0)
        << Err(tag);
    std::map<int, long> last;
    long shown = 0;
    for (const vxtrace::Message& m : Recorded()) {
      int t = -1;
      long i = -1;
      ASSERT_EQ(std::sscanf(m.text.c_str(), "RBDEBUG: %d %ld", &t, &i), 2) << m.text;
      ASSERT_TRUE(!last.count(t) || i > last[t]) << tag << ", thread " << t << ": " << i << " after " << last[t];
      last[t] = i;
      ++shown;
    }
    EXPECT_EQ(shown, 20000) << tag;
  }
  kill(host, SIGKILL);
  Finish(host);
}

TEST_F(RingCapture, LinesDroppedWhileTheReaderStalledAreReported) {
  constexpr long kLines = 5000;  // 40 MB: more than any ring holds
  pid_t vxtrace = Start({"--socket", socket_, "--summary", "--out", Recording()});
  ASSERT_TRUE(AppearsSoon(Ring()));
  const pid_t host = Host("held", kLines, "host", 1, "8000");
  for (const auto deadline = std::chrono::steady_clock::now() + kPatience;
       Out("host").find("ready") == std::string::npos && std::chrono::steady_clock::now() < deadline;)
    std::this_thread::sleep_for(5ms);
  kill(vxtrace, SIGSTOP);
  kill(host, SIGUSR1);
  ASSERT_EQ(Finish(host), 0) << Err("host");
  kill(vxtrace, SIGCONT);
  // Done once the recording stops growing (for long: the machine may be busy).
  std::uintmax_t size = 0;
  for (int still = 0; still < 150;) {
    std::this_thread::sleep_for(20ms);
    const std::uintmax_t now = fs::exists(Recording()) ? fs::file_size(Recording()) : 0;
    still = now == size && now > 0 ? still + 1 : 0;
    size = now;
  }
  kill(vxtrace, SIGINT);
  ASSERT_EQ(Finish(vxtrace), 0) << Err();

  std::smatch found;
  const std::string err = Err();
  ASSERT_TRUE(std::regex_search(err, found, std::regex("(\\d+) lines dropped by writers while the ring was full")))
      << err;
  const long dropped = std::stol(found[1]);
  EXPECT_GT(dropped, 0);
  EXPECT_NE(Out().find(found[0].str()), std::string::npos) << "the summary says so too";
  EXPECT_EQ(err.find("lost while the output was blocked"), std::string::npos) << err;
  const long captured = static_cast<long>(Recorded().size());
  EXPECT_EQ(captured + dropped, kLines + 1) << "every line is captured or counted (and the host's first)";
  EXPECT_GT(captured, 0);
}

// An output slower than the writers holds the ring back: vxtrace stops draining it while
// the output waits, writers wait for room, and nothing is dropped anywhere.
TEST_F(RingCapture, ASlowPipeHoldsTheRingBackAndLosesNothing) {
  constexpr long kLines = 150000;  // more than the queue and the ring together hold
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t vxtrace = Start(
      {"--socket", socket_, "--raw", "--out", Recording(), "--count", std::to_string(2 * kLines), "--timeout", "200"},
      "run", "", {-1, out[1]});
  close(out[1]);
  SlowReader reader(out[0], 8ms);  // about 2 MB/s, far below what the writers offer
  ASSERT_TRUE(AppearsSoon(Ring()));
  ASSERT_EQ(Finish(Host("numbered", kLines)), 0) << Err("host");
  EXPECT_EQ(Finish(vxtrace), 0) << Err();
  reader.Join();
  EXPECT_EQ(CountLines(reader.Text(), "RBDEBUG: "), 2 * kLines);
  EXPECT_EQ(CheckEveryThreadInOrder(Writers()), (std::map<int, long>{{0, kLines}, {1, kLines}}));
  EXPECT_EQ(Err().find("dropped"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("lost"), std::string::npos) << Err();
}

// The capture ends at its count although the ring keeps filling and the threads that read
// the channel wait for room: nothing waits on a queue nobody takes from any more.
TEST_F(RingCapture, EndsAtItsCountWhileWritersStillWrite) {
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  pid_t vxtrace = Start({"--socket", socket_, "--raw", "--count", "20000"}, "run", "", {-1, out[1]});
  close(out[1]);
  SlowReader reader(out[0], 8ms);
  ASSERT_TRUE(AppearsSoon(Ring()));
  pid_t host = Host("endless", 1000000);
  EXPECT_EQ(Finish(vxtrace), 0) << Err();
  kill(host, SIGKILL);
  Finish(host);
  reader.Join();
  EXPECT_EQ(CountLines(reader.Text(), "RBDEBUG: "), 20000);
}

// Only a terminal may fall behind: its view skips lines and says how many, while the
// recording keeps every one.
TEST_F(RingCapture, ASlowTerminalSkipsLinesInTheViewOnlyAndSaysHowMany) {
  constexpr long kLines = 100000;
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(screen, 0);
  pid_t vxtrace = Start({"--socket", socket_, "--raw", "--color=never", "--out", Recording(), "--count",
                         std::to_string(2 * kLines), "--timeout", "200"},
                        "run", "", {-1, screen});
  close(screen);
  ASSERT_TRUE(AppearsSoon(Ring()));
  // Nobody looks at the terminal until every line is recorded (so drawn, or skipped).
  ASSERT_EQ(Finish(Host("numbered", kLines)), 0) << Err("host");
  EXPECT_TRUE(Eventually([&] { return CountLines(Slurp(Recording()), "{\"time\"") == 2 * kLines; }));
  SlowReader reader(terminal, 0ms);
  EXPECT_EQ(Finish(vxtrace), 0) << Err();
  reader.Join();  // the terminal ends (EIO) once vxtrace closed it
  EXPECT_EQ(CheckEveryThreadInOrder(Writers()), (std::map<int, long>{{0, kLines}, {1, kLines}}));

  const std::string shown = reader.Text();
  long skipped = 0;
  const std::regex note("\\.\\.\\. (\\d+) lines not shown here: the terminal was behind");
  for (std::sregex_iterator at(shown.begin(), shown.end(), note), end; at != end; ++at) skipped += std::stol((*at)[1]);
  EXPECT_GT(skipped, 0) << Err();
  EXPECT_EQ(CountLines(shown, "RBDEBUG: ") + skipped, 2 * kLines);
  EXPECT_NE(Err().find(std::to_string(skipped) + " lines not shown while the terminal was behind"), std::string::npos)
      << Err();
}

// A careless process of the same user writes over the ring's reservation counter: vxtrace
// replaces the ring and says so with what it cost, and the lines after it arrive, each thread
// in order.
TEST_F(RingCapture, AStrayWriteCostsTheDamagedRingOnlyAndIsReported) {
  constexpr long kLines = 1000;
  pid_t vxtrace = Start(
      {"--socket", socket_, "--raw", "--out", Recording(), "--count", std::to_string(4 * kLines), "--timeout", "300"});
  ASSERT_TRUE(AppearsSoon(Ring())) << Err();
  ASSERT_EQ(Finish(Host("numbered", kLines, "before")), 0) << Err("before");
  std::size_t bytes = 0;
  unsigned char* ring = MapRingOf(Ring(), bytes);
  ASSERT_NE(ring, nullptr);
  const std::uint64_t scribble = 0x123456789;
  // The first lane's reservation counter.
  std::memcpy(ring + vx380::channel::kLaneTableOffset + offsetof(vx380::channel::LaneHeader, reserve), &scribble,
              sizeof scribble);
  // The next host may meet the damage before vxtrace does: its writers then wait for vxtrace to
  // retire the ring, send a line by the socket, and go on in the fresh ring.
  ASSERT_EQ(Finish(Host("numbered", kLines, "after")), 0) << Err("after");
  ASSERT_EQ(Finish(vxtrace), 0) << Err();
  munmap(ring, bytes);
  const std::map<int, Writer> after = Writers("after");
  ASSERT_EQ(after.size(), 2u);
  std::map<int, long> next, arrived;
  for (const vxtrace::Message& m : Recorded()) {
    int t = -1;
    long i = -1;
    if (m.pid != after.at(0).pid || std::sscanf(m.text.c_str(), "RBDEBUG: %d %ld", &t, &i) != 2) continue;
    ASSERT_GE(i, next[t]) << "thread " << t << " out of order";
    next[t] = i + 1;
    ++arrived[t];
  }
  EXPECT_EQ(next, (std::map<int, long>{{0, kLines}, {1, kLines}})) << "the last lines after the damage arrive";
  std::smatch found;
  const std::string err = Err();
  ASSERT_TRUE(std::regex_search(err, found,
                                std::regex("trace ring damaged \\(its reservation counter was overwritten\\) "
                                           "and replaced, ([0-9]+) lines lost")))
      << err;
  long counted = std::stol(found[1]);
  if (std::regex_search(err, found, std::regex("([0-9]+) lines dropped by writers"))) counted += std::stol(found[1]);
  EXPECT_LE(2 * kLines - arrived[0] - arrived[1], counted) << "every line missing is counted\n" << err;
}

}  // namespace
