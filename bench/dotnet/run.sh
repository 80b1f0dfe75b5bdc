#!/usr/bin/env bash
# Runs the C# benchmarks (a short BenchmarkDotNet job) against the module of
# build/bench, built here if it is not there, and prints the CPU they ran on.
#   bench/dotnet/run.sh [BenchmarkDotNet arguments]
set -euo pipefail
cd "$(dirname "$0")/../.."
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
[[ -f build/bench/build.ninja ]] || cmake --preset bench >/dev/null
cmake --build build/bench --target binary-read-util >/dev/null
TAVBIN_LIBRARY=$(readlink -f build/bench/libbinary-read-util.so.1)
export TAVBIN_LIBRARY
grep -m1 "model name" /proc/cpuinfo
dotnet run -c Release --project bench/dotnet --artifacts-path build/bench/dotnet -- \
  --filter '*' --job short --artifacts build/bench/dotnet/results "$@"
