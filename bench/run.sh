#!/usr/bin/env bash
# Build the benchmarks, time every operation, count its instructions, and
# regenerate docs/performance.md's tables and docs/performance.png.
#
#   bench/run.sh                        the full run (about five minutes)
#   BASELINE=<rev> bench/run.sh         the same, with the library of git revision
#                                       <rev> built beside this one and timed in the
#                                       same interleaved runs (about eight minutes)
#   RUNS=1 REPS=5 MIN_TIME=0.02 bench/run.sh   a quicker, noisier one
#   RUNS=3 REPS=5 bench/run.sh          the default: three runs of the binary, one
#                                       after the other, their repetitions pooled
#   FILTER=leb128 bench/run.sh          only the operations whose name matches the
#                                       regex (floors always included); prints the
#                                       goals and leaves the note as it is
#   SMOKE=1 bench/run.sh                every operation once, briefly, then the
#                                       report, one callgrind count, the Python
#                                       timing script on tiny counts and the C#
#                                       benchmarks once (bench/dotnet/run.sh): proves
#                                       it all runs (CI), measures nothing, writes no
#                                       note
#
# Run it on a machine as quiet as you can make it: every ratio compares two
# operations timed side by side, interleaved and repeated, so background load
# shifts ratios less than absolute times, but it still shows. The instruction counts do not depend on load.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-3}
reps=${REPS:-5}
min_time=${MIN_TIME:-0.1}
filter=${FILTER:-}
out=build/bench
py=python3
python3 -c 'import matplotlib' 2>/dev/null || py=/usr/bin/python3

# The baseline's sources (library, header, export list) go to a directory of
# their own outside the tree, named by commit so that a rerun reuses the build.
baseline_dir=
if [[ -n ${BASELINE:-} ]]; then
  commit=$(git rev-parse --verify "${BASELINE}^{commit}")
  baseline_dir=${TMPDIR:-/tmp}/tavbin-baseline-$commit
  if [[ ! -f $baseline_dir/src/tavbin.cpp ]]; then
    mkdir -p "$baseline_dir"
    # The list of exports lived in tests/ before it moved beside the ABI baseline.
    exports=abi/exports.txt
    git cat-file -e "$commit:$exports" 2>/dev/null || exports=tests/exports.txt
    git archive "$commit" src include "$exports" | tar -x -C "$baseline_dir"
  fi
fi

cmake --preset bench -DTAVBIN_BENCH_BASELINE="$baseline_dir" >/dev/null
cmake --build --preset bench

if [[ -n ${SMOKE:-} ]]; then
  "$out/bench/tavbin_bench" --benchmark_min_time=0.001 --benchmark_out="$out/smoke.json" \
    --benchmark_out_format=json >/dev/null
  "$py" bench/report.py "$out/smoke.json" >/dev/null
  "$py" bench/callgrind.py --driver "$out/bench/tavbin_count" read/u32_be >/dev/null
  TAVBIN_LIBRARY="$out/libbinary-read-util.so.1" PYTHONPATH=python /usr/bin/python3 bench/python_read.py \
    --count 1000 --repeat 1 >/dev/null
  TAVBIN_LIBRARY="$out/libbinary-read-util.so.1" PYTHONPATH=python /usr/bin/python3 bench/kaitai.py \
    --count 1000 --repeat 1 >/dev/null
  # The C# benchmarks: each once, and the PE export readers compared on a few DLLs.
  if command -v dotnet >/dev/null; then
    SMOKE=1 bench/dotnet/run.sh >/dev/null
  else
    echo "bench/run.sh: no .NET SDK (dotnet): the C# benchmarks did not run"
  fi
  echo "bench/run.sh: every benchmark, the report, callgrind, the Python timings and the C# benchmarks ran (nothing measured)"
  exit 0
fi
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
filter_args=()
[[ -n $filter ]] && filter_args=(--benchmark_filter="^floor/|$filter")
# A process keeps for its whole life the placement and state it started with,
# and a call's time can sit a cycle or two apart from one process to the next
# (docs/performance.md); several runs, pooled, average that out for both sides
# of every ratio alike.
jsons=()
rm -f "$out"/bench*.json
for ((i = 1; i <= runs; ++i)); do
  "$out/bench/tavbin_bench" "${filter_args[@]}" \
    --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_min_time="$min_time" \
    --benchmark_out="$out/bench-$i.json" --benchmark_out_format=json \
    --benchmark_format=console >"$out/bench-$i.txt"
  jsons+=("$out/bench-$i.json")
done
if [[ -n $filter ]]; then
  "$py" bench/report.py "${jsons[@]}"
  exit 0
fi
"$py" bench/callgrind.py --driver "$out/bench/tavbin_count" --json "$out/callgrind.json" >"$out/callgrind.txt"
baseline_note=
[[ -n $baseline_dir ]] && baseline_note=" Baseline: the library of ${BASELINE} (${commit:0:7}), built with the same flags."
context="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); \
$(g++ --version | head -1); load average at the start: $load_at_start.$baseline_note"
"$py" bench/report.py "${jsons[@]}" --callgrind "$out/callgrind.json" \
  --md docs/performance.md --png docs/performance.png --context "Run: $context"
