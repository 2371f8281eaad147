// Fuzz target: one datagram of the debug channel through vxtrace's line parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "TraceParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const vxtrace::TraceRecord record = vxtrace::ParseTraceLine(line);
  if (record.text != vxtrace::StripLineEnd(line)) std::abort();  // no line is lost or altered
  return 0;
}
