# Tests of a cross-build: GoogleTest compiled for the target, and the emulator's
# first start made at configure time rather than inside a timed test.

# The host's GoogleTest is built for the host; Debian's googletest package ships
# the sources to build it for any other target.
set(TAVBIN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
# Without those sources (Debian: googletest) there is no GoogleTest for the
# target, and the top-level CMakeLists.txt leaves the tests out.
if(EXISTS ${TAVBIN_GTEST_SOURCE_DIR}/CMakeLists.txt AND NOT CMAKE_DISABLE_FIND_PACKAGE_GTest)
  include(FetchContent)
  FetchContent_Declare(GTest SOURCE_DIR ${TAVBIN_GTEST_SOURCE_DIR} OVERRIDE_FIND_PACKAGE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  FetchContent_MakeAvailable(GTest)
  foreach(t gtest gtest_main)
    # Not our code: its warnings are not ours to fail on.
    set_target_properties(${t} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()
endif()

# A fresh Wine prefix takes several seconds to create, longer than test discovery
# waits; make it once here.
if(TAVBIN_WINE AND TAVBIN_WINEPREFIX AND NOT EXISTS "${TAVBIN_WINEPREFIX}/system.reg")
  message(STATUS "Creating the Wine prefix ${TAVBIN_WINEPREFIX}")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
                  RESULT_VARIABLE tavbin_wineboot OUTPUT_QUIET ERROR_QUIET)
  if(NOT tavbin_wineboot EQUAL 0 OR NOT EXISTS "${TAVBIN_WINEPREFIX}/system.reg")
    message(WARNING "wineboot failed (${tavbin_wineboot}): the tests may not run")
  endif()
endif()
