# The C# binding's tests on 64-bit Windows .NET, under Wine: publishes
# tests/dotnet/wine/WineTests.csproj (the binding's sources, the test files and
# WineRunner.cs) self-contained for win-x64, puts the build's DLL beside it, and
# runs it with the same arguments the Mono run takes.
#
#   cmake -DSOURCE_DIR=... -DWORK=... -DDLL=... -DDECLARATIONS=... -DDOTNET=...
#         -DEMULATOR=<wine command> -P wine.cmake
#
# The runtime comes from the runtime pack for win-x64 (restored from the registry
# on the first run, then from NuGet's cache). The program runs without
# TAVBIN_LIBRARY, so the binding finds the DLL as a Windows program does: in the
# folder of the assembly that declares the imports.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(publish ${WORK}/publish)
file(REMOVE_RECURSE ${publish})
run(${DOTNET} publish ${SOURCE_DIR}/tests/dotnet/wine/WineTests.csproj -c Release -r win-x64 --self-contained
    --artifacts-path ${WORK}/artifacts -o ${publish})
file(COPY_FILE ${DLL} ${publish}/binary-read-util.dll)
foreach(f TavbinTests.exe TavbinTests.dll coreclr.dll System.Private.CoreLib.dll)
  if(NOT EXISTS ${publish}/${f})
    message(FATAL_ERROR "the self-contained publish lacks ${f}")
  endif()
endforeach()

# Wine's loader hands every IL-only image that is loaded as a library to its own
# mscoree.dll, so the emulator's override that turns mscoree off (it keeps Wine from
# offering to install its Mono) would fail .NET's first assembly load.
string(REPLACE "WINEDLLOVERRIDES=mscoree,mshtml=" "WINEDLLOVERRIDES=mshtml=" EMULATOR "${EMULATOR}")

# Windows paths of the host's files, through the drive Wine maps the root to.
set(args Z:${SOURCE_DIR}/abi/exports.txt Z:${DECLARATIONS} Z:${publish}/binary-read-util.dll
    Z:${SOURCE_DIR}/tests/vectors/record.txt)
# The output goes to a file, not a pipe: the wineserver keeps the handles of a
# program that has exited open for a while (or, with services still running, for
# good), and a pipe would hold this run until its timeout.
set(log ${WORK}/wine-run.log)
execute_process(COMMAND /usr/bin/env -u TAVBIN_LIBRARY -u TAVBIN_VECTORS -u TAVBIN_MODULE_NAME
                        DOTNET_CLI_TELEMETRY_OPTOUT=1 ${EMULATOR} ${publish}/TavbinTests.exe ${args}
                WORKING_DIRECTORY ${WORK} INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log}
                TIMEOUT 600 RESULT_VARIABLE code)
file(READ ${log} out)
message("${out}")
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the tests failed under Wine (${code})")
endif()
if(NOT out MATCHES "\n[1-9][0-9]* passed, 0 failed, [0-9]+ skipped")
  message(FATAL_ERROR "the runner's summary is missing or not all passed")
endif()
