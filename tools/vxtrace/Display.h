// vxtrace: what happens to each captured line: the chosen view, and the summary.
#pragma once

#include <ostream>
#include <string_view>

#include "Options.h"
#include "TraceSummary.h"
#include "TreeRenderer.h"

namespace vxtrace {

class Display {
 public:
  Display(std::ostream& out, const Options& options, bool color);

  // One message of the channel; a text of several lines is shown line by line.
  void Message(std::string_view text, unsigned long source);
  void Line(std::string_view line, unsigned long source);
  // The end of a run: prints the summary when asked for.
  void Finish(bool interrupted);

 private:
  std::ostream& out_;
  const Options& options_;
  TreeRenderer tree_;
  TraceSummary summary_;
};

}  // namespace vxtrace
