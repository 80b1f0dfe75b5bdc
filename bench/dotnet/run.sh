#!/usr/bin/env bash
# Runs the C# benchmarks against the module of build/bench, built here if it is not
# there, and prints the CPU they ran on:
#   bench/dotnet/run.sh [BenchmarkDotNet arguments]
#       a short BenchmarkDotNet job (Program.cs: Reader.U32 against
#       BinaryReader.ReadUInt32 and the rest), then the PE export readers over the
#       binding and over BinaryPrimitives, compared and timed on every 64-bit Windows
#       DLL under PE_DIRS (PeBench.cs)
#   SMOKE=1 bench/dotnet/run.sh
#       each benchmark once, and the PE readers compared on 20 DLLs in one round:
#       proves it all builds, runs and agrees (bench/run.sh's smoke run), measures
#       nothing
set -euo pipefail
cd "$(dirname "$0")/../.."
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
[[ -f build/bench/build.ninja ]] || cmake --preset bench >/dev/null
cmake --build build/bench --target binary-read-util >/dev/null
TAVBIN_LIBRARY=$(readlink -f build/bench/libbinary-read-util.so.1)
export TAVBIN_LIBRARY
root=$PWD
pe_dirs=${PE_DIRS:-/usr/lib/x86_64-w64-mingw32 /usr/lib/x86_64-linux-gnu/wine /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32}
read -r -a pe_dirs <<<"$pe_dirs"
existing=()
for d in "${pe_dirs[@]}"; do [[ -e $d ]] && existing+=("$d"); done
if ((${#existing[@]} == 0)); then
  echo "bench/dotnet/run.sh: no DLLs to read: none of ${pe_dirs[*]} (Debian: g++-mingw-w64-x86-64, wine64)" >&2
  exit 1
fi
dotnet build -c Release bench/dotnet --artifacts-path build/bench/dotnet >/dev/null
bench=$root/build/bench/dotnet/bin/Bench/release/Bench.dll
# BenchmarkDotNet looks for the project below the current folder; the repository's
# root holds build trees whose Wine prefix links to / (build/windows).
cd bench/dotnet
if [[ -n ${SMOKE:-} ]]; then
  dotnet "$bench" smoke
  dotnet "$bench" pe --rounds 1 --limit 20 "${existing[@]}"
  exit 0
fi
grep -m1 "model name" /proc/cpuinfo
dotnet "$bench" --filter '*' --job short --artifacts "$root/build/bench/dotnet/results" "$@"
dotnet "$bench" pe "${existing[@]}"
