// vxtrace: command line parsing; "--name value" and "--name=value" both work.
#include "Options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vxtrace {

const char* const kUsage =
    "usage: vxtrace [--tree | --raw] [--summary] [options]\n"
    "Shows what the VX380 error log component (and anything else) writes to the\n"
    "debug output channel; the component's trace lines become a call tree.\n"
    "\n"
    "  --tree            show trace lines as a call tree (the default)\n"
    "  --raw             show every line as it arrives\n"
    "  --summary         at the end, per-routine calls and total/max ms; alone,\n"
    "                    only the summary is printed (a tree capture ended with\n"
    "                    Ctrl-C prints it too)\n"
    "  --socket PATH     listen on PATH (POSIX; default $VX380_DEBUG_SOCKET, else\n"
    "                    $XDG_RUNTIME_DIR/vx380-debug.sock, else /tmp/vx380-debug-UID.sock)\n"
    "  --out FILE        also record the lines, exactly as received, in FILE\n"
    "  --read FILE       render a captured file (- for standard input) instead of listening\n"
    "  --count N         stop after N messages (lines with --read)\n"
    "  --timeout S       stop listening after S seconds\n"
    "  --ascii           plain characters instead of box drawing\n"
    "  --pids            tag every line with the writing process id\n"
    "  --color WHEN      auto (colour on a terminal), always or never\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 done (also after Ctrl-C), 1 failure, 2 bad usage, 3 another\n"
    "listener holds the channel, 4 --timeout passed before --count messages came.\n";

namespace {

bool TakesValue(const std::string& name) {
  return name == "--socket" || name == "--out" || name == "--read" || name == "--count" ||
         name == "--timeout" || name == "--color" || name == "--colour";
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  bool viewGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (TakesValue(name) && !value) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!TakesValue(name) && value) {
      error = name + " takes no value";
      return false;
    }

    if (name == "--tree" || name == "--raw") {
      LineView view = name == "--tree" ? LineView::Tree : LineView::Raw;
      if (viewGiven && o.view != view) {
        error = "--tree and --raw exclude each other";
        return false;
      }
      o.view = view;
      viewGiven = true;
    } else if (name == "--summary") {
      o.summary = true;
    } else if (name == "--ascii") {
      o.ascii = true;
    } else if (name == "--pids") {
      o.tagSources = true;
    } else if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (name == "--socket") {
      o.socketPath = *value;
    } else if (name == "--out") {
      o.outFile = *value;
    } else if (name == "--read") {
      o.readFile = *value;
    } else if (name == "--count") {
      const std::string& v = *value;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), o.count);
      if (v.empty() || ec != std::errc() || end != v.data() + v.size() || o.count < 1) {
        error = "--count wants a whole number of 1 or more, not '" + v + "'";
        return false;
      }
    } else if (name == "--timeout") {
      char* end = nullptr;
      o.timeoutSeconds = std::strtod(value->c_str(), &end);
      if (value->empty() || *end != '\0' || !std::isfinite(o.timeoutSeconds) ||
          o.timeoutSeconds <= 0 || o.timeoutSeconds > 1e9) {
        error = "--timeout wants a number of seconds above 0, not '" + *value + "'";
        return false;
      }
    } else if (name == "--color" || name == "--colour") {
      if (*value == "auto") {
        o.color = ColorMode::Auto;
      } else if (*value == "always") {
        o.color = ColorMode::Always;
      } else if (*value == "never") {
        o.color = ColorMode::Never;
      } else {
        error = "--color wants auto, always or never";
        return false;
      }
    } else {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  if (o.summary && !viewGiven) o.view = LineView::None;
  if (o.readFile && !o.socketPath.empty()) {
    error = "--read and --socket exclude each other";
    return false;
  }
  return true;
}

}  // namespace vxtrace
