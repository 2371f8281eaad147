// Where a line is built from its pieces: as bytes into the thread's line buffer (its texts
// checked ASCII by the caller), or as text. A line is spelled once, as a template over the
// two, so the bytes sent directly and the text handed to DebugTrace cannot drift apart.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/DebugOutput.h"
#include "vx380/TraceChannel.h"

namespace vx380::core {

struct ByteLine {
  DebugLineBuffer& line;
  template <size_t N>
  void Put(const channel::LineText<N>& piece) {
    line.bytes().append(piece.str());
  }
  void Put(const String& text) { line.AppendAscii(text); }
  void PutAscii(std::string_view ascii) { line.bytes().append(ascii); }
  void Repeat(size_t count, char c) { line.bytes().append(count, c); }
};

struct TextLine {
  String& text;
  template <size_t N>
  void Put(const channel::LineText<N>& piece) {
    text.append(piece.u16());
  }
  void Put(const String& part) { text.append(part); }
  void PutAscii(std::string_view ascii) { text.append(ascii.begin(), ascii.end()); }
  void Repeat(size_t count, char c) { text.append(count, static_cast<char16_t>(c)); }
};

}  // namespace vx380::core
