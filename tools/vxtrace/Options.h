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
  bool byThread = false;
  bool ascii = false;
  bool tagSources = false;
  bool times = false;
  ColorMode color = ColorMode::Auto;
  std::string socketPath;  // "" = the component's default
  bool anyUser = false;
  bool noRing = false;                  // POSIX: do not offer the shared-memory ring
  bool fast = false;                    // Windows: offer the shared-memory ring
  std::string outFile;                  // also record every message here (JSON Lines)
  std::string chromeFile;               // write a Chrome trace-event file at the end
  std::string htmlFile;                 // write an HTML report at the end
  std::optional<std::string> readFile;  // render a capture ("-" = stdin) instead of listening
  bool follow = false;                  // with --read: wait for more at the end
  long long count = 0;                  // stop after this many messages (0 = no limit)
  double timeoutSeconds = 0;            // stop after this long (0 = no limit)
  // Filters: regexes (ECMAScript) on a line's text; process and thread choices.
  std::vector<std::string> include, exclude, highlight;
  std::vector<unsigned long> pids;
  std::vector<std::string> processes;
  bool errorsOnly = false;
  bool help = false;
  bool version = false;
};

// Fills options, or returns false with a message for standard error.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace vxtrace
