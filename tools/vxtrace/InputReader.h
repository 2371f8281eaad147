// vxtrace: the lines of a recording or of standard input, handed on as soon as they
// arrive (a pipe is never read to its end first), and with --follow, the lines a
// growing file gains.
#pragma once

#include <string>
#include <vector>

namespace vxtrace {

class InputReader {
 public:
  // fd: an open descriptor, read and not closed.
  InputReader(int fd, bool follow) : fd_(fd), follow_(follow), buffer_(64 * 1024) {}

  enum class Result { Line, End, Waiting, Failed };
  // Waiting: nothing new yet (only with follow); the caller may stop or call again.
  // before: called before a read that may block, e.g. to flush the output.
  template <class BeforeRead>
  Result Next(std::string& line, BeforeRead before) {
    for (;;) {
      if (TakeLine(line)) return Result::Line;
      if (ended_) {
        if (start_ >= pending_.size()) return Result::End;
        line.assign(pending_, start_, std::string::npos);  // the last line, without its LF
        start_ = pending_.size();
        return Result::Line;
      }
      before();
      Result r = Fill();
      if (r != Result::Line) return r;
    }
  }

 private:
  bool TakeLine(std::string& line);
  Result Fill();

  int fd_;
  bool follow_;
  bool ended_ = false;
  std::vector<char> buffer_;
  std::string pending_;
  size_t start_ = 0;    // where the next line begins in pending_
  size_t scanned_ = 0;  // pending_ holds no LF between start_ and here
};

}  // namespace vxtrace
