#!/usr/bin/env bash
# Build the benchmarks, time every operation, count its instructions, and
# regenerate docs/performance.md's tables and docs/performance.png.
#
#   bench/run.sh                 the full run (about three minutes)
#   REPS=5 MIN_TIME=0.02 bench/run.sh   a quicker, noisier one
#
# Run it on a machine as quiet as you can make it: the ratios come from one run,
# interleaved and repeated, so background load shifts them less than absolute
# times, but it still shows. The instruction counts do not depend on load.
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${REPS:-15}
min_time=${MIN_TIME:-0.1}
out=build/bench
py=python3
python3 -c 'import matplotlib' 2>/dev/null || py=/usr/bin/python3

cmake --preset bench >/dev/null
cmake --build --preset bench
"$out/bench/tavbin_bench" \
  --benchmark_repetitions="$reps" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_min_time="$min_time" \
  --benchmark_out="$out/bench.json" --benchmark_out_format=json \
  --benchmark_format=console >"$out/bench.txt"
"$py" bench/callgrind.py --driver "$out/bench/tavbin_count" --json "$out/callgrind.json" >"$out/callgrind.txt"
context="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); \
$(g++ --version | head -1); load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
"$py" bench/report.py "$out/bench.json" --callgrind "$out/callgrind.json" \
  --md docs/performance.md --png docs/performance.png --context "Run: $context"
