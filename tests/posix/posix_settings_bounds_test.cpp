// The settings store against files far larger than settings: bounded memory and work, and a
// word on standard error about what was left unread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "PosixTestSupport.h"
#include "platform/posix/Ansi1252.h"
#include "platform/posix/RegFile.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {
namespace {

constexpr std::size_t kMiB = 1u << 20;
const std::string kSeven("\x07\0\0\0", 4);

std::optional<std::string> ReadValue(const std::string& key, const std::string& name) {
  Platform& platform = SystemPlatform();
  RegKeyHandle h = 0;
  if (!platform.OpenSettingsKey(kHKeyCurrentUser, key, h)) return std::nullopt;
  std::string buffer(64, '\0');
  std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
  const bool ok = platform.QuerySettingsValue(h, name, reinterpret_cast<unsigned char*>(buffer.data()), &size);
  platform.CloseSettingsKey(h);
  if (!ok) return std::nullopt;
  buffer.resize(size);
  return buffer;
}

// Writes `head`, then lines from `line(i)` until the file holds `bytes`, never all in memory.
void WriteLarge(const std::string& path, const std::string& head, std::size_t bytes,
                const std::function<std::string(std::size_t)>& line) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string piece = head;
  std::size_t written = 0;
  for (std::size_t i = 0; written + piece.size() < bytes; ++i) {
    piece += line(i);
    if (piece.size() < 64 * 1024) continue;
    out << piece;
    written += piece.size();
    piece.clear();
  }
  out << piece;
}

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct ChildLookup {
  int status = -1;
  long peakKiB = 0;
  double cpuSeconds = 0;
  std::string errors;
};

// One settings lookup in a child process, which is measured: exit 0 when the value is `want`.
ChildLookup LookUpInChild(const ScratchDir& dir, const std::string& key, const std::string& name,
                          const std::string& want) {
  const std::string errors = dir.File("child.err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::_exit(ReadValue(key, name) == want ? 0 : 1);
  }
  ChildLookup run;
  rusage use{};
  if (pid < 0 || ::wait4(pid, &run.status, 0, &use) != pid) return run;
  run.peakKiB = use.ru_maxrss;
  run.cpuSeconds = use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  run.errors = ReadFile(errors);
  return run;
}

// Under AddressSanitizer freed memory waits in a quarantine of hundreds of MiB and an
// unoptimised build runs several times slower: the bounds are the product's, checked by the
// ordinary build; the sanitized one checks what it reads and that it says so.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kBoundsMeasured = false;
constexpr double kProcessorSlack = 4.0;
#else
constexpr bool kBoundsMeasured = true;
constexpr double kProcessorSlack = 1.0;
#endif

class SettingsBounds : public ::testing::Test {
 protected:
  ScratchDir dir;
  ScopedEnv user{"VX380_HKCU", dir.File("user.reg")};
  const std::string wanted = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Wanted]\n\"Level\"=dword:00000007\n";

  // A lookup in a child that read a small file: what any lookup costs.
  long BaselineKiB() {
    dir.Write("user.reg", wanted);
    const ChildLookup small = LookUpInChild(dir, "Software\\Wanted", "Level", kSeven);
    EXPECT_EQ(small.status, 0);
    return small.peakKiB;
  }
};

TEST_F(SettingsBounds, AFileOfShortKeysCostsBoundedMemoryAndWork) {
  const long baseline = BaselineKiB();
  WriteLarge(dir.File("user.reg"), wanted, 64 * kMiB,
             [](std::size_t i) { return "[HKEY_CURRENT_USER\\k" + std::to_string(i) + "]\n"; });
  const ChildLookup big = LookUpInChild(dir, "Software\\Wanted", "Level", kSeven);
  EXPECT_EQ(big.status, 0) << "the value before the bound is read";
  if (kBoundsMeasured) {
    EXPECT_LE(big.peakKiB - baseline, 64 * 1024) << "KiB over a small file's lookup";
  }
  EXPECT_LE(big.cpuSeconds, 1.0 * kProcessorSlack) << "processor time, not time waited";
  std::printf("a lookup in a 64 MiB file of short keys: %ld KiB peak (a small file: %ld KiB), %.2f s of processor\n",
              big.peakKiB, baseline, big.cpuSeconds);
  EXPECT_NE(big.errors.find("holds more than 65536 keys"), std::string::npos) << big.errors;
}

