// Threads that used the component end cleanly: their per-thread records are destroyed while
// still alive, also when other threads reuse freed memory at once; a thread that loaded and
// freed the COM server ends, and so does its process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "WinTestSupport.h"
#include "vx380/ErrorLog.h"

namespace {

constexpr std::uint64_t kIntact = 0x1234567887654321ull;
std::atomic<int> g_destroyed{0}, g_damaged{0};

struct Canary {
  std::uint64_t words[64];
  Canary() {
    for (auto& w : words) w = kIntact;
  }
  ~Canary() {
    for (auto w : words)
      if (w != kIntact) {
        ++g_damaged;
        break;
      }
    ++g_destroyed;
  }
};

Canary& ThisThreadsCanary() {
  thread_local Canary canary;
  return canary;
}

// Frees and refills blocks of the records' size for as long as it runs.
class MemoryChurn {
 public:
  MemoryChurn()
      : thread_([this] {
          while (!stop_) {
            void* block = std::malloc(sizeof(Canary) + 16);
            std::memset(block, 0xFF, sizeof(Canary) + 16);
            std::free(block);
          }
        }) {}
  ~MemoryChurn() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ThreadExit, PerThreadObjectsAreDestroyedBeforeTheirStorageIsFreed) {
  g_destroyed = g_damaged = 0;
  {
    MemoryChurn churn;
    for (int round = 0; round < 20; ++round) {
      std::vector<std::thread> threads;
      for (int i = 0; i < 8; ++i) threads.emplace_back([] { ThisThreadsCanary().words[0] = kIntact; });
      for (auto& t : threads) t.join();
    }
  }
  EXPECT_EQ(160, g_destroyed.load());
  EXPECT_EQ(0, g_damaged.load()) << "destructors ran on freed storage";
}

TEST(ThreadExit, ThreadsThatTracedAndLoggedEndWithoutHarm) {
  vx380::wintest::ScratchFolder folder(L"thread-exit");
  const vx380::String log = folder.File(L"threads.log");
  MemoryChurn churn;
  for (int round = 0; round < 10; ++round) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        vx380::ErrorLog el;
        el.Initialize(u"ThreadExit", u"");
        el.LogFilename(log);
        el.ReportingLevel(vx380::mxReportingLevelLog);
        el.RBDEBUGENTER(u"Work", u"", vx380::kTrue);
        el.LogError(u"T", u"Disk full", u"", 0, 61, u"Save");
        el.RBDEBUGEXIT();
      });
    for (auto& t : threads) t.join();
  }
  const std::string text = vx380::wintest::ReadWholeFile(log);
  std::size_t lines = 0;
  for (std::size_t at = text.find("ERROR: T - Save"); at != std::string::npos;
       at = text.find("ERROR: T - Save", at + 1))
    ++lines;
  EXPECT_EQ(80u, lines);
}

#if defined(VX380_LOAD_HOST)
// 500 rounds in a fresh process whose first load of the DLL is a worker thread's: every thread
// ends (also one that used the DLL and ends only after it was freed), threads and handles stay
// put, and the process exits.
TEST(ThreadExit, AServerLoadedAndFreedOnWorkerThreadsLetsThemAndTheProcessEnd) {
  using vx380::wintest::WindowsPath;
  const std::wstring command =
      L"\"" + WindowsPath(VX380_LOAD_HOST) + L"\" load 500 \"" + WindowsPath(VX380_COM_DLL) + L"\"";
  std::string output;
  EXPECT_EQ(0, vx380::wintest::RunProgram(command, 300000, output)) << "-1: the host did not exit\n" << output;
  EXPECT_NE(std::string::npos, output.find("ok")) << output;
}
#endif

}  // namespace
