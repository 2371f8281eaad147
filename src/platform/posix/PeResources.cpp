// PE parsing for string resources. Every offset in the file is checked against the file, and
// the work done for one file is bounded, so damaged or hostile files cannot crash or stall.
#include "platform/posix/PeResources.h"

#include <vector>

namespace vx380::posix {

namespace {

constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kMaxEntriesVisited = 1u << 18;
constexpr std::uint32_t kMaxSections = 96;
constexpr std::size_t kMaxTextUnits = 16u << 20;

// Language preference: neutral, then the user's and system default, then US and any English,
// then whatever comes first.
int LanguageRank(std::uint32_t lang) {
  switch (lang) {
    case 0x0000:
      return 0;
    case 0x0400:
      return 1;
    case 0x0800:
      return 2;
    case 0x0409:
      return 3;
    default:
      return (lang & 0x3FF) == 0x09 ? 4 : 5;
  }
}

}  // namespace

class PeReader {
 public:
  explicit PeReader(std::span<const unsigned char> image) : image_(image) {}

  bool ReadHeaders() {
    if (!Has(0, 0x40) || image_[0] != 'M' || image_[1] != 'Z') return false;
    const std::uint64_t pe = U32(0x3C);
    if (!Has(pe, 24) || U32(pe) != 0x00004550) return false;  // "PE\0\0"
    const std::uint64_t coff = pe + 4;
    const std::uint32_t sectionCount = U16(coff + 2);
    const std::uint32_t optionalSize = U16(coff + 16);
    const std::uint64_t optional = coff + 20;
    if (!Has(optional, 2)) return false;
    std::uint64_t countAt, directoriesAt;
    switch (U16(optional)) {
      case 0x10B:
        countAt = 92, directoriesAt = 96;
        break;  // PE32
      case 0x20B:
        countAt = 108, directoriesAt = 112;
        break;  // PE32+
      default:
        return false;
    }
    if (countAt + 4 > optionalSize || !Has(optional + countAt, 4)) return false;
    const std::uint32_t directoryCount = U32(optional + countAt);
    constexpr std::uint64_t kResourceDirectory = 2;
    const std::uint64_t resourceAt = optional + directoriesAt + kResourceDirectory * 8;
    if (directoryCount > kResourceDirectory && resourceAt + 8 <= optional + optionalSize && Has(resourceAt, 8)) {
      resourceRva_ = U32(resourceAt);
      resourceSize_ = U32(resourceAt + 4);
    }
    // Section headers that lie inside the file; a resource section past the first 96 (the
    // old loader's limit) is not looked for, which keeps every address lookup cheap.
    const std::uint64_t table = optional + optionalSize;
    for (std::uint32_t i = 0; i < sectionCount && i < kMaxSections && Has(table + 40ull * i, 40); ++i) {
      const std::uint64_t header = table + 40ull * i;
      sections_.push_back(Section{U32(header + 12), U32(header + 16), U32(header + 20)});
    }
    return true;
  }

  void ReadStrings(StringTable& table) {
    if (resourceRva_ == 0 || resourceSize_ == 0) return;
    for (const Entry& type : Directory(resourceRva_)) {
      if (type.name != kRtString || !type.subdirectory) continue;
      for (const Entry& block : Directory(resourceRva_ + type.offset)) {
        if ((block.name & kHighBit) || block.name == 0 || block.name > 0xFFFF || !block.subdirectory) continue;
        std::optional<Entry> chosen;
        for (const Entry& language : Directory(resourceRva_ + block.offset)) {
          if (language.subdirectory || (language.name & kHighBit)) continue;
          if (!chosen || LanguageRank(language.name) < LanguageRank(chosen->name)) chosen = language;
        }
        if (chosen) ReadBlock(block.name, resourceRva_ + chosen->offset, table);
      }
      break;  // one RT_STRING directory
    }
  }

 private:
  struct Entry {
    std::uint32_t name = 0;
    std::uint32_t offset = 0;  // below the resource root
    bool subdirectory = false;
  };

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= image_.size() && length <= image_.size() - offset;
  }
  std::uint32_t U16(std::uint64_t at) const { return image_[at] | (image_[at + 1] << 8); }
  std::uint32_t U32(std::uint64_t at) const {
    return image_[at] | (image_[at + 1] << 8) | (image_[at + 2] << 16) |
           (static_cast<std::uint32_t>(image_[at + 3]) << 24);
  }

  // The file offset of `length` bytes at a relative virtual address, if a section holds them.
  std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t length) const {
    for (const Section& section : sections_) {
      if (rva < section.start || rva - section.start >= section.rawSize) continue;
      const std::uint64_t into = rva - section.start;
      if (length > section.rawSize - into || !Has(section.rawAt + into, length)) return std::nullopt;
      return section.rawAt + into;
    }
    return std::nullopt;
  }

  std::vector<Entry> Directory(std::uint64_t rva) {
    std::vector<Entry> entries;
    const auto header = FileOffset(rva, 16);
    if (!header) return entries;
    const std::uint64_t count = U16(*header + 12) + U16(*header + 14);
    for (std::uint64_t i = 0; i < count && visited_ < kMaxEntriesVisited; ++i, ++visited_) {
      const auto at = FileOffset(rva + 16 + 8 * i, 8);
      if (!at) break;
      const std::uint32_t offset = U32(*at + 4);
      entries.push_back(Entry{U32(*at), offset & ~kHighBit, (offset & kHighBit) != 0});
    }
    return entries;
  }

  void ReadBlock(std::uint32_t block, std::uint64_t dataEntryRva, StringTable& table) {
    const auto dataEntry = FileOffset(dataEntryRva, 16);
    if (!dataEntry) return;
    const std::uint32_t size = U32(*dataEntry + 4);
    const auto data = FileOffset(U32(*dataEntry), size);
    if (!data) return;
    std::uint64_t at = *data;
    const std::uint64_t end = *data + size;
    for (std::uint32_t entry = 0; entry < 16 && at + 2 <= end; ++entry) {
      const std::uint32_t length = U16(at);
      at += 2;
      if (at + 2ull * length > end) return;  // a cut string ends the block
      if (length && textUnits_ + length <= kMaxTextUnits) {
        std::u16string text(length, u'\0');
        for (std::uint32_t k = 0; k < length; ++k) text[k] = static_cast<char16_t>(U16(at + 2ull * k));
        table.strings_.emplace((block << 4) | entry, std::move(text));
        textUnits_ += length;
      }
      at += 2ull * length;
    }
  }

  struct Section {
    std::uint64_t start, rawSize, rawAt;  // virtual address, size and offset in the file
  };

  std::span<const unsigned char> image_;
  std::vector<Section> sections_;
  std::uint32_t resourceRva_ = 0;
  std::uint32_t resourceSize_ = 0;
  std::size_t visited_ = 0;
  std::size_t textUnits_ = 0;
};

std::optional<StringTable> StringTable::FromImage(std::span<const unsigned char> image) {
  PeReader reader(image);
  if (!reader.ReadHeaders()) return std::nullopt;
  StringTable table;
  reader.ReadStrings(table);
  return table;
}

const std::u16string* StringTable::Find(std::uint32_t id) const {
  // As LoadString does it: the block number is a 16-bit resource id.
  const std::uint32_t block = static_cast<std::uint16_t>((id >> 4) + 1);
  const auto it = strings_.find((block << 4) | (id & 15));
  return it == strings_.end() ? nullptr : &it->second;
}

}  // namespace vx380::posix
