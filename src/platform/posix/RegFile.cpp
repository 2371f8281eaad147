// .reg file reader: decoding, line structure, key sections and value data.
#include "platform/posix/RegFile.h"

#include <optional>

#include "platform/posix/Ansi1252.h"

namespace vx380::posix {

namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";

// Registry types whose data hold text, which the ANSI calls hand out in the ANSI code page.
constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegMultiSz = 7;

char16_t FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper/lower case; the pairing flips parity in two stretches.
    if (c == 0x131) return u'I';
    if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x178 || c == 0x17F) return c;
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool isLower = oddUpper ? (c % 2 == 0) : (c % 2 == 1);
    return isLower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
  return s;
}

std::u16string_view Trim(std::u16string_view s) { return TrimLeft(TrimRight(s)); }

bool StartsWithFolded(std::u16string_view s, std::u16string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (FoldUnit(s[i]) != FoldUnit(prefix[i])) return false;
  return true;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// 1 to 8 hex digits, the whole of `s`.
std::optional<std::uint32_t> ParseHex32(std::u16string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char16_t c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');  // an odd last byte is not a character
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

}  // namespace

std::u16string RegFile::Fold(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = FoldUnit(c);
  return out;
}

class RegFileParser {
 public:
  RegFileParser(RegLines& lines, RegRoot root, RegFile& file) : lines_(lines), root_(root), file_(file) {}

  void Run() {
    std::u16string_view line;
    // The first line that is not blank names the format; without one nothing is read.
    do {
      if (!NextLine(line)) return;
      line = Trim(line);
    } while (line.empty());
    if (line == kHeader5) unicode_ = true;
    else if (line != kHeader4) return;

    std::size_t keys = 0, values = 0;
    while (NextLine(line)) {
      line = TrimLeft(line);
      if (line.empty() || line.front() == u';') continue;
      const bool key = line.front() == u'[';
      const bool value = line.front() == u'@' || line.front() == u'"';
      if ((key && ++keys > RegFile::kMaxKeys) || (value && ++values > RegFile::kMaxValues)) {
        file_.stoppedBy_ = key ? "keys" : "values";
        file_.stoppedAt_ = lines_.LineNumber();
        return;
      }
      if (key) KeyLine(line);
      else if (value) ValueLine(line);
      // Anything else is not part of the format: skipped.
    }
  }

 private:
  bool NextLine(std::u16string_view& line) { return lines_.Next(line); }

  void KeyLine(std::u16string_view line) {
    current_ = nullptr;
    const std::size_t close = line.rfind(u']');
    if (close == std::u16string_view::npos) return;
    std::u16string_view inner = line.substr(1, close - 1);
    if (inner.empty() || inner.front() == u'-') return;  // deletions do not apply here
    const std::size_t slash = inner.find(u'\\');
    const std::u16string rootName = RegFile::Fold(inner.substr(0, slash));
    const bool user = rootName == u"HKEY_CURRENT_USER" || rootName == u"HKCU";
    const bool machine = rootName == u"HKEY_LOCAL_MACHINE" || rootName == u"HKLM";
    if (!(root_ == RegRoot::kCurrentUser ? user : machine)) return;

    std::u16string_view path = slash == std::u16string_view::npos ? u"" : inner.substr(slash + 1);
    while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    current_ = &file_.keys_[RegFile::Fold(path)];
  }

  // A quoted text starting at s[0] == '"'; `s` is advanced past the closing quote.
  static std::optional<std::u16string> Quoted(std::u16string_view& s) {
    std::u16string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
      const char16_t c = s[i];
      if (c == u'"') {
        s.remove_prefix(i + 1);
        return out;
      }
      if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
        out.push_back(s[++i]);
        continue;
      }
      out.push_back(c);  // a lone backslash stays, so hand-written paths read as meant
    }
    return std::nullopt;
  }

  // Nothing but blanks or a comment may follow a value.
  static bool EndsClean(std::u16string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == u';';
  }

  void ValueLine(std::u16string_view line) {
    std::u16string name;
    std::u16string_view rest = line;
    if (rest.front() == u'@') {
      rest.remove_prefix(1);
    } else {
      auto quoted = Quoted(rest);
      if (!quoted) return;
      name = std::move(*quoted);
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != u'=') return;
    rest = TrimLeft(rest.substr(1));

    std::optional<RegFile::Data> data;
    if (!rest.empty() && rest.front() == u'"') {
      auto text = Quoted(rest);
      if (text && EndsClean(rest)) {
        std::string ansi = ToAnsi1252(*text);
        data.emplace(ansi.begin(), ansi.end());
        data->push_back(0);
      }
    } else if (StartsWithFolded(rest, u"dword:")) {
      rest.remove_prefix(6);
      const std::size_t end = rest.find_first_of(u" \t;\r");
      auto value = ParseHex32(rest.substr(0, end));
      if (value && EndsClean(end == std::u16string_view::npos ? u"" : rest.substr(end))) {
        data.emplace();
        for (int k = 0; k < 4; ++k) data->push_back(static_cast<unsigned char>(*value >> (8 * k)));
      }
    } else if (StartsWithFolded(rest, u"hex")) {
      // The data may go on over lines that end in a backslash; they are consumed even when
      // the value turns out to be malformed, so they are never read as lines of their own.
      data = HexValue(rest.substr(3));
    }
    // "name"=- (a deletion) and unknown types are skipped.
    if (data && current_) (*current_)[RegFile::Fold(name)] = std::move(*data);
  }

  std::optional<RegFile::Data> HexValue(std::u16string_view rest) {
    std::u16string joined(TrimRight(rest));
    while (!joined.empty() && joined.back() == u'\\') {
      joined.pop_back();
      std::u16string_view next;
      if (!NextLine(next)) break;
      joined.append(TrimRight(TrimLeft(next)));
    }
    std::u16string_view s = joined;

    std::uint32_t type = 3;  // plain "hex:" is binary
    if (!s.empty() && s.front() == u'(') {
      const std::size_t close = s.find(u')');
      if (close == std::u16string_view::npos) return std::nullopt;
      auto t = ParseHex32(s.substr(1, close - 1));
      if (!t) return std::nullopt;
      type = *t;
      s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != u':') return std::nullopt;
    s.remove_prefix(1);

    RegFile::Data bytes;
    while (true) {
      s = TrimLeft(s);
      if (s.empty() || s.front() == u';') break;
      std::size_t n = 0;
      int value = 0;
      while (n < s.size() && n < 3 && HexDigit(s[n]) >= 0) value = value * 16 + HexDigit(s[n++]);
      if (n == 0 || n > 2) return std::nullopt;
      bytes.push_back(static_cast<unsigned char>(value));
      s = TrimLeft(s.substr(n));
      if (s.empty() || s.front() == u';') break;
      if (s.front() != u',') return std::nullopt;
      s.remove_prefix(1);
    }

    if (unicode_ && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz)) {
      const std::string ansi =
          ToAnsi1252(DecodeUtf16Le(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
      bytes.assign(ansi.begin(), ansi.end());
    }
    return bytes;
  }

  RegLines& lines_;
  RegRoot root_;
  RegFile& file_;
  bool unicode_ = false;
  RegFile::Values* current_ = nullptr;
};

