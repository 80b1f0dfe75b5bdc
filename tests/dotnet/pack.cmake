# The NuGet package end to end: cross-builds the Windows module, packs the binding
# with both modules, checks the package's files, then restores it from a local
# folder feed into a console program and runs that on this machine.
#
#   cmake -DSOURCE_DIR=... -DWORK=... -DLINUX_MODULE=... -DVERSION=... -DDOTNET=...
#         -P pack.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

unset(ENV{TAVBIN_LIBRARY}) # the program must find the package's own module

# The Windows module, as the windows preset builds it: the library alone.
if(NOT EXISTS ${WORK}/windows/CMakeCache.txt)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK}/windows -G Ninja
      --toolchain ${SOURCE_DIR}/cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DTAVBIN_BUILD_TESTS=OFF -DTAVBIN_BUILD_EXAMPLES=OFF)
endif()
run(${CMAKE_COMMAND} --build ${WORK}/windows --target binary-read-util)
set(dll ${WORK}/windows/bin/binary-read-util.dll)
if(NOT EXISTS ${dll})
  message(FATAL_ERROR "the Windows build made no ${dll}")
endif()

# The Linux module under the name the runtime looks for (NuGet takes a file's name
# from its path only when the extensions agree).
file(REMOVE_RECURSE ${WORK}/feed ${WORK}/unpacked ${WORK}/packages ${WORK}/linux)
file(MAKE_DIRECTORY ${WORK}/linux)
file(COPY_FILE ${LINUX_MODULE} ${WORK}/linux/libbinary-read-util.so)
run(${DOTNET} pack ${SOURCE_DIR}/dotnet/Tavbin.csproj -c Release --artifacts-path ${WORK}/artifacts
    -o ${WORK}/feed -p:TavbinWinX64=${dll} -p:TavbinLinuxX64=${WORK}/linux/libbinary-read-util.so)
set(nupkg ${WORK}/feed/Tavbin.${VERSION}.nupkg)
if(NOT EXISTS ${nupkg})
  file(GLOB made ${WORK}/feed/*)
  message(FATAL_ERROR "expected ${nupkg}, got: ${made}")
endif()

# Every target's assembly, both modules, the .NET Framework copy step.
file(MAKE_DIRECTORY ${WORK}/unpacked)
run(${CMAKE_COMMAND} -E chdir ${WORK}/unpacked ${CMAKE_COMMAND} -E tar xf ${nupkg})
foreach(f lib/netstandard2.0/Tavbin.dll lib/net8.0/Tavbin.dll
          runtimes/win-x64/native/binary-read-util.dll runtimes/linux-x64/native/libbinary-read-util.so
          build/net461/Tavbin.targets buildTransitive/net461/Tavbin.targets Tavbin.nuspec)
  if(NOT EXISTS ${WORK}/unpacked/${f})
    message(FATAL_ERROR "${nupkg} lacks ${f}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -E compare_files ${dll} ${WORK}/unpacked/runtimes/win-x64/native/binary-read-util.dll)
run(${CMAKE_COMMAND} -E compare_files ${LINUX_MODULE} ${WORK}/unpacked/runtimes/linux-x64/native/libbinary-read-util.so)
file(READ ${WORK}/unpacked/Tavbin.nuspec nuspec)
if(NOT nuspec MATCHES "<version>${VERSION}</version>")
  message(FATAL_ERROR "the package's version is not ${VERSION}:\n${nuspec}")
endif()
message(STATUS "${nupkg}: every assembly, both modules, the .NET Framework targets")

# A program that takes it from the feed (its own packages folder, so no earlier
# package of the same version is taken from a cache).
run(${DOTNET} build ${SOURCE_DIR}/tests/dotnet/consumer/Consumer.csproj -c Release
    --artifacts-path ${WORK}/consumer --source ${WORK}/feed --packages ${WORK}/packages -p:TavbinVersion=${VERSION})
file(GLOB_RECURSE program ${WORK}/consumer/bin/Consumer.dll)
run(${DOTNET} ${program})
message(STATUS "the program: ${out}")
if(NOT out MATCHES "loaded [^\n]*/runtimes/linux-x64/native/libbinary-read-util.so")
  message(FATAL_ERROR "the program did not load the package's module")
endif()

# An explicit TAVBIN_LIBRARY is obeyed or refused, never replaced by the package's copy.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TAVBIN_LIBRARY=${WORK}/no-such-module.so ${DOTNET} ${program}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(code EQUAL 0 OR NOT out MATCHES "TAVBIN_LIBRARY names ${WORK}/no-such-module.so, which does not load")
  message(FATAL_ERROR "a TAVBIN_LIBRARY that does not load was not refused (${code}):\n${out}")
endif()
message(STATUS "a TAVBIN_LIBRARY that does not load is refused, naming it")
