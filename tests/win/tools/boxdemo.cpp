// boxdemo: a host in miniature for the rig's own test. Sends debug lines and shows five
// boxes through the Win32 platform (one with a help file, one per icon and one without),
// reporting each answer.
#include <cstdio>
#include <string>

#include "platform/win32/Win32Platform.h"

int main() {
  vx380::win32::Win32Platform platform;
  platform.WriteDebugLine("boxdemo: before the boxes\n");
  const vx380::Long first = platform.ShowMessageBox(u"Proceed with the caf\u00e9 order?", 4 | 32, u"Box Demo", u"", 0);
  platform.WriteDebugLine("boxdemo: first answer " + std::to_string(first) + "\n");
  const vx380::Long second =
      platform.ShowMessageBox(u"Line one\r\nLine \"two\"", 1 | 48 | 0x4000, u"With Help", u"C:\\no\\such.hlp", 1234);
  platform.WriteDebugLine("boxdemo: second answer " + std::to_string(second) + "\n");
  std::string answers = std::to_string(first) + " " + std::to_string(second);
  // One box for each of the remaining icons, the last with none.
  for (vx380::Long style : {16, 64, 0}) {
    const vx380::Long answer =
        platform.ShowMessageBox(u"Style " + vx380::FromUtf8(std::to_string(style)), style, u"Icons", u"", 0);
    platform.WriteDebugLine("boxdemo: style " + std::to_string(style) + " answer " + std::to_string(answer) + "\n");
    answers += " " + std::to_string(answer);
  }
  std::printf("%s\n", answers.c_str());
  return 0;
}
