#include "core/TextFile.h"

#include "core/DebugOutput.h"
#include "core/TextFormat.h"

namespace vx380::core {

namespace {
const String kBanner = u"==============================";
}

TextFile::TextFile(const String& path, bool truncate) : platform_(CurrentPlatform()) {
  if (Long rc = platform_.OpenTextFile(path, truncate, file_)) RaiseRuntime(rc);
}

TextFile::~TextFile() { platform_.CloseTextFile(file_); }

// ASCII text, which every page keeps as it is, skips the code page.
void TextFile::Write(const String& text) {
  DebugLineBuffer ascii;  // the thread's line buffer: no allocation per line
  const Long rc = AsciiKept(platform_) && ascii.AppendIfAscii(text)
                      ? platform_.WriteTextFile(file_, ascii.bytes())
                      : platform_.WriteTextFile(file_, platform_.ToAnsi(text));
  if (rc) RaiseRuntime(rc);
}

void TextFile::WriteBytes(const std::string& bytes) {
  if (Long rc = platform_.WriteTextFile(file_, bytes)) RaiseRuntime(rc);
}

String BannerText() {
  Platform& p = CurrentPlatform();
  const String date = p.CurrentDateText();
  const String time = p.CurrentTimeText();
  return kBanner + kCrLf + date + u" - " + time + kCrLf + kBanner + kCrLf;
}

}  // namespace vx380::core
