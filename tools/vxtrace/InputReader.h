// vxtrace: the lines of a recording or of standard input, handed on as soon as they
// arrive (a pipe is never read to its end first), and with --follow, the lines a
// growing file gains, across its truncation or replacement as tail -F does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vxtrace {

class InputReader {
 public:
  // fd: an open descriptor, closed by the reader unless it is standard input (0).
  // path: the file's name, looked at with follow to notice a replacement ("" for none).
  // maxLine: a longer line is handed on cut to this many bytes, the rest of it skipped,
  // so one endless line costs no more memory than this.
  InputReader(int fd, bool follow, std::string path, std::size_t maxLine);
  ~InputReader();
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  enum class Result { Line, End, Waiting, Failed, Notice };
  // Waiting: nothing new yet (only with follow); the caller may stop or call again.
  // Notice: the followed file was truncated, replaced or removed; Notice() says which.
  // before: called before a read that may block, e.g. to flush the output.
  template <class BeforeRead>
  Result Next(std::string& line, BeforeRead before) {
    for (;;) {
      if (TakeLine(line)) return Result::Line;
      if (noticeReady_) {
        noticeReady_ = false;
        return Result::Notice;
      }
      if (ended_) return TakeRest(line) ? Result::Line : Result::End;
      before();
      Result r = Fill();
      if (r != Result::Line) return r;
    }
  }

  // The last line was longer than maxLine and is cut.
  bool LineCut() const { return cut_; }
  // The last line's number, counted from the start of the file it came from.
  long long LineNumber() const { return lineNumber_; }
  // What happened to the followed file, for "vxtrace: FILE " + Notice().
  const std::string& Notice() const { return notice_; }

 private:
  bool TakeLine(std::string& line);
  bool TakeRest(std::string& line);
  void Append(const char* data, std::size_t n);
  Result Fill();
  Result Watch();
  void SwitchTo(int fd, const char* notice);

  int fd_;
  int next_ = -1;  // the file that replaced ours, read once ours is read to its end
  bool follow_;
  std::string path_;
  std::size_t maxLine_;
  bool ended_ = false;
  bool skipping_ = false;  // dropping the rest of a cut line, up to its LF
  bool cut_ = false;
  bool gone_ = false;  // the path names no file; said once
  bool noticeReady_ = false;
  std::string notice_;
  long long lineNumber_ = 0;
  std::uint64_t offset_ = 0;  // bytes read from fd_
  std::vector<char> buffer_;
  std::string pending_;
  std::size_t start_ = 0;    // where the next line begins in pending_
  std::size_t scanned_ = 0;  // pending_ holds no LF between start_ and here
};

}  // namespace vxtrace
