// .reg file text: the encoding from the first bytes, then decoding piece by piece.
#include "platform/posix/RegText.h"

#include <algorithm>

#include "channel/TextCodec.h"
#include "platform/posix/Ansi1252.h"

namespace vx380::posix {

namespace {

constexpr std::size_t kPiece = 64 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// Each piece is decoded straight onto the text, so reading allocates nothing once the
// text has room for the longest line.
void AppendAnsi(std::string_view bytes, std::u16string& out) {
  for (char c : bytes) out.push_back(AnsiToUnicode(static_cast<unsigned char>(c)));
}

// False at an invalid sequence (overlong forms, surrogates and values past U+10FFFF included).
bool AppendUtf8Strict(std::string_view bytes, std::u16string& out) {
  for (std::size_t i = 0; i < bytes.size();) {
    const channel::Utf8Sequence sequence = channel::DecodeUtf8At(bytes, i);
    if (sequence.length == 0) return false;
    char32_t cp = sequence.code_point;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    out.push_back(static_cast<char16_t>(cp));
    i += sequence.length;
  }
  return true;
}

void AppendUtf16Le(std::string_view bytes, std::u16string& out) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
}

// How much of `raw` ends on a whole UTF-8 sequence: a sequence cut by the piece waits for
// the next one. Invalid bytes are left in, for the strict decoding to refuse.
std::size_t WholeUtf8(std::string_view raw) {
  for (std::size_t back = 1; back <= 4 && back <= raw.size(); ++back) {
    const auto b = static_cast<unsigned char>(raw[raw.size() - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte
    const std::size_t length = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    return length > back ? raw.size() - back : raw.size();
  }
  return raw.size();
}

}  // namespace

RegLines::RegLines(const RegBytes& bytes, Encoding encoding) : bytes_(bytes), guess_(encoding == Encoding::kGuess) {
  Start();
}

// Version 5 files written by hand on Linux come in UTF-8, so a file that is not UTF-16 but
// claims version 5 is read as UTF-8 when it is valid UTF-8.
void RegLines::Start() {
  char head[64];
  const std::string_view first(head, bytes_(0, head, sizeof head));
  codec_ = Codec::kAnsi;
  if (first.starts_with("\xFF\xFE")) {
    codec_ = Codec::kUtf16;
    offset_ = 2;
  } else if (first.starts_with(kUtf8Bom)) {
    if (guess_) codec_ = Codec::kUtf8;
    offset_ = kUtf8Bom.size();
  } else if (guess_ && first.starts_with(kHeader5)) {
    codec_ = Codec::kUtf8;
  }
}

// Reads a piece and decodes what of it is whole; false at the end of the file.
bool RegLines::Decode() {
  if (end_) return false;
  const std::size_t held = raw_.size();
  raw_.resize(held + kPiece);
  const std::size_t got = bytes_(offset_, raw_.data() + held, kPiece);
  raw_.resize(held + got);
  offset_ += got;
  end_ = got == 0;
  std::size_t whole = raw_.size();
  if (codec_ == Codec::kUtf16) {
    whole &= ~std::size_t{1};  // an odd last byte is not a character
    AppendUtf16Le(std::string_view(raw_.data(), whole), text_);
  } else if (codec_ == Codec::kUtf8) {
    if (!end_) whole = WholeUtf8(raw_);
    if (!AppendUtf8Strict(std::string_view(raw_.data(), whole), text_)) {
      misread_ = end_ = true;
      return false;
    }
  } else {
    AppendAnsi(raw_, text_);
  }
  raw_.erase(0, whole);
  return !end_;
}

bool RegLines::Next(std::u16string_view& line) {
  std::size_t stop = std::u16string::npos;
  while ((stop = text_.find(u'\n', std::max(scanned_, pos_))) == std::u16string::npos) {
    // Lines are taken by moving pos_; the text is compacted only when more is read.
    text_.erase(0, pos_);
    pos_ = 0;
    scanned_ = text_.size();
    if (Decode()) continue;
    if (misread_ || text_.empty()) return false;
    stop = text_.size();  // the last line, without a line end
    break;
  }
  line = std::u16string_view(text_).substr(pos_, stop - pos_);
  if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
  pos_ = scanned_ = std::min(stop + 1, text_.size());
  ++lineNumber_;
  return true;
}

}  // namespace vx380::posix
