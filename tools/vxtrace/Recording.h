// vxtrace: recordings as JSON Lines, one object per message:
//   {"time":1765152267.123456,"pid":4242,"tid":4243,"process":"host","text":"RBDEBUG: x\n"}
// time is the arrival in seconds since the Unix epoch (0: unknown), pid and tid are 0
// when unknown. text holds the message whole. A message that is not valid UTF-8 was
// written in Windows-1252: its text is that decoded, and "cp":1252 says so, which
// gives the exact bytes back (the five bytes the code page leaves out as U+0081 etc.).
#pragma once

#include <string>
#include <vector>
#include <string_view>

#include "Message.h"

namespace vxtrace {

// The longest line of a recording read whole: the longest message's text, every byte
// escaped (six bytes for one at most), and the other fields.
inline constexpr std::size_t kMaxRecordingLine = 6 * kMaxMessageBytes + 64 * 1024;

// One line of a recording, with its LF.
std::string ToJsonLine(const Message& message);

// Reads a line written by ToJsonLine (its line end may be there or not); false for
// anything else, which the reader then takes as a plain line of text.
bool FromJsonLine(std::string_view line, Message& message);

// How a capture ended, kept as a recording's last line when a replay needs it to show
// the same close: Ctrl-C (a tree view then ends with the summary) and the notes the
// capture printed under its summary. {"end":"interrupted","notes":"line\nline"}
struct RunEnd {
  bool interrupted = false;
  std::vector<std::string> notes;
};
std::string ToJsonLine(const RunEnd& end);
// False for anything else (a message's line among them).
bool FromJsonLine(std::string_view line, RunEnd& end);

// A line read back: a recording's message, or else a plain line of text. lineCut: the
// reader kept only the line's head, which is then plain text. The text is cut at
// kMaxMessageBytes, as a live capture cuts it; true when anything was cut.
bool MessageFromLine(std::string_view line, bool lineCut, Message& message);

}  // namespace vxtrace
