// vxtrace: text and number helpers of the picture writers.
#include "PictureText.h"

#include <charconv>
#include <cmath>

#include "channel/TextCodec.h"

namespace vxtrace {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) { return vx380::channel::DecodeUtf8At(text, i).length; }

void AppendUnicodeEscape(std::string& out, unsigned code) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
}

bool IsControl(char ch) {
  auto b = static_cast<unsigned char>(ch);
  return (b < 0x20 && ch != '\t' && ch != '\n') || b == 0x7F;
}

void AppendHexEscape(std::string& out, char ch) {
  static const char kHex[] = "0123456789abcdef";
  auto b = static_cast<unsigned char>(ch);
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0xF];
}

void AppendJsonAscii(std::string& out, char ch) {
  switch (ch) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '<':
    case '>':
    case '&':
      AppendUnicodeEscape(out, static_cast<unsigned char>(ch));
      return;
    default:
      break;
  }
  if (IsControl(ch)) AppendUnicodeEscape(out, static_cast<unsigned char>(ch));
  else out += ch;
}

}  // namespace

std::string ScrubUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = SequenceLength(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    size_t n = SequenceLength(text, i);
    std::string_view seq = n == 0 ? std::string_view{} : text.substr(i, n);
    if (n == 0) out += kReplacement;
    else if (n == 1) AppendJsonAscii(out, text[i]);
    else if (seq == "\xE2\x80\xA8" || seq == "\xE2\x80\xA9")  // line separators end a JS line
      AppendUnicodeEscape(out, seq[2] == '\xA8' ? 0x2028 : 0x2029);
    else out += seq;
    i += n == 0 ? 1 : n;
  }
  out += '"';
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  std::string clean = ScrubUtf8(text);
  out.reserve(clean.size());
  for (char ch : clean) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (IsControl(ch)) AppendHexEscape(out, ch);  // shown as the terminal view shows it
        else out += ch;
    }
  }
  return out;
}

std::string FormatNumber(double value, int decimals) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, FiniteMs(value), std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "0";
  std::string text(buf, end);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string FormatAverageMs(double ms) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, FiniteMs(ms), std::chars_format::fixed, 1);
  return ec == std::errc() ? std::string(buf, end) : "0.0";
}

std::string Counted(long long n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

double FiniteMs(double ms) { return std::isfinite(ms) ? ms : 0; }

std::string ProcessLabel(const ThreadTrack& track) {
  if (!track.process.empty()) return ScrubUtf8(track.process);
  if (track.pid != 0) return "process " + std::to_string(track.pid);
  return "unknown process";
}

std::string ThreadLabel(const ThreadTrack& track) {
  if (track.tid != 0) return "thread " + std::to_string(track.tid);
  return "thread not told";
}

const char* InstantKindName(CallInstant::Kind kind) {
  switch (kind) {
    case CallInstant::Kind::LineMarker:
      return "line";
    case CallInstant::Kind::Error:
      return "error";
    case CallInstant::Kind::TimeStamp:
      return "timestamp";
    case CallInstant::Kind::Log:
      return "log";
    case CallInstant::Kind::Other:
      break;
  }
  return "other";
}

}  // namespace vxtrace
