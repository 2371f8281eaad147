// The contents of one .reg file as the settings store reads it: which keys exist and the
// bytes of each value, as the ANSI registry calls of Windows would return them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/RegText.h"

namespace vx380::posix {

enum class RegRoot { kCurrentUser, kLocalMachine };

class RegFile {
 public:
  using Data = std::vector<unsigned char>;

  // Key sections and values a file may hold: reading stops at the first beyond either, so a
  // file costs bounded memory and time however short its lines. Settings never come near.
  static constexpr std::size_t kMaxKeys = 65536;
  static constexpr std::size_t kMaxValues = 131072;

  // Reads a .reg file ("Windows Registry Editor Version 5.00" in UTF-16LE with BOM or in
  // UTF-8, or "REGEDIT4" in Windows-1252) and keeps the keys below `root`; sections of other
  // roots are skipped. Whatever is malformed is skipped and the rest still read.
  static RegFile Parse(std::string_view contents, RegRoot root);
  // The same, the file's bytes fetched a piece at a time.
  static RegFile Read(const RegBytes& bytes, RegRoot root);

  // When a bound stopped the reading: "keys" or "values", and the first line not read.
  const char* StoppedBy() const { return stoppedBy_; }
  std::size_t StoppedAtLine() const { return stoppedAt_; }

  // Paths are below the root, levels separated by "\", in any case; "" is the root key.
  // A key exists when the file names it or one of its subkeys.
  bool HasKey(std::u16string_view path) const;
  // The value's bytes, nullptr when the key or the value is missing. "" names the default value.
  const Data* FindValue(std::u16string_view path, std::u16string_view name) const;

  // Case folding the way the registry compares names (upper case, for the common scripts).
  static std::u16string Fold(std::u16string_view name);

 private:
  using Values = std::map<std::u16string, Data>;
  std::map<std::u16string, Values> keys_;  // folded path of each named key -> values; root ""
  const char* stoppedBy_ = nullptr;
  std::size_t stoppedAt_ = 0;
  friend class RegFileParser;
};

}  // namespace vx380::posix
