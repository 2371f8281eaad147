// vxtrace: line reading on a bare descriptor, so a line is shown the moment it came.
#include "InputReader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vxtrace {
namespace {

constexpr std::size_t kReadBytes = 64 * 1024;

#ifdef _WIN32
using FileStat = struct _stati64;
bool StatOf(int fd, FileStat& st) { return _fstati64(fd, &st) == 0; }
bool StatOf(const std::string& path, FileStat& st) { return _stati64(path.c_str(), &st) == 0; }
bool IsRegular(const FileStat& st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
bool Rewind(int fd) { return _lseeki64(fd, 0, SEEK_SET) == 0; }
int OpenFile(const std::string& path) { return _open(path.c_str(), _O_RDONLY | _O_BINARY); }
int ReadSome(int fd, char* to, std::size_t n) { return _read(fd, to, static_cast<unsigned>(n)); }
void Close(int fd) { _close(fd); }
#else
using FileStat = struct stat;
bool StatOf(int fd, FileStat& st) { return ::fstat(fd, &st) == 0; }
bool StatOf(const std::string& path, FileStat& st) { return ::stat(path.c_str(), &st) == 0; }
bool IsRegular(const FileStat& st) { return S_ISREG(st.st_mode); }
bool Rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0; }
int OpenFile(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
long ReadSome(int fd, char* to, std::size_t n) { return static_cast<long>(::read(fd, to, n)); }
void Close(int fd) { ::close(fd); }
#endif

// Windows tells no file ids here (st_ino is 0), but it does not let an open file be replaced.
bool SameFile(const FileStat& a, const FileStat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

InputReader::InputReader(int fd, bool follow, std::string path, std::size_t maxLine)
    : fd_(fd),
      follow_(follow),
      path_(std::move(path)),
      maxLine_(std::max<std::size_t>(maxLine, 1)),
      buffer_(kReadBytes) {
  // Room for the longest line kept and one read: never moved, and touched only as far as used.
  pending_.reserve(maxLine_ + kReadBytes);
}

InputReader::~InputReader() {
  if (fd_ != 0) Close(fd_);
  if (next_ >= 0) Close(next_);
}

// Lines are taken from the front by moving an offset; the buffer is compacted only
// when more is read, so a line costs its own length, not the buffer's.
bool InputReader::TakeLine(std::string& line) {
  const std::size_t lf = pending_.find('\n', std::max(scanned_, start_));
  if (lf == std::string::npos) {
    scanned_ = pending_.size();
    if (pending_.size() - start_ <= maxLine_) return false;
    // Longer than any line is kept: its head goes out now, the rest is dropped as it comes.
    line.assign(pending_, start_, maxLine_);
    start_ = scanned_ = pending_.size();
    skipping_ = cut_ = true;
    ++lineNumber_;
    return true;
  }
  cut_ = lf - start_ > maxLine_;
  line.assign(pending_, start_, std::min(lf - start_, maxLine_));
  start_ = lf + 1;
  scanned_ = start_;
  ++lineNumber_;
  return true;
}

// The last line, without its LF.
bool InputReader::TakeRest(std::string& line) {
  if (start_ >= pending_.size()) return false;
  line.assign(pending_, start_, std::string::npos);
  start_ = pending_.size();
  cut_ = false;
  ++lineNumber_;
  return true;
}

void InputReader::Append(const char* data, std::size_t n) {
  if (skipping_) {
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', n));
    if (!lf) return;
    skipping_ = false;
    n -= static_cast<std::size_t>(lf + 1 - data);
    data = lf + 1;
  }
  pending_.erase(0, start_);
  scanned_ -= std::min(scanned_, start_);
  start_ = 0;
  pending_.append(data, n);
}

InputReader::Result InputReader::Fill() {
  const auto n = ReadSome(fd_, buffer_.data(), buffer_.size());
  if (n > 0) {
    offset_ += static_cast<std::uint64_t>(n);
    Append(buffer_.data(), static_cast<std::size_t>(n));
    return Result::Line;
  }
  if (n < 0 && errno == EINTR) return Result::Waiting;  // Ctrl-C: let the caller look
  if (n < 0) return Result::Failed;
  if (!follow_) {
    ended_ = true;
    return Result::Line;
  }
  const Result watched = Watch();
  if (watched != Result::Waiting) return watched;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return Result::Waiting;
}

// At the end of the followed file: has it shrunk, or does its name now lead elsewhere?
// Line: read on (a notice may be ready).
InputReader::Result InputReader::Watch() {
  if (next_ >= 0) {  // our file was read to its end once more: nothing written to it is lost
    SwitchTo(next_, "was replaced; following the new file");
    next_ = -1;
    return Result::Line;
  }
  FileStat own{};
  if (!StatOf(fd_, own) || !IsRegular(own)) return Result::Waiting;  // a pipe only grows
  if (static_cast<std::uint64_t>(own.st_size) < offset_) {
    if (!Rewind(fd_)) return Result::Failed;
    SwitchTo(fd_, "was truncated; following from its start");
    return Result::Line;
  }
  FileStat named{};
  if (path_.empty()) return Result::Waiting;
  if (!StatOf(path_, named)) {
    if (gone_) return Result::Waiting;
    gone_ = true;
    notice_ = "is gone; waiting for a file of that name";
    noticeReady_ = true;
    return Result::Line;
  }
  gone_ = false;
  if (SameFile(own, named) || !IsRegular(named)) return Result::Waiting;  // opening a pipe would block
  next_ = OpenFile(path_);
  return next_ >= 0 ? Result::Line : Result::Waiting;
}

void InputReader::SwitchTo(int fd, const char* notice) {
  if (fd != fd_) {
    if (fd_ != 0) Close(fd_);
    fd_ = fd;
  }
  offset_ = 0;
  // An unfinished last line will never be finished now: it goes out as it is.
  const bool partial = !skipping_ && start_ < pending_.size();
  if (partial) pending_ += '\n';
  skipping_ = false;
  lineNumber_ = partial ? -1 : 0;
  notice_ = notice;
  noticeReady_ = true;
}

}  // namespace vxtrace
