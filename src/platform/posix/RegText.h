// The text of a .reg file, decoded a piece at a time and handed out line by line, so a large
// file costs the longest line's room rather than the whole file's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vx380::posix {

// Up to `n` bytes of the file from `offset`; fewer only at its end.
using RegBytes = std::function<std::size_t(std::uint64_t offset, char* to, std::size_t n)>;

class RegLines {
 public:
  enum class Encoding { kGuess, kAnsi };
  // kGuess: UTF-16LE after its BOM; UTF-8 after its BOM or under a version 5 header, as
  // long as it is valid UTF-8; else Windows-1252. kAnsi: Windows-1252 throughout.
  RegLines(const RegBytes& bytes, Encoding encoding);

  // The next line without its line end; valid until the next call. False at the end, and
  // when the text proves not to be UTF-8 after all (Misread()).
  bool Next(std::u16string_view& line);
  // Text taken for UTF-8 held an invalid sequence: read the file again as kAnsi.
  bool Misread() const { return misread_; }
  // The number of the line Next gave last, from 1.
  std::size_t LineNumber() const { return lineNumber_; }

 private:
  enum class Codec { kUtf16, kUtf8, kAnsi };
  bool Decode();
  void Start();

  const RegBytes& bytes_;
  Codec codec_;
  bool guess_;
  bool end_ = false;
  bool misread_ = false;
  std::uint64_t offset_ = 0;
  std::string raw_;  // read, not yet decoded: half a UTF-16 unit or UTF-8 sequence
  std::u16string text_;
  std::size_t pos_ = 0;      // where the next line starts in text_
  std::size_t scanned_ = 0;  // text_ holds no LF between pos_ and here
  std::size_t lineNumber_ = 0;
};

}  // namespace vx380::posix
