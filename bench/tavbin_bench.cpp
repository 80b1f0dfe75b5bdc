// tavbin_bench.cpp - times every operation of ops.hpp side by side in one run.
// Time per value is cpu time over items; bench/report.py turns a JSON run into ratios.
#include "ops.hpp"

#include <benchmark/benchmark.h>

int main(int argc, char **argv) {
  for (const bench::Op &op : bench::ops()) {
    benchmark::RegisterBenchmark(op.name.c_str(), [&op](benchmark::State &state) {
      for (auto _ : state)
        benchmark::DoNotOptimize(op.run());
      state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * op.items));
      state.counters["items_per_pass"] = static_cast<double>(op.items);
    });
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