RegFile RegFile::Parse(std::string_view contents, RegRoot root) {
  return Read(
      [contents](std::uint64_t offset, char* to, std::size_t n) {
        return offset >= contents.size() ? 0 : contents.copy(to, n, static_cast<std::size_t>(offset));
      },
      root);
}

RegFile RegFile::Read(const RegBytes& bytes, RegRoot root) {
  RegFile file;
  RegLines lines(bytes, RegLines::Encoding::kGuess);
  RegFileParser(lines, root, file).Run();
  if (lines.Misread()) {  // not UTF-8 after all: the whole file is ANSI
    file = RegFile();
    RegLines ansi(bytes, RegLines::Encoding::kAnsi);
    RegFileParser(ansi, root, file).Run();
  }
  file.keys_[u""];  // the root always exists
  return file;
}

bool RegFile::HasKey(std::u16string_view path) const {
  std::u16string folded = Fold(path);
  if (folded.empty() || keys_.contains(folded)) return true;
  // The parents of a named key exist too: some key starts with this path and a "\".
  folded.push_back(u'\\');
  const auto next = keys_.lower_bound(folded);
  return next != keys_.end() && next->first.starts_with(folded);
}

const RegFile::Data* RegFile::FindValue(std::u16string_view path, std::u16string_view name) const {
  const auto key = keys_.find(Fold(path));
  if (key == keys_.end()) return nullptr;
  const auto value = key->second.find(Fold(name));
  return value == key->second.end() ? nullptr : &value->second;
}

}  // namespace vx380::posix
