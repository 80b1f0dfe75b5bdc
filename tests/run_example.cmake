# Runs one example program on one sample and checks its exit status and what it
# printed (stdout and stderr together). A crash is a failure either way: it is
# neither exit 0 nor exit 1.
#   -DPROGRAM=... -DSAMPLE=... -DEXPECT_FAIL=0|1 -DREGEX=... [-DEMULATOR=...]
# EMULATOR runs a cross-built program (Wine for the Windows build). Windows ends
# lines with CR LF; the patterns are written for LF.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${SAMPLE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
message("${out}${err}")
if(EXPECT_FAIL)
  set(want 1)
else()
  set(want 0)
endif()
if(NOT rc STREQUAL want)
  message(FATAL_ERROR "exit status ${rc}, expected ${want}")
endif()
if(EXPECT_FAIL AND "${err}" STREQUAL "")
  message(FATAL_ERROR "failed without a message on stderr")
endif()
string(REGEX MATCH "${REGEX}" hit "${out}${err}")
if(hit STREQUAL "")
  message(FATAL_ERROR "output does not match: ${REGEX}")
endif()
