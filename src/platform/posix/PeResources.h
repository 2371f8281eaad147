// String tables read straight from PE files (DLLs and EXEs, 32- and 64-bit), the way loading
// a module as a data file and loading a string from it see them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace vx380::posix {

class StringTable {
 public:
  // The RT_STRING resources of a PE image; nullopt when the bytes are not a PE image. Damaged
  // resource data inside a valid image are skipped: the table then holds what could be read.
  static std::optional<StringTable> FromImage(std::span<const unsigned char> image);

  // The string with this id as LoadString finds it (block (id >> 4) + 1, entry id & 15);
  // nullptr when there is none or it is empty.
  const std::u16string* Find(std::uint32_t id) const;

 private:
  std::map<std::uint32_t, std::u16string> strings_;  // (block << 4) | entry -> text
  friend class PeReader;
};

}  // namespace vx380::posix
