#include "RecordingWriter.h"

#include <cmath>
#include <cstring>

#include "Recording.h"
#include "ThreadSignals.h"

namespace vxtrace {

// The fields between the time and the text, formatted once per writer: lines from the few
// threads that write at once interleave, so the last few writers are kept, not just one.
struct WriterFields {
  struct Entry {
    unsigned long pid = 0;
    unsigned long long tid = 0;
    std::string process;
    std::string fields;  // ,"pid":..,"tid":..,"process":"..", or "" when not plain ASCII
    bool valid = false;
  };
  static constexpr std::size_t kEntries = 16;
  Entry entries[kEntries];
  std::size_t last = 0;  // the entry the previous line used
  std::size_t next = 0;  // the entry a new writer takes
};

namespace {

bool PlainJson(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

// Writes text as a JSON string the way ToJsonLine does for plain ASCII; null when a byte
// needs the full encoder (anything outside ASCII). `to` has room for 6 bytes a byte and 2.
char* PutAsciiJson(char* to, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  *to++ = '"';
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from < end) {
    // Runs of bytes that need no escape, nearly all of any line, go across at once.
    const char* run = from;
    while (run < end && PlainJson(static_cast<unsigned char>(*run))) ++run;
    std::memcpy(to, from, static_cast<std::size_t>(run - from));
    to += run - from;
    if (run == end) break;
    const char ch = *run;
    const auto c = static_cast<unsigned char>(ch);
    from = run + 1;
    if (c >= 0x80) return nullptr;
    *to++ = '\\';
    if (c == '"' || c == '\\') {
      *to++ = ch;
    } else if (c == '\n') {
      *to++ = 'n';
    } else if (c == '\r') {
      *to++ = 'r';
    } else if (c == '\t') {
      *to++ = 't';
    } else {
      const char escaped[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      for (char e : escaped) *to++ = e;
    }
  }
  *to++ = '"';
  return to;
}

char* PutDecimal(char* to, unsigned long long value, int minDigits = 1) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 || n < minDigits);
  while (n > 0) *to++ = digits[--n];
  return to;
}

char* PutText(char* to, std::string_view text) {
  std::memcpy(to, text.data(), text.size());
  return to + text.size();
}

// %.6f for a time that lies clearly nearer one microsecond than any other (all times a
// capture makes); null for the rest, which printf rounds itself.
char* PutTime(char* to, double time) {
  if (!(time >= 0 && time < 1e12)) return nullptr;
  const double scaled = time * 1e6;
  const double whole = std::nearbyint(scaled);
  if (std::fabs(scaled - whole) > 0.25) return nullptr;
  const auto us = static_cast<unsigned long long>(whole);
  // The whole seconds change once a second: formatted once.
  thread_local unsigned long long lastSeconds = ~0ull;
  thread_local char seconds[24];
  thread_local std::size_t secondsLength = 0;
  if (us / 1000000 != lastSeconds) {
    lastSeconds = us / 1000000;
    secondsLength = static_cast<std::size_t>(PutDecimal(seconds, lastSeconds) - seconds);
  }
  to = PutText(to, std::string_view(seconds, secondsLength));
  *to++ = '.';
  unsigned fraction = static_cast<unsigned>(us % 1000000);
  for (int i = 5; i >= 0; --i, fraction /= 10) to[i] = static_cast<char>('0' + fraction % 10);
  return to + 6;
}

bool Matches(const WriterFields::Entry& e, const Message& m) {
  return e.valid && e.pid == m.pid && e.tid == m.tid && e.process == m.process;
}

const std::string& FieldsOf(WriterFields& w, const Message& m) {
  if (Matches(w.entries[w.last], m)) return w.entries[w.last].fields;
  for (std::size_t i = 0; i < WriterFields::kEntries; ++i) {
    if (!Matches(w.entries[i], m)) continue;
    w.last = i;
    return w.entries[i].fields;
  }
  w.last = w.next;
  w.next = (w.next + 1) % WriterFields::kEntries;
  WriterFields::Entry& e = w.entries[w.last];
  e.pid = m.pid;
  e.tid = m.tid;
  e.process = m.process;
  e.valid = true;
  // Room for both numbers at 20 digits, the names and every byte escaped.
  e.fields.resize(96 + 6 * m.process.size());
  char* to = e.fields.data();
  to = PutDecimal(PutText(to, ",\"pid\":"), m.pid);
  to = PutDecimal(PutText(to, ",\"tid\":"), m.tid);
  to = PutAsciiJson(PutText(to, ",\"process\":"), m.process);
  e.fields.resize(to ? static_cast<std::size_t>(to - e.fields.data()) : 0);
  return e.fields;
}

char* PutJsonLine(char* to, const Message& m, WriterFields& writer) {
  to = PutTime(PutText(to, "{\"time\":"), m.time);
  if (!to) return nullptr;
  const std::string& fields = FieldsOf(writer, m);
  if (fields.empty()) return nullptr;
  to = PutAsciiJson(PutText(PutText(to, fields), ",\"text\":"), m.text);
  return to ? PutText(to, "}\n") : nullptr;
}

// The most a message's line can take on the fast path.
std::size_t Bound(const Message& m) { return 160 + 6 * (m.text.size() + m.process.size()); }

}  // namespace

