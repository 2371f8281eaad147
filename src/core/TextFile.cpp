#include "core/TextFile.h"

#include "core/TextFormat.h"

namespace vx380::core {

namespace {
const String kBanner = u"==============================";
}

TextFile::TextFile(const String& path, bool truncate) : platform_(CurrentPlatform()) {
  if (Long rc = platform_.OpenTextFile(path, truncate, file_)) RaiseRuntime(rc);
}

TextFile::~TextFile() { platform_.CloseTextFile(file_); }

void TextFile::Write(const String& text) {
  if (Long rc = platform_.WriteTextFile(file_, platform_.ToAnsi(text))) RaiseRuntime(rc);
}

String BannerText() {
  Platform& p = CurrentPlatform();
  const String date = p.CurrentDateText();
  const String time = p.CurrentTimeText();
  return kBanner + kCrLf + date + u" - " + time + kCrLf + kBanner + kCrLf;
}

}  // namespace vx380::core
