// vxtrace: Windows-1252 / UTF-8 to displayable UTF-8.
#include "DisplayText.h"

#include <algorithm>

#include "channel/TextCodec.h"

namespace vxtrace {
namespace {

using vx380::channel::DecodeUtf8At;
using vx380::channel::Windows1252ToUnicode;

constexpr char kHex[] = "0123456789abcdef";

void AppendEscaped(std::string& out, unsigned char b) {
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0xF];
}

bool IsControl(unsigned char b) { return (b < 0x20 && b != '\t') || b == 0x7F; }

}  // namespace

void AppendUtf8(std::string& out, char32_t c) { vx380::channel::AppendUtf8(out, c); }

bool IsValidUtf8(std::string_view bytes) { return vx380::channel::IsValidUtf8(bytes); }

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::u32string DecodeUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const vx380::channel::Utf8Sequence seq = DecodeUtf8At(bytes, i);
    out += seq.length ? seq.code_point : U'\uFFFD';
    i += seq.length ? seq.length : 1;
  }
  return out;
}

std::u32string DecodeWindows1252(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (char b : bytes) out += Windows1252ToUnicode(static_cast<unsigned char>(b));
  return out;
}

bool EncodeWindows1252(std::u32string_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  for (char32_t c : text) {
    const unsigned char byte = c < 0x10000 ? vx380::channel::UnicodeToWindows1252(static_cast<char16_t>(c)) : 0;
    if (byte == 0 && c != 0) return false;
    bytes += static_cast<char>(byte);
  }
  return true;
}

void AppendDisplay(std::string& out, std::string_view bytes) {
  // Printable ASCII, most of any trace, is shown as it is.
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    out.append(bytes);
    return;
  }
  if (out.empty()) out.reserve(bytes.size());
  const bool utf8 = IsValidUtf8(bytes);
  for (size_t i = 0; i < bytes.size(); ++i) {
    // Plain printable ASCII, most of any trace, goes across in runs.
    size_t run = i;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) >= 0x20 &&
           static_cast<unsigned char>(bytes[run]) < 0x7F)
      ++run;
    if (run > i) {
      out.append(bytes.substr(i, run - i));
      i = run - 1;
      continue;
    }
    auto b = static_cast<unsigned char>(bytes[i]);
    if (IsControl(b)) {
      AppendEscaped(out, b);
    } else if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (utf8) {
      const vx380::channel::Utf8Sequence seq = DecodeUtf8At(bytes, i);
      const char32_t c = seq.code_point;
      const size_t n = seq.length;
      if (c >= 0x80 && c <= 0x9F) {  // C1: a terminal would obey U+009B as CSI
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
      } else {
        out.append(bytes.substr(i, n));
      }
      i += n - 1;
    } else if (vx380::channel::IsWindows1252Undefined(b)) {
      AppendEscaped(out, b);
    } else {
      AppendUtf8(out, Windows1252ToUnicode(b));
    }
  }
}

std::string ToDisplay(std::string_view bytes) {
  std::string out;
  AppendDisplay(out, bytes);
  return out;
}

}  // namespace vxtrace
