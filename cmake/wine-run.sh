#!/bin/sh
# The emulator of the Windows build: runs "$@" (Wine and a program) for CTest.
# The wineserver and the Windows services Wine starts beside the first program of
# a session inherit that program's output pipe, and CTest waits for the pipe to
# close: seconds after the test, or until a timeout. So start them first, detached
# from the test's pipes; the server stays a few seconds for the next test and then
# exits, taking the services with it.
if [ -n "$WINESERVER" ] && "$WINESERVER" -p5 </dev/null >/dev/null 2>&1; then
  "$1" wineboot </dev/null >/dev/null 2>&1 || true
fi
exec "$@"
