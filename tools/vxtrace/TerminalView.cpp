#include "TerminalView.h"

#include <algorithm>
#include <cerrno>

#include "ThreadSignals.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vxtrace {

#ifdef _WIN32
bool OutputIsTerminal() { return _isatty(1) != 0; }
#else
bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
#endif

TerminalView::TerminalView(int fd) : fd_(fd) {
  thread_ = std::thread([this] { Run(); });
}

TerminalView::int_type TerminalView::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) drawn_ += traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize TerminalView::xsputn(const char* s, std::streamsize n) {
  drawn_.append(s, static_cast<std::size_t>(n));
  return n;
}

int TerminalView::sync() {
  Commit();
  return Failed() ? -1 : 0;
}

void TerminalView::Commit(bool force) {
  if (drawn_.empty() && !(force && skippedUnsaid_ > 0)) return;
  std::unique_lock lock(mutex_);
  if (!force && waitingBytes_ > kBacklogBytes) {
    const auto lines = std::count(drawn_.begin(), drawn_.end(), '\n');
    skipped_ += lines;
    skippedUnsaid_ += lines;
    drawn_.clear();
    return;
  }
  if (skippedUnsaid_ > 0) {
    const std::string note = "... " + std::to_string(skippedUnsaid_) +
                             " lines not shown here: the terminal was behind (the recording and the "
                             "statistics keep them) ...\n";
    drawn_.insert(0, note);
    skippedUnsaid_ = 0;
  }
  waitingBytes_ += drawn_.size();
  waiting_.push_back(std::move(drawn_));
  drawn_.clear();
  changed_.notify_all();
}

void TerminalView::Run() {
  LeaveSignalsToTheMainThread();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    std::string text = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    const bool written = WriteAll(text);
    lock.lock();
    waitingBytes_ -= text.size();
    failed_ = failed_ || !written;
  }
}

bool TerminalView::WriteAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
#ifdef _WIN32
    const int n = _write(fd_, text.data() + done, static_cast<unsigned>(text.size() - done));
#else
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void TerminalView::Close() {
  if (!thread_.joinable()) return;
  Commit(true);  // the closing summary is always shown
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TerminalView::Failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

long long TerminalView::Skipped() const {
  std::lock_guard lock(mutex_);
  return skipped_;
}

}  // namespace vxtrace
