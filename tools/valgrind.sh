#!/usr/bin/env bash
# valgrind memcheck over the unit tests and the fuzz seed replays of the `default`
# build: any error or any leaked block, of any kind, fails.
#   tools/valgrind.sh   (after `cmake --workflow --preset default`, or it builds first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
[[ -x $build/tests/tavbin_tests ]] || { cmake --preset default >/dev/null && cmake --build --preset default -j2; }
vg=(valgrind -q --error-exitcode=1 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all
    --track-origins=yes)
run() { printf -- '--- %s\n' "$*"; "${vg[@]}" "$@"; }
run "$build/tests/tavbin_tests" --gtest_brief=1
run "$build/tests/tavbin_thread_test" --gtest_brief=1
for t in reader roundtrip bits; do
  run "$build/fuzz/${t}_replay" -random=500 "fuzz/corpus/$t"
done
echo "valgrind: no errors, no leaks"
