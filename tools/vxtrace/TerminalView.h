// vxtrace: the live view on a terminal. A terminal may show lines more slowly than they
// come; rather than hold the capture back (and with it the traced programs), the view then
// skips lines and says how many, while the recording and the statistics keep every one.
// Files and pipes are never skipped: there the capture waits for the output.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

namespace vxtrace {

class TerminalView : public std::streambuf {
 public:
  // Rendered text this far ahead of the terminal is skipped.
  static constexpr std::size_t kBacklogBytes = 256 * 1024;

  explicit TerminalView(int fd);
  ~TerminalView() override { Close(); }

  // Hands what was drawn since the last call to the terminal, or skips it when the terminal
  // is too far behind (unless forced).
  void Commit(bool force = false);
  // Writes everything still waiting (the closing summary too), then stops.
  void Close();
  // The terminal is gone (a write failed).
  bool Failed() const;
  long long Skipped() const;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  void Run();
  bool WriteAll(const std::string& text);

  const int fd_;
  std::string drawn_;  // the display's thread alone
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> waiting_;
  std::size_t waitingBytes_ = 0;
  long long skipped_ = 0;
  long long skippedUnsaid_ = 0;  // the display's thread alone
  bool stop_ = false;
  bool failed_ = false;
  std::thread thread_;
};

// True when standard output is a terminal.
bool OutputIsTerminal();

}  // namespace vxtrace
