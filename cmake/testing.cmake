# Tests that need something the machine may lack.
#
#   tavbin_add_test(NAME <name> NEEDS <variable>... WHY <what is missing>
#                   COMMAND <command> [<arg>...] [WORKING_DIRECTORY <dir>])
#
# Registers the test as add_test() would when every NEEDS variable is true (a
# find_program() result, a <Package>_FOUND, a check of your own). When one is
# false it registers a stand-in of the same name instead, which CTest reports as
# skipped with "skipped: needs <WHY>". So every machine registers the same tests,
# and a missing tool shows in each test run rather than a test silently vanishing.
# Name the package in WHY: "abidiff (Debian: abigail-tools)".
#
# Set properties afterwards with set_tests_properties() as usual; they do no harm
# on a stand-in. Give the tests of one missing tool the same NEEDS, fixtures
# included. A need known only when the test runs (a Python module in the
# interpreter found, say) is the test's own to detect: let it exit with a code of
# its choosing and set that as the test's SKIP_RETURN_CODE.
#
# tavbin_report_skipped_tests(), called once after all tests are registered, sums
# up the stand-ins in one configure message.

function(tavbin_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;WHY;WORKING_DIRECTORY" "NEEDS;COMMAND")
  if(NOT arg_NAME OR NOT arg_COMMAND OR NOT arg_NEEDS OR NOT arg_WHY)
    message(FATAL_ERROR "tavbin_add_test needs NAME, NEEDS, WHY and COMMAND")
  endif()
  foreach(need IN LISTS arg_NEEDS)
    if(NOT ${need})
      add_test(NAME ${arg_NAME} COMMAND ${CMAKE_COMMAND} -E echo "skipped: needs ${arg_WHY}")
      set_tests_properties(${arg_NAME} PROPERTIES SKIP_REGULAR_EXPRESSION "^skipped: ")
      set_property(GLOBAL APPEND PROPERTY TAVBIN_SKIPPED_TESTS "${arg_WHY}|${arg_NAME}")
      return()
    endif()
  endforeach()
  if(arg_WORKING_DIRECTORY)
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  else()
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
  endif()
endfunction()

function(tavbin_report_skipped_tests)
  get_property(skipped GLOBAL PROPERTY TAVBIN_SKIPPED_TESTS)
  if(NOT skipped)
    return()
  endif()
  set(whys "")
  foreach(entry IN LISTS skipped)
    string(REGEX REPLACE "\\|.*" "" why "${entry}")
    list(APPEND whys "${why}")
  endforeach()
  list(REMOVE_DUPLICATES whys)
  set(text "")
  foreach(why IN LISTS whys)
    set(names "")
    foreach(entry IN LISTS skipped)
      if(entry MATCHES "^(.*)\\|(.*)$" AND CMAKE_MATCH_1 STREQUAL why)
        list(APPEND names ${CMAKE_MATCH_2})
      endif()
    endforeach()
    list(JOIN names ", " names)
    string(APPEND text "\n   ${why}: ${names}")
  endforeach()
  message(STATUS "Tests registered as skipped, for want of:${text}")
endfunction()
