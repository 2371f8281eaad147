// vxtrace: command line parsing; "--name value" and "--name=value" both work.
#include "Options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <regex>

namespace vxtrace {

const char* const kUsage =
    "usage: vxtrace [--tree | --raw] [--summary] [options]\n"
    "Shows what the VX380 error log component (and anything else) writes to the\n"
    "debug output channel; the component's trace lines become a call tree per thread.\n"
    "\n"
    "View:\n"
    "  --tree            show trace lines as a call tree, one per thread (the default)\n"
    "  --raw             show every line as it arrives\n"
    "  --summary         at the end, per routine: calls, total (inclusive; a recursive\n"
    "                    routine's nested calls not counted twice), self, min, avg and\n"
    "                    max ms, sorted by self time; alone, only the summary is printed\n"
    "                    (a tree capture ended with Ctrl-C prints it too)\n"
    "  --by-thread       the summary (implies --summary), and after the whole run's\n"
    "                    table one table per thread\n"
    "  --time            start each line with its arrival, seconds after the first message\n"
    "  --pids            tag every line with its writer, [pid] or [pid/tid] (done anyway\n"
    "                    once a second writer shows up)\n"
    "  --ascii           plain characters instead of box drawing\n"
    "  --color WHEN      auto (colour on a terminal), always or never\n"
    "Filters (live and with --read; repeat an option to give several; one that\n"
    "matched no line is named on standard error at the end):\n"
    "  --include REGEX   show only lines whose text matches\n"
    "  --exclude REGEX   hide lines whose text matches; an entry hidden hides its\n"
    "                    exit too\n"
    "  --errors          show only error lines, with the routines open around them\n"
    "  --highlight REGEX mark lines whose text matches\n"
    "  --pid N           only this process (also in the summary and pictures)\n"
    "  --process NAME    only processes of this name (also in the summary and pictures)\n"
    "Capture:\n"
    "  --socket PATH     listen on PATH (POSIX; default $VX380_DEBUG_SOCKET, else the\n"
    "                    library's private per-user path). The socket is made for its\n"
    "                    user alone (0600) whatever the umask\n"
    "  --any-user        also show datagrams sent by other users (POSIX; for root\n"
    "                    watching services). Without it, datagrams whose kernel-verified\n"
    "                    sender is another user are counted, reported and not shown\n"
    "  --no-ring         POSIX: do not offer the trace ring; the socket alone\n"
    "  --fast            Windows: offer the trace ring (see below)\n"
    "  --count N         stop after N messages\n"
    "  --timeout S       stop after S seconds\n"
    "Recordings and pictures:\n"
    "  --out FILE        also record every message in FILE as JSON Lines: time, pid, tid,\n"
    "                    process name and the message whole\n"
    "  --read FILE       render a recording (- for standard input) instead of listening;\n"
    "                    plain text files of lines are read too\n"
    "  --follow          with --read, keep reading as the file grows (until Ctrl-C)\n"
    "  --chrome FILE     at the end, write Chrome trace-event JSON (Perfetto, about:tracing)\n"
    "  --html FILE       at the end, write one self-contained HTML page: flame charts per\n"
    "                    thread and the statistics\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "Who wrote a line: lines through the trace ring carry their process and thread.\n"
    "On the POSIX socket the kernel tells the sending process and user; the thread is\n"
    "known when the writer's thread has a socket of its own (the library gives one to\n"
    "each thread up to a bound). Lines from threads beyond that bound, or from ending\n"
    "threads, are known by process only and go to the process's tree.\n"
    "On Windows the debug-output protocol tells the process but not the thread: one\n"
    "tree per process for lines that do not come through the ring.\n"
    "--fast: offer a shared-memory ring; processes write there instead of the debug output, except processes with a "
    "debugger attached, which keep writing to the debugger.\n"
    "The trace ring (POSIX by default, Windows with --fast) is shared memory for the\n"
    "user alone: a process of the library writes its lines there without a system call,\n"
    "with its process, thread and time. On POSIX it is vx380-trace.ring in the private\n"
    "runtime folder (<socket>.ring with --socket or $VX380_DEBUG_SOCKET), mode 0600;\n"
    "the socket stays open for everything else. When the ring cannot be offered,\n"
    "vxtrace says why and listens on the socket alone. A writer that finds the ring\n"
    "full waits briefly, then drops the line and counts it: at the end vxtrace reports\n"
    "\"N lines dropped by writers while the ring was full\", and lines of writers that\n"
    "died while writing one. --summary adds how many lines came through the ring.\n"
    "While the output is blocked, up to 32 MiB of messages wait; messages beyond that\n"
    "are counted and reported, never silently lost. Control characters (C0, DEL, C1)\n"
    "are shown escaped; nesting deeper than 32 levels is drawn at 32 with its depth.\n"
    "\n"
    "Exit status: 0 done (also after Ctrl-C), 1 failure, 2 bad usage, 3 another\n"
    "listener (or another user) holds the channel, 4 --timeout passed before --count\n"
    "messages came.\n";

namespace {

bool TakesValue(const std::string& name) {
  for (const char* n : {"--socket", "--out", "--read", "--count", "--timeout", "--color", "--colour", "--include",
                        "--exclude", "--highlight", "--pid", "--process", "--chrome", "--html"})
    if (name == n) return true;
  return false;
}

bool SetFlag(const std::string& name, Options& o) {
  bool* flag = name == "--summary"                  ? &o.summary
               : name == "--by-thread"              ? &o.byThread
               : name == "--ascii"                  ? &o.ascii
               : name == "--pids"                   ? &o.tagSources
               : name == "--time"                   ? &o.times
               : name == "--any-user"               ? &o.anyUser
               : name == "--follow"                 ? &o.follow
               : name == "--no-ring"                ? &o.noRing
               : name == "--fast"                   ? &o.fast
               : name == "--errors"                 ? &o.errorsOnly
               : name == "--version"                ? &o.version
               : (name == "--help" || name == "-h") ? &o.help
                                                    : nullptr;
  if (flag) *flag = true;
  return flag != nullptr;
}

bool WholeNumber(const std::string& v, long long& out) {
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return !v.empty() && ec == std::errc() && end == v.data() + v.size() && out >= 1;
}

bool CheckRegex(const std::string& name, const std::string& v, std::string& error) {
  try {
    std::regex check(v);
    return true;
  } catch (const std::regex_error& e) {
    error = name + ": not a regular expression: '" + v + "' (" + e.what() + ")";
    return false;
  }
}

bool SetValue(const std::string& name, const std::string& v, Options& o, std::string& error) {
  long long number = 0;
  if (name == "--socket") o.socketPath = v;
  else if (name == "--out") o.outFile = v;
  else if (name == "--read") o.readFile = v;
  else if (name == "--chrome") o.chromeFile = v;
  else if (name == "--html") o.htmlFile = v;
  else if (name == "--process") o.processes.push_back(v);
  else if (name == "--include" || name == "--exclude" || name == "--highlight") {
    if (!CheckRegex(name, v, error)) return false;
    (name == "--include" ? o.include : name == "--exclude" ? o.exclude : o.highlight).push_back(v);
  } else if (name == "--pid") {
    if (!WholeNumber(v, number)) {
      error = "--pid wants a process id, not '" + v + "'";
      return false;
    }
    o.pids.push_back(static_cast<unsigned long>(number));
  } else if (name == "--count") {
    if (!WholeNumber(v, o.count)) {
      error = "--count wants a whole number of 1 or more, not '" + v + "'";
      return false;
    }
  } else if (name == "--timeout") {
    char* end = nullptr;
    o.timeoutSeconds = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !std::isfinite(o.timeoutSeconds) || o.timeoutSeconds <= 0 ||
        o.timeoutSeconds > 1e9) {
      error = "--timeout wants a number of seconds above 0, not '" + v + "'";
      return false;
    }
  } else if (v == "auto" || v == "always" || v == "never") {  // --color
    o.color = v == "auto" ? ColorMode::Auto : v == "always" ? ColorMode::Always : ColorMode::Never;
  } else {
    error = "--color wants auto, always or never";
    return false;
  }
  return true;
}

bool CheckCombination(const Options& o, std::string& error) {
  if (o.readFile && !o.socketPath.empty()) error = "--read and --socket exclude each other";
  else if (o.follow && !o.readFile) error = "--follow goes with --read";
  else if (o.fast && o.noRing) error = "--fast and --no-ring exclude each other";
  return error.empty();
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
    } else if (value) {
      if (!SetValue(name, *value, o, error)) return false;
    } else if (!SetFlag(name, o)) {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  if (o.byThread) o.summary = true;  // the per-thread tables follow the summary's
  if (o.summary && !viewGiven) o.view = LineView::None;
  return CheckCombination(o, error);
}

}  // namespace vxtrace
