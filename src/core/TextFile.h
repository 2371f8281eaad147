// A text file opened for one banner or one line and closed again, whatever happens.
#pragma once

#include "vx380/Platform.h"

namespace vx380::core {

class TextFile {
 public:
  // Opens for appending (or creating afresh when `truncate`); a failure raises its runtime error.
  TextFile(const String& path, bool truncate);
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Writes the text in the ANSI code page in one write; a failure raises its runtime error.
  void Write(const String& text);
  // Writes bytes already in the ANSI code page.
  void WriteBytes(const std::string& bytes);

 private:
  Platform& platform_;
  FileHandle file_ = 0;
};

// The three banner lines that start a log, CR LF after each; date read before time.
String BannerText();

}  // namespace vx380::core
