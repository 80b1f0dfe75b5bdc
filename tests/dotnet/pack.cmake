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

# Each module under a name of its own: the Linux one as the build names it
# (libbinary-read-util.so.1, the name docs/csharp.md packs it by), the DLL under one
# the package must not keep. The package stores both under the names the runtime
# looks for.
file(REMOVE_RECURSE ${WORK}/feed ${WORK}/unpacked ${WORK}/packages ${WORK}/named)
file(MAKE_DIRECTORY ${WORK}/named)
get_filename_component(linux_dir ${LINUX_MODULE} DIRECTORY)
set(linux_given ${linux_dir}/libbinary-read-util.so.1)
if(NOT EXISTS ${linux_given})
  set(linux_given ${LINUX_MODULE})
endif()
file(COPY_FILE ${dll} ${WORK}/named/tavbin-win64-build.dll)
run(${DOTNET} pack ${SOURCE_DIR}/dotnet/Tavbin.csproj -c Release --artifacts-path ${WORK}/artifacts
    -o ${WORK}/feed -p:TavbinWinX64=${WORK}/named/tavbin-win64-build.dll -p:TavbinLinuxX64=${linux_given})
set(nupkg ${WORK}/feed/Tavbin.${VERSION}.nupkg)
if(NOT EXISTS ${nupkg})
  file(GLOB made ${WORK}/feed/*)
  message(FATAL_ERROR "expected ${nupkg}, got: ${made}")
endif()

# Every target's assembly and its documentation, both modules, the .NET Framework
# copy step, the readme; each a file, nothing else under runtimes/.
file(MAKE_DIRECTORY ${WORK}/unpacked)
run(${CMAKE_COMMAND} -E chdir ${WORK}/unpacked ${CMAKE_COMMAND} -E tar xf ${nupkg})
set(native runtimes/linux-x64/native/libbinary-read-util.so runtimes/win-x64/native/binary-read-util.dll)
foreach(f lib/netstandard2.0/Tavbin.dll lib/net8.0/Tavbin.dll lib/netstandard2.0/Tavbin.xml lib/net8.0/Tavbin.xml
          ${native} build/net461/Tavbin.targets buildTransitive/net461/Tavbin.targets README.md Tavbin.nuspec)
  if(NOT EXISTS ${WORK}/unpacked/${f} OR IS_DIRECTORY ${WORK}/unpacked/${f})
    message(FATAL_ERROR "${nupkg} lacks the file ${f}")
  endif()
endforeach()
file(GLOB_RECURSE stored LIST_DIRECTORIES false RELATIVE ${WORK}/unpacked ${WORK}/unpacked/runtimes/*)
list(SORT stored)
if(NOT stored STREQUAL "${native}")
  message(FATAL_ERROR "runtimes/ holds ${stored}, not ${native}")
endif()
run(${CMAKE_COMMAND} -E compare_files ${dll} ${WORK}/unpacked/runtimes/win-x64/native/binary-read-util.dll)
run(${CMAKE_COMMAND} -E compare_files ${LINUX_MODULE} ${WORK}/unpacked/runtimes/linux-x64/native/libbinary-read-util.so)
# The documentation IntelliSense shows: a member's summary, from each target's build.
foreach(tfm netstandard2.0 net8.0)
  file(READ ${WORK}/unpacked/lib/${tfm}/Tavbin.xml doc)
  if(NOT doc MATCHES "<member name=\"T:Tavbin.Reader\">[ \r\n]*<summary>")
    message(FATAL_ERROR "lib/${tfm}/Tavbin.xml does not document Tavbin.Reader")
  endif()
endforeach()
file(READ ${WORK}/unpacked/Tavbin.nuspec nuspec)
if(NOT nuspec MATCHES "<version>${VERSION}</version>" OR NOT nuspec MATCHES "<readme>README.md</readme>")
  message(FATAL_ERROR "the package's version is not ${VERSION}, or it names no readme:\n${nuspec}")
endif()
message(STATUS "${nupkg}: every assembly and its documentation, both modules as files, the .NET Framework targets, the readme")

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
