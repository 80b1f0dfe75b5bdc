#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset) and runs each for a bounded time,
# starting from the committed seeds. Any finding fails the run; its input is left in
# build/fuzz-work/ as <target>-crash-*, to be added to corpus/<target>/ with its fix.
#   fuzz/run.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
work=build/fuzz-work
# The sanitizers' runtime options are the test presets' (`asan-ubsan` in
# CMakePresets.json): a preset gives its environment to CMake and CTest, not to
# this script.
options=$(python3 - <<'EOF'
import json, shlex
preset = next(p for p in json.load(open("CMakePresets.json"))["configurePresets"] if p["name"] == "asan-ubsan")
for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
    print(f"export {name}={shlex.quote(preset['environment'][name])}")
EOF
)
eval "$options"
failed=0
for t in $(grep '^[a-z]' fuzz/targets.txt); do
  mkdir -p "$work/$t"
  find "$work" -maxdepth 1 -type f -name "$t-*" -delete
  printf -- '--- %s: %ss\n' "$t" "$seconds"
  # New inputs go to the scratch directory; the committed seeds stay as they are.
  rc=0
  "build/fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix="$work/$t-" "$work/$t" "fuzz/corpus/$t" >"$work/$t.log" 2>&1 || rc=$?
  grep -E '^(Done|stat::number_of_executed_units)|^==[0-9]+==ERROR|^SUMMARY|check failed' "$work/$t.log" || true
  found=$(find "$work" -maxdepth 1 -type f -name "$t-*")
  if ((rc != 0)) || [[ -n $found ]]; then
    echo "fuzz/run.sh: $t failed (exit $rc); input: ${found:-none}; log: $work/$t.log" >&2
    failed=1
  fi
done
exit $failed
