// vxtrace: writes and reads the JSON Lines recording of a capture.
#include "Recording.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "DisplayText.h"

namespace vxtrace {
namespace {

void AppendHex4(std::string& out, unsigned c) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
}

// Controls (C0, DEL and C1) are escaped so a recording is safe to cat.
void AppendJsonString(std::string& out, std::u32string_view text) {
  out += '"';
  for (char32_t c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      AppendHex4(out, c);
    } else {
      AppendUtf8(out, c);
    }
  }
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view utf8) { AppendJsonString(out, DecodeUtf8(utf8)); }

class JsonCursor {
 public:
  explicit JsonCursor(std::string_view s) : s_(s) {}
  void Blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
  }
  bool Take(char c) {
    Blanks();
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  bool AtEnd() {
    Blanks();
    return i_ == s_.size();
  }
  bool String(std::u32string& out);
  bool Number(double& out) {
    Blanks();
    const char* begin = s_.data() + i_;
    size_t n = 0;
    while (i_ + n < s_.size() && std::string_view("+-.0123456789eE").find(s_[i_ + n]) != std::string_view::npos) ++n;
    if (n == 0) return false;
    std::string digits(begin, n);
    char* end = nullptr;
    out = std::strtod(digits.c_str(), &end);
    i_ += n;
    return end == digits.c_str() + n;
  }

 private:
  bool Hex4(unsigned& c) {
    if (i_ + 4 > s_.size()) return false;
    auto [p, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, c, 16);
    if (ec != std::errc() || p != s_.data() + i_ + 4) return false;
    i_ += 4;
    return true;
  }
  bool Escape(std::u32string& out);

  std::string_view s_;
  size_t i_ = 0;
};

bool JsonCursor::Escape(std::u32string& out) {
  if (i_ >= s_.size()) return false;
  const char e = s_[i_++];
  const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
  if (size_t k = from.find(e); k != std::string_view::npos) {
    out += static_cast<char32_t>(to[k]);
    return true;
  }
  unsigned c = 0;
  if (e != 'u' || !Hex4(c)) return false;
  if (c >= 0xD800 && c <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
    i_ += 2;
    unsigned low = 0;
    if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
  }
  out += static_cast<char32_t>(c);
  return true;
}

bool JsonCursor::String(std::u32string& out) {
  if (!Take('"')) return false;
  size_t start = i_;
  while (i_ < s_.size() && s_[i_] != '"') {
    if (s_[i_] != '\\') {
      ++i_;
      continue;
    }
    out += DecodeUtf8(s_.substr(start, i_ - start));
    ++i_;
    if (!Escape(out)) return false;
    start = i_;
  }
  if (i_ >= s_.size()) return false;
  out += DecodeUtf8(s_.substr(start, i_ - start));
  ++i_;
  return true;
}

bool StoreField(const std::string& key, JsonCursor& in, Message& m, std::u32string& text, double& cp) {
  std::u32string value;
  double number = 0;
  if (key == "text") return in.String(text);
  if (key == "process") {
    if (!in.String(value)) return false;
    m.process = EncodeUtf8(value);
    return true;
  }
  const bool known = key == "time" || key == "pid" || key == "tid" || key == "cp";
  if (!known) return in.String(value) || in.Number(number);  // another tool's field: skipped
  // Whole ids and times up to 2^53 only: nothing else converts safely.
  if (!in.Number(number) || !(number >= 0 && number <= 9007199254740992.0)) return false;
  if (key == "time") m.time = number;
  else if (key == "pid") m.pid = static_cast<unsigned long>(number);
  else if (key == "tid") m.tid = static_cast<unsigned long long>(number);
  else cp = number;
  return true;
}

}  // namespace

std::string ToJsonLine(const Message& m) {
  std::string out;
  out.reserve(m.text.size() + m.process.size() + 96);
  char head[96];
  std::snprintf(head, sizeof head, "{\"time\":%.6f,\"pid\":%lu,\"tid\":%llu,\"process\":", m.time, m.pid, m.tid);
  out += head;
  AppendJsonString(out, IsValidUtf8(m.process) ? m.process : EncodeUtf8(DecodeWindows1252(m.process)));
  out += ",\"text\":";
  if (IsValidUtf8(m.text)) {
    AppendJsonString(out, m.text);
  } else {
    AppendJsonString(out, DecodeWindows1252(m.text));
    out += ",\"cp\":1252";
  }
  out += "}\n";
  return out;
}

bool FromJsonLine(std::string_view line, Message& m) {
  JsonCursor in(line);
  if (!in.Take('{')) return false;
  Message read;
  std::u32string text;
  double cp = 0;
  bool hasText = false;
  if (!in.Take('}')) {
    do {
      std::u32string key;
      if (!in.String(key) || !in.Take(':')) return false;
      const std::string name = EncodeUtf8(key);
      hasText = hasText || name == "text";
      if (!StoreField(name, in, read, text, cp)) return false;
    } while (in.Take(','));
    if (!in.Take('}')) return false;
  }
  if (!in.AtEnd() || !hasText) return false;
  if (cp == 1252) {
    if (!EncodeWindows1252(text, read.text)) return false;
  } else {
    read.text = EncodeUtf8(text);
  }
  m = std::move(read);
  return true;
}

std::string ToJsonLine(const RunEnd& end) {
  std::string notes;
  for (const std::string& note : end.notes) notes += (notes.empty() ? "" : "\n") + note;
  std::string out = end.interrupted ? "{\"end\":\"interrupted\",\"notes\":" : "{\"end\":\"done\",\"notes\":";
  AppendJsonString(out, notes);
  return out + "}\n";
}

bool FromJsonLine(std::string_view line, RunEnd& end) {
  JsonCursor in(line);
  std::u32string key, how, notes;
  if (!in.Take('{') || !in.String(key) || key != U"end" || !in.Take(':') || !in.String(how)) return false;
  key.clear();  // String appends
  if (in.Take(',') && !(in.String(key) && key == U"notes" && in.Take(':') && in.String(notes))) return false;
  if (!in.Take('}') || !in.AtEnd() || (how != U"interrupted" && how != U"done")) return false;
  end = RunEnd{how == U"interrupted", {}};
  const std::string text = EncodeUtf8(notes);
  for (size_t start = 0; start < text.size();) {
    size_t lf = std::min(text.find('\n', start), text.size());
    end.notes.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return true;
}

bool MessageFromLine(std::string_view line, bool lineCut, Message& m) {
  if (lineCut || !FromJsonLine(line, m)) {
    m = Message{};
    m.text.assign(line.substr(0, kMaxMessageBytes));
    return lineCut || line.size() > kMaxMessageBytes;
  }
  if (m.text.size() <= kMaxMessageBytes) return false;
  m.text.resize(kMaxMessageBytes);
  return true;
}

}  // namespace vxtrace
