#!/usr/bin/env bash
# Formatting of every C, C++ and Python file, then static analysis of the library
# and its C++ wrapper: clang-tidy with the
# committed .clang-tidy (every finding is an error; a header is checked through a
# source that includes it: tavbin.h through src/tavbin.cpp, tavbin.hpp through
# tests/header_hpp.cpp, which uses every template of it) and cppcheck, on src/
# and include/. Uses the `lint` preset's compile commands for the library.
set -euo pipefail
cd "$(dirname "$0")/.."

# Formatting first: every C and C++ file as .clang-format says, every Python file
# as black says at the same width. A file that is not formatted fails the lint.
echo "--- clang-format"
git ls-files -z '*.c' '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run --Werror
echo "--- black"
git ls-files -z '*.py' | xargs -0 black --check --quiet --line-length 110
cmake --preset lint >/dev/null
echo "--- clang-tidy"
clang-tidy --quiet -p build/lint src/tavbin.cpp
echo "--- clang-tidy (tavbin.hpp, C++17 without exceptions)"
clang-tidy --quiet tests/header_hpp.cpp -- -std=c++17 -fno-exceptions -I include
echo "--- cppcheck (C++20)"
cppcheck_opts=(--enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr -q)
cppcheck "${cppcheck_opts[@]}" --std=c++20 --language=c++ -I include src/tavbin.cpp include/tavbin.h
echo "--- cppcheck (tavbin.hpp, C++17)"
cppcheck "${cppcheck_opts[@]}" --std=c++17 --language=c++ -I include tests/header_hpp.cpp include/tavbin.hpp
echo "--- cppcheck (the header as C99)"
cppcheck "${cppcheck_opts[@]}" --std=c99 --language=c include/tavbin.h
echo "lint: clean"
