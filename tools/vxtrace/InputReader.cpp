// vxtrace: line reading on a bare descriptor, so a line is shown the moment it came.
#include "InputReader.h"

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

bool InputReader::TakeLine(std::string& line) {
  size_t lf = pending_.find('\n', scanned_);
  if (lf == std::string::npos) {
    scanned_ = pending_.size();
    return false;
  }
  line.assign(pending_, 0, lf);
  pending_.erase(0, lf + 1);
  scanned_ = 0;
  return true;
}

InputReader::Result InputReader::Fill() {
  for (;;) {
    auto n = read(fd_, buffer_.data(), static_cast<unsigned>(buffer_.size()));
    if (n > 0) {
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
