// vxtrace: the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vxtrace {

enum class LineView { None, Tree, Raw };
enum class ColorMode { Auto, Always, Never };

struct Options {
  LineView view = LineView::Tree;
  bool summary = false;
  bool ascii = false;
  bool tagSources = false;
  ColorMode color = ColorMode::Auto;
  std::string socketPath;  // "" = the component's default
  std::string outFile;     // also record the raw lines here
  std::optional<std::string> readFile;  // render a capture ("-" = stdin) instead of listening
  long long count = 0;                  // stop after this many messages (0 = no limit)
  double timeoutSeconds = 0;            // stop after this long (0 = no limit)
  bool help = false;
  bool version = false;
};

// Fills options, or returns false with a message for standard error.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace vxtrace