RecordingWriter::RecordingWriter(std::ostream& out)
    : out_(out), buffer_(new char[kBlock]), writer_(std::make_unique<WriterFields>()) {}
RecordingWriter::~RecordingWriter() = default;

void AppendJsonLine(std::string& out, const Message& m) {
  const std::size_t start = out.size();
  out.resize(start + Bound(m));
  WriterFields writer;
  if (char* end = PutJsonLine(out.data() + start, m, writer)) {
    out.resize(static_cast<std::size_t>(end - out.data()));
    return;
  }
  out.resize(start);
  out += ToJsonLine(m);
}

void RecordingWriter::Add(const Message& m) {
  const std::size_t bound = Bound(m);
  if (used_ + bound > kBlock) WriteBlock();
  char* end = bound <= kBlock ? PutJsonLine(buffer_.get() + used_, m, *writer_) : nullptr;
  if (end) {
    used_ = static_cast<std::size_t>(end - buffer_.get());
    return;
  }
  WriteBlock();  // keeps the order of the lines
  const std::string line = ToJsonLine(m);
  if (ok_) ok_ = static_cast<bool>(out_.write(line.data(), static_cast<std::streamsize>(line.size())));
}

void RecordingWriter::WriteBlock() {
  if (used_ > 0 && ok_) ok_ = static_cast<bool>(out_.write(buffer_.get(), static_cast<std::streamsize>(used_)));
  used_ = 0;
}

bool RecordingWriter::Flush() {
  WriteBlock();
  if (ok_) ok_ = static_cast<bool>(out_.flush());
  return ok_;
}

namespace {
std::size_t BytesOf(const std::vector<Message>& batch) {
  std::size_t bytes = 0;
  for (const Message& m : batch) bytes += m.text.size() + 64;
  return bytes;
}
}  // namespace

Recorder::Recorder(std::ostream& out) : writer_(out) {
  thread_ = std::thread([this] { Run(); });
}

void Recorder::Hand(std::vector<Message>& batch) {
  if (batch.empty()) return;
  const std::size_t bytes = BytesOf(batch);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return heldBytes_ == 0 || heldBytes_ + bytes <= kHeldBytes; });
  heldBytes_ += bytes;
  waiting_.push_back(std::move(batch));
  batch.clear();
  if (!written_.empty()) {
    batch.swap(written_.back());
    written_.pop_back();
  }
  changed_.notify_all();
}

// Writes what is handed, and flushes whenever nothing more waits: a burst costs few writes.
void Recorder::Run() {
  LeaveSignalsToTheMainThread();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    std::vector<Message> batch = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    for (const Message& m : batch) writer_.Add(m);
    const std::size_t bytes = BytesOf(batch);
    lock.lock();
    if (waiting_.empty()) {
      lock.unlock();
      const bool flushed = writer_.Flush();
      lock.lock();
      ok_ = ok_ && flushed;
    }
    heldBytes_ -= bytes;
    if (written_.size() < kSpareBatches) written_.push_back(std::move(batch));
    changed_.notify_all();
  }
}

bool Recorder::Finish() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  return ok_ && writer_.Flush();
}

}  // namespace vxtrace
