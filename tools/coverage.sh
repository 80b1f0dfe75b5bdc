#!/usr/bin/env bash
# Line and branch coverage of src/tavbin.cpp and include/tavbin.hpp over the whole test suite (the
# `coverage` preset: g++ --coverage at -O0), reported by gcovr with the uncovered
# lines and branches listed. Fails below the thresholds:
#   LINE_MIN (percent, default 100) and BRANCH_MIN (percent, default 95).
# Branches the compiler adds for exceptions and ones it proves unreachable are not
# counted: the library is built without exceptions, and neither kind is a decision
# of the code.
set -euo pipefail
cd "$(dirname "$0")/.."
LINE_MIN=${LINE_MIN:-100}
BRANCH_MIN=${BRANCH_MIN:-95}
build=build/coverage

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j2
find "$build" -name '*.gcda' -delete
ctest --preset coverage -j2 >/dev/null || { ctest --preset coverage --rerun-failed --output-on-failure; exit 1; }

# Only the library's own objects and those of the C++ wrapper's tests are
# searched; the thread test needs atomic counters (-fprofile-update=atomic in the
# preset) or gcov reports negative counts.
common=(--root . --filter 'src/tavbin\.cpp' --filter 'include/tavbin\.hpp'
        --exclude-throw-branches --exclude-unreachable-branches
        "$build/CMakeFiles/binary-read-util.dir" "$build/tests/CMakeFiles/tavbin_hpp_tests_cxx17.dir"
        "$build/tests/CMakeFiles/tavbin_hpp_tests_cxx20.dir")
echo "--- lines (Missing: uncovered line numbers)"
gcovr "${common[@]}" --txt
echo "--- branches (Missing: lines with an untaken branch)"
gcovr "${common[@]}" --txt --branches
echo "--- every uncovered line and untaken branch"
gcovr "${common[@]}" --json -o "$build/coverage.json"
python3 tools/uncovered.py "$build/coverage.json"
echo "--- gate: lines >= ${LINE_MIN}%, branches >= ${BRANCH_MIN}%"
gcovr "${common[@]}" --print-summary --fail-under-line "$LINE_MIN" --fail-under-branch "$BRANCH_MIN" -o /dev/null
