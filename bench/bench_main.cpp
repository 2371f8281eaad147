// Runs the benchmarks, then prints each candidate's time as a ratio of its baseline from the
// same run, with the target it should stay under.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
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
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-36s %8s %8s\n", "candidate", "baseline", "ratio", "target");
  for (const auto& r : vx380::bench::Ratios()) {
    const double candidate = reporter.Median(r.candidate), baseline = reporter.Median(r.baseline);
    if (candidate <= 0 || baseline <= 0) continue;
    std::printf("%-44s %-36s %8.3f %8.2f\n", r.candidate.c_str(), r.baseline.c_str(), candidate / baseline,
                r.target);
  }
  benchmark::Shutdown();
  return 0;
}
