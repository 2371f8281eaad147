// Runs the benchmarks, then prints each candidate's time as a ratio of its baseline from the
// same run, with the target it should stay under.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

#include "BenchSupport.h"

namespace {
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        perIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
};
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-36s %8s %8s\n", "candidate", "baseline", "ratio", "target");
  for (const auto& r : vx380::bench::Ratios()) {
    auto c = reporter.perIteration.find(r.candidate);
    auto b = reporter.perIteration.find(r.baseline);
    if (c == reporter.perIteration.end() || b == reporter.perIteration.end() || b->second <= 0) continue;
    std::printf("%-44s %-36s %8.3f %8.2f\n", r.candidate.c_str(), r.baseline.c_str(), c->second / b->second,
                r.target);
  }
  benchmark::Shutdown();
  return 0;
}
