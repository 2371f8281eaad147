// A second process for the append test: appends COUNT lines of one letter to FILE,
// each through a fresh open, write and close, as the component logs.
//   vx380_win_appender.exe FILE LETTER COUNT
#include <cstdlib>
#include <string>

#include "platform/win32/Win32Platform.h"

int main(int argc, char** argv) {
  if (argc != 4) return 64;
  vx380::win32::Win32Platform platform;
  const vx380::String path = platform.FromAnsi(argv[1]);
  const std::string line = std::string(40, argv[2][0]) + "\r\n";
  int failures = 0;
  for (int i = 0, n = std::atoi(argv[3]); i < n; ++i) {
    vx380::FileHandle file = 0;
    if (platform.OpenTextFile(path, false, file) != 0) {
      ++failures;
      continue;
    }
    if (platform.WriteTextFile(file, line) != 0) ++failures;
    platform.CloseTextFile(file);
  }
  return failures ? 1 : 0;
}
