// The log files' primitives on real Win32 files: append, truncate, sharing, error numbers.
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "WinTestSupport.h"

namespace {

using vx380::FileHandle;
using vx380::Long;
using vx380::String;
using vx380::wintest::ReadWholeFile;
using vx380::wintest::ScratchFolder;

class Win32TextFiles : public ::testing::Test {
 protected:
  vx380::win32::Win32Platform platform;
  ScratchFolder folder{L"files"};

  Long WriteOnce(const String& path, bool truncate, const std::string& bytes) {
    FileHandle file = 0;
    Long rc = platform.OpenTextFile(path, truncate, file);
    if (rc != 0) return rc;
    rc = platform.WriteTextFile(file, bytes);
    platform.CloseTextFile(file);
    return rc;
  }
};

TEST_F(Win32TextFiles, AppendCreatesThenExtends) {
  const String path = folder.File(L"a.log");
  ASSERT_EQ(WriteOnce(path, false, "one\r\n"), 0);
  ASSERT_EQ(WriteOnce(path, false, "two\r\n"), 0);
  EXPECT_EQ(ReadWholeFile(path), "one\r\ntwo\r\n");
}

TEST_F(Win32TextFiles, TruncateEmptiesAnExistingFile) {
  const String path = folder.File(L"t.log");
  ASSERT_EQ(WriteOnce(path, false, "old contents\r\n"), 0);
  ASSERT_EQ(WriteOnce(path, true, "new\r\n"), 0);
  EXPECT_EQ(ReadWholeFile(path), "new\r\n");
}

TEST_F(Win32TextFiles, BytesGoOutUnchanged) {
  const String path = folder.File(L"bytes.log");
  const std::string bytes("A\0\xE9\n\r\x80", 6);
  ASSERT_EQ(WriteOnce(path, true, bytes), 0);
  EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST_F(Win32TextFiles, AppendersSharingOneFileKeepEveryWrite) {
  const String path = folder.File(L"shared.log");
  FileHandle first = 0, second = 0;
  ASSERT_EQ(platform.OpenTextFile(path, false, first), 0);
  ASSERT_EQ(platform.OpenTextFile(path, false, second), 0);
  EXPECT_EQ(platform.WriteTextFile(first, "1\r\n"), 0);
  EXPECT_EQ(platform.WriteTextFile(second, "2\r\n"), 0);
  EXPECT_EQ(platform.WriteTextFile(first, "3\r\n"), 0);
  platform.CloseTextFile(first);
  platform.CloseTextFile(second);
  EXPECT_EQ(ReadWholeFile(path), "1\r\n2\r\n3\r\n");
}

// Checks that every 42-byte line of the file is whole; counts the lines of each letter.
std::map<char, int> CountWholeLines(const std::string& all) {
  std::map<char, int> counts;
  EXPECT_EQ(all.size() % 42, 0u);
  for (std::size_t at = 0; at + 42 <= all.size(); at += 42) {
    EXPECT_EQ(all.substr(at, 42), std::string(40, all[at]) + "\r\n") << "torn line at byte " << at;
    ++counts[all[at]];
  }
  return counts;
}

TEST_F(Win32TextFiles, ThreadsAppendingLineByLineNeverLoseLines) {
  const String path = folder.File(L"threads.log");
  constexpr int kThreads = 4, kLines = 150;
  std::vector<std::thread> threads;
  std::vector<std::string> failures(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      vx380::win32::Win32Platform own;
      const std::string line = std::string(40, static_cast<char>('a' + t)) + "\r\n";
      for (int i = 0; i < kLines; ++i) {
        FileHandle file = 0;
        if (Long rc = own.OpenTextFile(path, false, file); rc != 0) {
          failures[t] += " open " + std::to_string(rc);
          continue;
        }
        if (Long rc = own.WriteTextFile(file, line); rc != 0) failures[t] += " write " + std::to_string(rc);
        own.CloseTextFile(file);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& f : failures) EXPECT_EQ(f, "");
  std::map<char, int> expected;
  for (int t = 0; t < kThreads; ++t) expected[static_cast<char>('a' + t)] = kLines;
  EXPECT_EQ(CountWholeLines(ReadWholeFile(path)), expected);
}

TEST_F(Win32TextFiles, ProcessesAppendingLineByLineNeverLoseLines) {
  const String path = folder.File(L"processes.log");
  const std::wstring program = vx380::wintest::ProgramFolder() + L"vx380_win_appender.exe";
  constexpr int kLines = 120;
  std::vector<PROCESS_INFORMATION> children;
  for (wchar_t letter : {L'p', L'q', L'r'}) {
    std::wstring line = L"\"" + program + L"\" \"" + std::wstring(path.begin(), path.end()) + L"\" " + letter + L" " +
                        std::to_wstring(kLines);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << "cannot start the appender: error " << GetLastError();
    children.push_back(pi);
  }
  for (auto& pi : children) {
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u) << "an appender failed to open or write";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  EXPECT_EQ(CountWholeLines(ReadWholeFile(path)), (std::map<char, int>{{'p', kLines}, {'q', kLines}, {'r', kLines}}));
}

TEST_F(Win32TextFiles, FailuresCarryRuntimeErrorNumbers) {
  FileHandle file = 0;
  EXPECT_EQ(platform.OpenTextFile(folder.File(L"no such folder\\x.log"), false, file), vx380::rt::kPathNotFound);
  EXPECT_EQ(platform.OpenTextFile(vx380::wintest::ToString(folder.path()), false, file),
            vx380::rt::kPathFileAccessError);
  EXPECT_EQ(platform.OpenTextFile(folder.File(L"bad|name.log"), false, file), vx380::rt::kBadFileName);
}

TEST_F(Win32TextFiles, AFileLockedByAnotherOpenIsPermissionDenied) {
  const String path = folder.File(L"locked.log");
  HANDLE exclusive = CreateFileW(vx380::win32::Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  FileHandle file = 0;
  EXPECT_EQ(platform.OpenTextFile(path, false, file), vx380::rt::kPermissionDenied);
  EXPECT_EQ(platform.OpenTextFile(path, true, file), vx380::rt::kPermissionDenied);
  CloseHandle(exclusive);
}

// Only handles this platform opened and has not closed are honoured, as on POSIX.
TEST_F(Win32TextFiles, StaleAndMadeUpHandlesAreRefused) {
  FileHandle file = 0;
  const String path = folder.File(L"handles.log");
  ASSERT_EQ(platform.OpenTextFile(path, false, file), 0);
  ASSERT_EQ(platform.WriteTextFile(file, "kept\r\n"), 0);
  platform.CloseTextFile(file);
  EXPECT_EQ(platform.WriteTextFile(file, "stale\r\n"), vx380::rt::kBadFileName);
  platform.CloseTextFile(file);  // a second close does nothing
  EXPECT_EQ(platform.WriteTextFile(0, "none\r\n"), vx380::rt::kBadFileName);
  EXPECT_EQ(platform.WriteTextFile(0x1234, "made up\r\n"), vx380::rt::kBadFileName);
  platform.CloseTextFile(0x1234);
  EXPECT_EQ(ReadWholeFile(path), "kept\r\n");
}

}  // namespace
