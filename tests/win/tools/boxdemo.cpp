// boxdemo: a host in miniature for the rig's own test. Sends debug lines and shows two
// boxes through the Win32 platform (one plain, one with a help file), reporting each answer.
#include <cstdio>
#include <string>

#include "platform/win32/Win32Platform.h"

int main() {
  vx380::win32::Win32Platform platform;
  platform.OutputDebugString("boxdemo: before the boxes\n");
  const vx380::Long first = platform.MessageBox(u"Proceed with the caf\u00e9 order?", 4 | 32, u"Box Demo", u"", 0);
  platform.OutputDebugString("boxdemo: first answer " + std::to_string(first) + "\n");
  const vx380::Long second =
      platform.MessageBox(u"Line one\r\nLine \"two\"", 1 | 48 | 0x4000, u"With Help", u"C:\\no\\such.hlp", 1234);
  platform.OutputDebugString("boxdemo: second answer " + std::to_string(second) + "\n");
  std::printf("%ld %ld\n", static_cast<long>(first), static_cast<long>(second));
  return 0;
}
