#!/usr/bin/env bash
# Static analysis of the library: clang-tidy with the committed .clang-tidy (every
# finding is an error; the header is checked through the source that includes it)
# and cppcheck, on src/ and include/. Uses the `lint` preset's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset lint >/dev/null
echo "--- clang-tidy"
clang-tidy --quiet -p build/lint src/tavbin.cpp
echo "--- cppcheck (C++20)"
cppcheck_opts=(--enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr -q)
cppcheck "${cppcheck_opts[@]}" --std=c++20 --language=c++ -I include src/tavbin.cpp include/tavbin.h
echo "--- cppcheck (the header as C99)"
cppcheck "${cppcheck_opts[@]}" --std=c99 --language=c include/tavbin.h
echo "lint: clean"
