// vxtrace: text and number helpers shared by the picture writers (Chrome trace-event
// JSON and the HTML page). Model text is meant to be UTF-8 but may carry stray bytes;
// everything written here is valid UTF-8 whatever comes in.
#pragma once

#include <string>
#include <string_view>

#include "CallModel.h"

namespace vxtrace {

// The text with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
std::string ScrubUtf8(std::string_view text);

// Appends the text as a quoted JSON string. Besides what JSON requires, "<", ">", "&"
// and U+2028/U+2029 are escaped too, so the result can sit inside an HTML <script>.
void AppendJsonString(std::string& out, std::string_view text);

// Text for HTML content and quoted attribute values; control characters other than
// tab and line feed are shown as \xNN, as in the terminal view.
std::string HtmlEscape(std::string_view text);

// A plain decimal with at most `decimals` places and no trailing zeros ("12.5", "3"),
// independent of the locale. Values that are not finite count as 0.
std::string FormatNumber(double value, int decimals);

// An average of milliseconds as every table shows it: one decimal ("9.8", "16.0").
std::string FormatAverageMs(double ms);

// "1 call", "2 calls".
std::string Counted(long long n, const char* one, const char* many);

// Times of the model, made safe to draw: a value that is not finite counts as 0.
double FiniteMs(double ms);

std::string ProcessLabel(const ThreadTrack& track);  // "host.exe", "process 42", ...
std::string ThreadLabel(const ThreadTrack& track);   // "thread 17" or "thread not told"
const char* InstantKindName(CallInstant::Kind kind);

}  // namespace vxtrace
