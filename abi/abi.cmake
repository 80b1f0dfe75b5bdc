# The ABI guard: the exported interface as libabigail describes it, kept in
# abi/binary-read-util.abi and compared with every plain g++ build.
#
#   check:  cmake -DMODE=check  -DMODULE=<.so> -DSOURCE_DIR=<tree> -DABIDIFF=<abidiff> -P abi.cmake
#   update: cmake -DMODE=update -DMODULE=<.so> -DSOURCE_DIR=<tree> -DABIDW=<abidw> -P abi.cmake
#
# Update on purpose only, after deciding that the change is wanted (and whether it
# needs a new major version): cmake --build --preset default --target update-abi
cmake_minimum_required(VERSION 3.25)
set(baseline ${SOURCE_DIR}/abi/binary-read-util.abi)
# Only what the public header declares counts: internal types never reach callers.
set(public --headers-dir ${SOURCE_DIR}/include --drop-private-types)

if(MODE STREQUAL "update")
  # No locations and no build paths: the file must come out the same from any
  # checkout, wherever it lies. Without --exported-interfaces-only abidw also
  # keeps some of the C library's declarations that the source merely sees, and
  # which of them depends on where the checkout lies.
  execute_process(COMMAND ${ABIDW} ${public} --exported-interfaces-only --no-corpus-path --no-comp-dir-path
                          --no-show-locs ${MODULE}
                  OUTPUT_VARIABLE abi RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "abidw failed (${rc})")
  endif()
  # The one path left is the source file's, as the compiler was given it.
  string(REPLACE "path='${SOURCE_DIR}/" "path='" abi "${abi}")
  file(WRITE ${baseline} "${abi}")
  message(STATUS "Wrote ${baseline}")
elseif(MODE STREQUAL "check")
  execute_process(COMMAND ${ABIDIFF} --headers-dir2 ${SOURCE_DIR}/include --drop-private-types
                          ${baseline} ${MODULE}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "The module's ABI differs from abi/binary-read-util.abi (abidiff status ${rc}). "
                        "If the change is intended, refresh the baseline: "
                        "cmake --build --preset default --target update-abi")
  endif()
  message(STATUS "ABI unchanged against abi/binary-read-util.abi")
else()
  message(FATAL_ERROR "MODE must be check or update")
endif()
