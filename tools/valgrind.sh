#!/usr/bin/env bash
# valgrind memcheck over the unit tests (the C++ wrapper's included) and the fuzz
# seed replays of the `default` build: any error or any leaked block, of any kind,
# fails. Then part of the Python suite on the package's compiled fast path.
#   tools/valgrind.sh   (builds the `default` preset first, if need be)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
[[ -f $build/build.ninja ]] || cmake --preset default >/dev/null
cmake --build --preset default -j2 >/dev/null # what is checked is what the sources say now
vg=(valgrind -q --error-exitcode=1 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all
    --track-origins=yes)
run() { printf -- '--- %s\n' "$*"; "${vg[@]}" "$@"; }
for t in tavbin_tests tavbin_thread_test tavbin_hpp_tests_cxx17 tavbin_hpp_tests_cxx20; do
  run "$build/tests/$t" --gtest_brief=1
done
for t in $(grep '^[a-z]' fuzz/targets.txt); do
  run "$build/fuzz/${t}_replay" -random=500 "fuzz/corpus/$t"
done
# The Python package's fast path: no invalid access from the extension while a
# representative part of the suite runs (CPython's own blocks at exit are not
# counted as leaks).
lib=$build/tests/python/lib
if compgen -G "$lib/tavbin/_speedups*.so" >/dev/null; then
  printf -- '--- the Python fast path: tests/python/test_vectors.py test_errors.py\n'
  PYTHONMALLOC=malloc TAVBIN_LIBRARY="$PWD/$build/libbinary-read-util.so.1" PYTHONPATH="$lib" \
    TAVBIN_EXPECT_ACCELERATED=1 PYTHONDONTWRITEBYTECODE=1 \
    valgrind -q --error-exitcode=1 --errors-for-leak-kinds=none --track-origins=yes \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python/test_vectors.py tests/python/test_errors.py
fi
echo "valgrind: no errors, no leaks"