TEST_F(SettingsBounds, AFileLargerThanReadIsReadInPiecesAndSaysSo) {
  const long baseline = BaselineKiB();
  WriteLarge(dir.File("user.reg"), wanted, 65 * kMiB, [](std::size_t) { return std::string("; a comment\n"); });
  const ChildLookup big = LookUpInChild(dir, "Software\\Wanted", "Level", kSeven);
  EXPECT_EQ(big.status, 0);
  if (kBoundsMeasured) {
    EXPECT_LE(big.peakKiB - baseline, 16 * 1024) << "KiB over a small file's lookup";
  }
  EXPECT_NE(big.errors.find("is larger than 64 MiB: only its start is read"), std::string::npos) << big.errors;
}

// Up to the bound every key and value is read exactly; past it nothing, and that is said once.
TEST_F(SettingsBounds, KeysAndValuesUpToTheBoundAreReadAndTheRestIsSaidOnce) {
  std::string keys = "REGEDIT4\n";
  for (std::size_t i = 0; i < posix::RegFile::kMaxKeys; ++i)
    keys += "[HKEY_CURRENT_USER\\K" + std::to_string(i) + "]\n@=\"v" + std::to_string(i) + "\"\n";
  dir.Write("user.reg", keys);
  const std::string last = std::to_string(posix::RegFile::kMaxKeys - 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadValue("K" + last, ""), "v" + last + std::string(1, '\0'));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a file within the bounds is read whole";

  dir.Write("user.reg", keys + "[HKEY_CURRENT_USER\\Late]\n@=\"late\"\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadValue("Late", ""), std::nullopt);
  EXPECT_EQ(ReadValue("K" + last, ""), "v" + last + std::string(1, '\0'));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(dir.File("user.reg") + " holds more than 65536 keys: line 131074 and the rest"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("vx380:"), said.rfind("vx380:")) << "said once, not at each read: " << said;

  std::string values = "REGEDIT4\n[HKEY_CURRENT_USER\\Many]\n";
  for (std::size_t i = 0; i <= posix::RegFile::kMaxValues; ++i)
    values += "\"v" + std::to_string(i) + "\"=dword:00000007\n";
  dir.Write("user.reg", values);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadValue("Many", "v" + std::to_string(posix::RegFile::kMaxValues - 1)), kSeven);
  EXPECT_EQ(ReadValue("Many", "v" + std::to_string(posix::RegFile::kMaxValues)), std::nullopt);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("holds more than 131072 values"), std::string::npos);
}

// Files are decoded a piece at a time: a character cut by a piece, or a byte far in that
// is not UTF-8, reads as it does in a file decoded whole.
TEST_F(SettingsBounds, TextPastThePiecesReadsAsInASmallFile) {
  std::string body = "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software\\Wanted]\r\n";
  for (int i = 0; body.size() < 3 * kMiB / 2; ++i)
    body += "\"x" + std::to_string(i) + "\"=\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"\r\n";
  const std::string last = "\"Last\"=\"\xE2\x82\xAC\"\r\n";
  dir.Write("user.reg", body + last);
  EXPECT_EQ(ReadValue("Software\\Wanted", "x1"), posix::ToAnsi1252(u"\u00E9\u20AC\U0001F600") + '\0');
  EXPECT_EQ(ReadValue("Software\\Wanted", "Last"), std::string("\x80\0", 2));

  // One byte that is not UTF-8 at the end: the whole file is Windows-1252.
  dir.Write("user.reg", body + last + "; \xFF\r\n");
  EXPECT_EQ(ReadValue("Software\\Wanted", "Last"), std::string("\xE2\x82\xAC\0", 4));

  std::u16string text = u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software\\Wanted]\r\n";
  for (int i = 0; text.size() < kMiB; ++i) text += u"\"x" + Utf16(std::to_string(i)) + u"\"=\"\u00E9\u20AC\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : text + u"\"Last\"=\"\u20AC\"\r\n")
    utf16 += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  dir.Write("user.reg", utf16 + "\x42");  // and an odd last byte
  EXPECT_EQ(ReadValue("Software\\Wanted", "x1"), std::string("\xE9\x80\0", 3));
  EXPECT_EQ(ReadValue("Software\\Wanted", "Last"), std::string("\x80\0", 2));
}

}  // namespace
}  // namespace vx380::testing
