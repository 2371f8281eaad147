// vxtrace: line reading on a bare descriptor, so a line is shown the moment it came.
#include "InputReader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define read _read
#else
#include <unistd.h>
#endif

namespace vxtrace {

// Lines are taken from the front by moving an offset; the buffer is compacted only
// when more is read, so a line costs its own length, not the buffer's.
bool InputReader::TakeLine(std::string& line) {
  size_t lf = pending_.find('\n', std::max(scanned_, start_));
  if (lf == std::string::npos) {
    scanned_ = pending_.size();
    return false;
  }
  line.assign(pending_, start_, lf - start_);
  start_ = lf + 1;
  scanned_ = start_;
  return true;
}

InputReader::Result InputReader::Fill() {
  for (;;) {
    auto n = read(fd_, buffer_.data(), static_cast<unsigned>(buffer_.size()));
    if (n > 0) {
      pending_.erase(0, start_);
      scanned_ -= std::min(scanned_, start_);
      start_ = 0;
      pending_.append(buffer_.data(), static_cast<size_t>(n));
      return Result::Line;
    }
    if (n < 0 && errno == EINTR) return Result::Waiting;  // Ctrl-C: let the caller look
    if (n < 0) return Result::Failed;
    if (!follow_) {
      ended_ = true;
      return Result::Line;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return Result::Waiting;
  }
}

}  // namespace vxtrace
