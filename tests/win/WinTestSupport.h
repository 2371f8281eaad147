// Small helpers for the Windows tests: scratch folders and whole-file reads.
#pragma once

#include <string>

#include "platform/win32/Win32Platform.h"

namespace vx380::wintest {

// The folder of the running test program, with a trailing "\".
std::wstring ProgramFolder();

// A fresh, empty folder below the program's folder; removed with its files at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& path() const { return path_; }
  String File(const std::wstring& name) const;

 private:
  std::wstring path_;
};

// Every byte of a file, or "<missing>" when it cannot be read.
std::string ReadWholeFile(const String& path);

// Runs a program (a command line, "/unix/paths" given as their Z: names) with its output
// captured; its exit code, or -1 when it did not end within timeoutMs.
long RunProgram(const std::wstring& commandLine, unsigned long timeoutMs, std::string& output);
std::wstring WindowsPath(const std::string& unixPath);

// Handles and threads this process has now.
unsigned long HandleCount();
unsigned long ThreadCount();

inline String ToString(const std::wstring& w) { return String(w.begin(), w.end()); }

}  // namespace vx380::wintest
