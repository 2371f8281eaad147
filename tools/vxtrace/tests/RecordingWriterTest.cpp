// The recording's fast writer against the reference encoder: byte for byte the same.
#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "Recording.h"
#include "RecordingWriter.h"

namespace {

using vxtrace::Message;

std::string Fast(const Message& m) {
  std::string out = "before|";
  vxtrace::AppendJsonLine(out, m);
  return out.substr(7);
}

TEST(RecordingWriter, WritesExactlyWhatTheReferenceEncoderWrites) {
  const std::string texts[] = {"RBDEBUG: plain\n",
                               "",
                               "quote \" backslash \\ tab\t cr\r lf\n",
                               std::string("controls \x01\x1f\x7f", 13),
                               std::string("nul \0 inside", 12),
                               "UTF-8 \xc3\xa9t\xc3\xa9 \xe2\x82\xac",
                               "Windows-1252 \xe9t\xe9 \x80",
                               "C1 as UTF-8 \xc2\x9b[2J",
                               std::string(70000, 'x')};
  const double times[] = {0, 1765152267.123456, 1765152267.000001, 1765152267.9999995, 0.1, 1e15, 12.5e-7};
  const std::string processes[] = {"", "vxtrace_ring_se", "h\xf6st", "a\"b"};
  for (const std::string& text : texts) {
    for (double time : times) {
      for (const std::string& process : processes) {
        for (const auto& [pid, tid] :
             {std::pair<unsigned long, unsigned long long>{4242, 4243ull << 33}, {0, 0}, {~0ul, ~0ull}}) {
          const Message m{text, time, pid, tid, process};
          EXPECT_EQ(Fast(m), vxtrace::ToJsonLine(m)) << text.substr(0, 40) << " at " << time << " from " << process;
        }
      }
    }
  }
}

TEST(RecordingWriter, KeepsTheOrderOfFastAndSlowLinesAcrossBlocks) {
  std::ostringstream out;
  std::string expected;
  {
    vxtrace::RecordingWriter writer(out);
    for (int i = 0; i < 40000; ++i) {
      // Every seventh line takes the reference encoder; the lines fill several blocks.
      const Message m{(i % 7 ? "RBDEBUG: " : "RBDEBUG: \xe9 ") + std::to_string(i) + "\n", 1.5, 1, 2, "p"};
      expected += vxtrace::ToJsonLine(m);
      writer.Add(m);
    }
    EXPECT_TRUE(writer.Flush());
  }
  EXPECT_EQ(out.str(), expected);
}

// Writers' lines interleave in a capture; each keeps its own fields, including writers that
// differ only in thread or in process name, and more writers than the writer keeps formatted.
TEST(RecordingWriter, KeepsEachWritersFieldsWhenWritersInterleave) {
  std::ostringstream out;
  std::string expected;
  {
    vxtrace::RecordingWriter writer(out);
    for (int i = 0; i < 30000; ++i) {
      const int w = (i * 7) % (i < 15000 ? 5 : 23);
      const Message m{"RBDEBUG: " + std::to_string(i) + "\n", 1765152267.25, 100ul + w % 3, 7ull + w,
                      w == 4 ? "renamed" : (w == 2 ? "h\xf6st" : "app")};
      expected += vxtrace::ToJsonLine(m);
      writer.Add(m);
    }
    EXPECT_TRUE(writer.Flush());
  }
  EXPECT_EQ(out.str(), expected);
}

}  // namespace
