// Runs the Google Benchmark detail (unless --pairs-only), then every registered pair
// interleaved, and prints each pair's median ratio with its spread and target.
//
//   vx380_bench [--pairs-only] [--rounds=N] [--calls=N] [--pairs=TEXT] [--capture[=LINES]]
//               [Google Benchmark flags]
//
// --pairs=TEXT keeps the pairs whose candidate or baseline name contains TEXT; --capture runs
// the ring capture throughput (4 processes x 2 threads x LINES lines, 1,000,000 by default).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        samples[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
    ConsoleReporter::ReportRuns(runs);
  }
  // The median over repetitions (--benchmark_repetitions) of the time per iteration.
  double Median(const std::string& name) const {
    auto it = samples.find(name);
    if (it == samples.end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  std::map<std::string, std::vector<double>> samples;
};

struct Options {
  bool pairsOnly = false;
  int rounds = 201;
  int calls = 200;
  std::string pairs;
  long captureLines = 0;
};

// Takes our own flags out of argv, leaving Google Benchmark's.
Options TakeOptions(int& argc, char** argv) {
  Options o;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) { return a.rfind(name, 0) == 0 ? a.c_str() + std::strlen(name) : nullptr; };
    if (a == "--pairs-only") o.pairsOnly = true;
    else if (const char* v = value("--rounds=")) o.rounds = std::max(1, std::atoi(v));
    else if (const char* v = value("--calls=")) o.calls = std::max(1, std::atoi(v));
    else if (const char* v = value("--pairs=")) o.pairs = v;
    else if (a == "--capture") o.captureLines = 1000000;
    else if (const char* v = value("--capture=")) o.captureLines = std::max(1L, std::atol(v));
    else argv[kept++] = argv[i];
  }
  argc = kept;
  return o;
}

void RunPairs(const Options& o) {
  std::printf("\n%d rounds x %d calls per side, interleaved; ratio = median over rounds of candidate/baseline\n",
              o.rounds, o.calls);
  std::printf("%-34s %-30s %7s %15s %15s %10s %10s %7s %7s %7s\n", "candidate", "baseline", "ratio", "p25-p75",
              "min-max", "cand ns", "base ns", "cand cs", "base cs", "target");
  for (const auto& pair : vx380::bench::Pairs()) {
    if (!o.pairs.empty() && pair.candidate.find(o.pairs) == std::string::npos &&
        pair.baseline.find(o.pairs) == std::string::npos)
      continue;
    const auto r = vx380::bench::RunPair(pair, o.rounds, o.calls);
    if (!r.skipped.empty()) {
      std::printf("%-34s %-30s skipped: %s\n", pair.candidate.c_str(), pair.baseline.c_str(), r.skipped.c_str());
      continue;
    }
    char iqr[32], range[32];
    std::snprintf(iqr, sizeof iqr, "%.3f-%.3f", r.p25, r.p75);
    std::snprintf(range, sizeof range, "%.3f-%.3f", r.min, r.max);
    std::printf("%-34s %-30s %7.3f %15s %15s %10.1f %10.1f %7.2f %7.2f %7.2f%s\n", pair.candidate.c_str(),
                pair.baseline.c_str(), r.median, iqr, range, r.candidateNs, r.baselineNs, r.candidateSwitches,
                r.baselineSwitches, pair.target, r.median <= pair.target ? "" : "  (over)");
    std::fflush(stdout);
  }
}

void PrintRatios(const CollectingReporter& reporter) {
  if (vx380::bench::Ratios().empty()) return;
  std::printf("\n%-44s %-36s %8s %8s\n", "candidate", "baseline", "ratio", "target");
  for (const auto& r : vx380::bench::Ratios()) {
    const double candidate = reporter.Median(r.candidate), baseline = reporter.Median(r.baseline);
    if (candidate <= 0 || baseline <= 0) continue;
    std::printf("%-44s %-36s %8.3f %8.2f\n", r.candidate.c_str(), r.baseline.c_str(), candidate / baseline, r.target);
  }
}
}  // namespace

namespace vx380::bench {
int RunCapture(long linesPerThread);
}

int main(int argc, char** argv) {
  const Options options = TakeOptions(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  if (options.captureLines > 0) status = vx380::bench::RunCapture(options.captureLines);
  if (!options.pairsOnly) {
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
  }
  RunPairs(options);
  benchmark::Shutdown();
  return status;
}
